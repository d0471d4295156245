// The picture tour of the first start: seven pictures ("image00" ... "image06"), one at a time,
// each with its caption ("manual-caption", over the band at the picture's foot), with a row of page markers
// ("page00" ... "page06") and "nextBtn". It moves on by itself every three seconds, from the last picture
// back to the first; a marker shows its picture at once and "nextBtn" the next one, and both start the three
// seconds again. Once the tour is closed, "user-manual" is 1 and it is not shown again. Window thread only.
#pragma once

#include <QList>
#include <QTimer>

#include "ui/dialogs/SkinDialog.h"

class QAbstractButton;
class QLabel;

namespace tw {

class UserManualDialog : public SkinDialog {
  Q_OBJECT
 public:
  static constexpr int kPageCount = 7;
  static constexpr int kAdvanceTimerId = 1624;
  static constexpr int kAdvancePeriodMs = 3000;

  explicit UserManualDialog(QWidget* owner);
  ~UserManualDialog() override;

  QString GetSkinFile() const override { return QStringLiteral("UserManualDialog.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("CheckBoxDialog"); }

  // At start-up: shows the tour over owner, modal for the application but without blocking the
  // caller, when "user-manual" reads 0. The tour, or null when it is not due or cannot be built.
  static UserManualDialog* ShowAtFirstStart(QWidget* owner);

  int CurrentPage() const { return current_; }
  // The caption of picture index (0 ... kPageCount - 1): "1/7  " and its words.
  static QString Caption(int index);
  // The advance step of the timer: hides every picture and shows the next one (the first after
  // the last) with its marker.
  void Advance();
  const QTimer& AdvanceTimer() const { return timer_; }

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;
  void done(int result) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ShowPage(int index);
  // Stores "user-manual" = 1 once, when a tour that was shown goes.
  void MarkSeen();

  QList<QWidget*> images_;
  QList<QAbstractButton*> markers_;
  QLabel* caption_ = nullptr;
  QAbstractButton* nextBtn_ = nullptr;
  QAbstractButton* closeButton_ = nullptr;
  QTimer timer_;  // the advance timer, id kAdvanceTimerId
  int current_ = 0;
  bool selecting_ = false;  // the step selects a marker itself: that is no pick of the user's
  bool shown_ = false;
  bool marked_ = false;
};

}  // namespace tw
