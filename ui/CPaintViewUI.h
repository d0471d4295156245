// The waveform view of the cut page ("PaintView" in MainWindow.xml, found as "paint-view"):
// a file's waveform above a time ruler, the play cursor and the two markers that choose the
// stretch to keep. Mouse gestures become messages to the owner's sink (WM_CUT_START ...
// WM_WAVE_CLICK, seconds in a SecondsRecord); the owner writes the total time, the play time
// and the marker times through Model(). The wheel zooms around the pointer (with Shift it
// scrolls); a zoomed view whose overview values are coarser than its pixels asks for the real
// values of its stretch and draws them once they arrive. Local files dropped on it go to the
// drop handler.
//
// Owns the waveform reader (one at a time; LoadWave replaces it, the destructor aborts and
// waits for it) and the stretch reader, whose answers come back to the view itself. Window
// thread only; the readers' threads only post.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/MessageSink.h"
#include "media/PcmWave.h"
#include "media/WaveStretch.h"
#include "ui/WaveViewModel.h"

class QMimeData;

namespace tw {

class WindowPort;

class CPaintViewUI : public QWidget {
  Q_OBJECT
 public:
  explicit CPaintViewUI(QWidget* parent = nullptr);
  ~CPaintViewUI() override;

  // Registers this class as the skin's "PaintView".
  static void RegisterDefault();
  static QString GetClass() { return QStringLiteral("PaintView"); }

  // Receives the view's messages and the reader's progress; must outlive the reader.
  void SetOwner(MessageSink* owner) { owner_ = owner; }
  void SetDropHandler(std::function<void(const QStringList& paths)> handler) { onDrop_ = std::move(handler); }

  void ResetView();
  void SetTotalTime(double seconds);
  // Repaints soon.
  void Refresh();
  // Replaces the reader (the old one is aborted and waited for, pump served meanwhile) and
  // starts reading the file: 0 when loading has started.
  int LoadWave(const std::string& pathUtf8, const MessagePump& pump = {});

  WaveViewModel& Model() { return model_; }
  const WaveViewModel& Model() const { return model_; }
  // The current reader, or null before the first load.
  const PcmWave* Reader() const { return reader_.get(); }
  // The reader of the current file is still at work (opened, not done, threads running).
  bool Loading() const;
  // The control's rectangle in its own coordinates.
  WaveGeometry Geometry() const;

  // Zoom and scroll, as the wheel, the buttons and the keys do; each emits visibleChanged
  // when the stretch in view changes.
  void ZoomBy(double factor);  // around the middle of the axis
  void ZoomFit();
  void ScrollTo(double startSec);
  // Scrolls a zoomed view to show t.
  void EnsureVisible(double t);
  // The real values of the stretch in view have arrived (or the overview is fine enough).
  bool ShowsRealValues() const;
  // The stretch values last received; empty before any.
  const WaveEnvelope& Detail() const { return detail_; }

 signals:
  void visibleChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void Post(const std::vector<WaveEvent>& events);
  void UpdateCursor(int x, int y);
  // After the stretch in view changed: repaint, ask for its values when needed, tell the page.
  void VisibleChanged();
  // Asks for the values of the stretch in view when neither the overview, the values at hand
  // nor those on their way are fine enough for its pixels.
  void RequestDetail();
  const WaveEnvelope* Overview() const;

  WaveViewModel model_;
  MessageSink* owner_ = nullptr;
  std::unique_ptr<PcmWave> reader_;
  std::string path_;
  WindowPort* port_ = nullptr;  // brings the stretch reader's answers back to this view
  std::unique_ptr<WaveStretchReader> stretch_;
  WaveEnvelope detail_;
  const WaveEnvelope* gainFor_ = nullptr;  // the overview the model's gain was taken from
  std::uint64_t asked_ = 0;                // the request whose answer is awaited, 0 for none
  WaveSpan askedSpan_;
  double askedPerBucket_ = 0;
  std::function<void(const QStringList&)> onDrop_;
};

// The local files (not folders) among dropped URLs.
QStringList DroppedLocalFiles(const QMimeData* mime);

}  // namespace tw
