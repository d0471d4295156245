#include "ui/pages/ListRows.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>

#include "tasks/FailureReason.h"
#include "tasks/TaskRecords.h"
#include "ui/ElidedText.h"
#include "ui/NotifyAdapter.h"
#include "ui/Skin.h"
#include "ui/Translator.h"

namespace tw {

namespace {
// The action button's own text, kept while it offers the cancel or the retry.
constexpr const char* kOwnText = "ownText";
// Set on a row whose last job gave its result.
constexpr const char* kDoneMark = "jobDone";

QAbstractButton* ActionButton(QWidget* row, const RowSpec& spec) {
  return row && *spec.actionButton ? row->findChild<QAbstractButton*>(spec.actionButton) : nullptr;
}

void SetActionText(QWidget* row, const RowSpec& spec, const QString& text) {
  QAbstractButton* button = ActionButton(row, spec);
  if (!button) return;
  if (!button->property(kOwnText).isValid()) button->setProperty(kOwnText, button->text());
  button->setText(text.isEmpty() ? button->property(kOwnText).toString() : text);
  SetMouseEnabled(button, true);
}

// Convert rows: the progress with its label, or the error label in their place.
void ShowProgressParts(QWidget* row, bool progress) {
  QWidget* container = row->findChild<QWidget*>("progress-container");
  QWidget* error = row->findChild<QWidget*>("errorLabel");
  if (!container || !error) return;
  container->setVisible(progress);
  if (QWidget* label = row->findChild<QWidget*>("progress-label")) label->setVisible(progress);
  error->setVisible(!progress);
}

// failed: the label takes the look of a failure (the skin styles it by the property "state").
void SetRowLabel(QWidget* row, const QString& text, const QString& tip = QString(), bool failed = false) {
  if (auto* label = row->findChild<QLabel*>("progress-label")) {
    label->setText(text);
    label->setToolTip(PlainToolTip(tip));
    if (label->property("state").toString() != (failed ? "failed" : "")) {
      label->setProperty("state", failed ? "failed" : "");
      label->style()->unpolish(label);
      label->style()->polish(label);
    }
  }
  row->setToolTip(PlainToolTip(tip));
}

void SetBar(QWidget* row, const RowSpec& spec, int percent) {
  if (!*spec.progressName) return;
  if (auto* bar = row->findChild<QProgressBar*>(spec.progressName)) bar->setValue(percent);
}

// Removes the item at index and destroys its row widget at once, so that a message handled
// right afterwards cannot find the row any more.
void TakeRow(QListWidget* list, int index) {
  QPointer<QWidget> row = RowAt(list, index);
  list->removeItemWidget(list->item(index));
  delete list->takeItem(index);
  delete row.data();
}
}  // namespace

const std::vector<RowSpec>& RowSpecs() {
  static const std::vector<RowSpec> specs = {
      {OperationKind::Cut, "audio-cut-list", "VideoListContainerElement.xml", "exportBtn", "listMenuBtn", "cut-progress"},
      {OperationKind::Record, "audio-record-list", "RecorderListContainerElement.xml", "recorderCutBtn",
       "recorderListMenuBtn", ""},
      {OperationKind::Convert, "audio-convert-list", "ConvertListContainerElement.xml", "convertBtn",
       "convertListMenuBtn", "convert-progress"},
      {OperationKind::Merge, "audio-merge-list", "MergeListContainerElement.xml", "", "mergeListMenuBtn", ""},
      {OperationKind::Speed, "audio-speed-list", "SpeedListContainerElement.xml", "speedBtn", "speedListMenuBtn",
       "speed-progress"},
      {OperationKind::Extract, "audio-extract-list", "ExtractListContainerElement.xml", "extractBtn",
       "extractListMenuBtn", "extract-progress"},
      {OperationKind::Noise, "audio-noise-list", "NoiseListContainerElement.xml", "noiseBtn", "noiseListMenuBtn",
       "noise-progress"},
      {OperationKind::Volume, "audio-volume-list", "VolumeListContainerElement.xml", "volumeBtn", "volumeListMenuBtn",
       "volume-progress"},
      {OperationKind::BgMusic, "audio-bg-music-list", "BgMusicListContainerElement.xml", "bgMusicBtn",
       "bgMusicListMenuBtn", "bg-music-progress"},
  };
  return specs;
}

const RowSpec* FindRowSpec(OperationKind kind) {
  for (const auto& spec : RowSpecs())
    if (spec.kind == kind) return &spec;
  return nullptr;
}

QStringList RowControlNames(const RowSpec& spec) {
  QStringList names = {"fileNameLabel", "durationLabel", spec.menuButton};
  if (*spec.actionButton) names << spec.actionButton;
  if (*spec.progressName) names << spec.progressName << "progress-label";
  names << "fileSizeLabel";
  if (spec.kind == OperationKind::Merge) names << "moveUpBtn" << "moveDownBtn";
  if (spec.kind == OperationKind::Convert) names << "progress-container" << "errorLabel";
  return names;
}

QString RowControlName(int taskId) { return QString::fromStdString(RowName(taskId)); }

QWidget* MakeRow(const RowSpec& spec, int taskId, NotifyAdapter* notify, QString* error) {
  QWidget* row = Skin::Load(spec.rowLayout, nullptr, error);
  if (!row) return nullptr;
  row->setObjectName(RowControlName(taskId));
  SetTag(row, taskId);
  for (const char* name : {spec.actionButton, spec.menuButton, "moveUpBtn", "moveDownBtn"}) {
    if (QWidget* button = *name ? row->findChild<QWidget*>(name) : nullptr) SetTag(button, taskId);
  }
  if (notify) notify->Attach(row);
  return row;
}

void AppendRow(QListWidget* list, QWidget* row) {
  auto* item = new QListWidgetItem(list);
  item->setSizeHint(QSize(0, std::max(row->minimumHeight(), row->sizeHint().height())));
  list->setItemWidget(item, row);
}

int RowCount(const QListWidget* list) { return list ? list->count() : 0; }

QWidget* RowAt(const QListWidget* list, int index) {
  if (!list || index < 0 || index >= list->count()) return nullptr;
  return list->itemWidget(list->item(index));
}

int RowIndex(const QListWidget* list, int taskId) {
  const QString name = RowControlName(taskId);
  for (int i = 0; i < RowCount(list); ++i) {
    QWidget* row = RowAt(list, i);
    if (row && row->objectName() == name) return i;
  }
  return -1;
}

QWidget* FindRow(const QListWidget* list, int taskId) { return RowAt(list, RowIndex(list, taskId)); }

bool RemoveRow(QListWidget* list, int taskId) {
  const int index = RowIndex(list, taskId);
  if (index < 0) return false;
  TakeRow(list, index);
  return true;
}

void RemoveAllRows(QListWidget* list) {
  if (!list) return;
  while (list->count() > 0) TakeRow(list, list->count() - 1);
}

void SelectLastRow(QListWidget* list) {
  if (!list || list->count() == 0) return;
  list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
  list->setCurrentRow(list->count() - 1);
}

void SetRowTexts(QWidget* row, const QString& fileName, const QString& sizeText, const QString& durationText,
                 const QString& fullPath) {
  if (!row) return;
  if (auto* l = row->findChild<QLabel*>("fileNameLabel")) SetElidedText(l, fileName, fullPath);
  if (auto* l = row->findChild<QLabel*>("fileSizeLabel")) l->setText(sizeText);
  if (auto* l = row->findChild<QLabel*>("durationLabel")) l->setText(durationText);
}

QString PercentText(int percent) { return QStringLiteral("%1%").arg(percent); }

void SetRowProgress(QWidget* row, const char* progressName, int percent) {
  if (!row) return;
  if (auto* bar = row->findChild<QProgressBar*>(progressName)) bar->setValue(std::clamp(percent, 0, 100));
  if (auto* label = row->findChild<QLabel*>("progress-label")) label->setText(PercentText(percent));
}

}  // namespace tw

namespace tw {

void ShowRowWaiting(QWidget* row, const RowSpec& spec) {
  if (!row) return;
  row->setProperty(kDoneMark, false);
  ShowProgressParts(row, true);
  SetBar(row, spec, 0);
  SetRowLabel(row, QCoreApplication::translate("ListRows", kRowWaitingText));
  SetActionText(row, spec, QCoreApplication::translate("ListRows", kRowCancelText));
}

void ShowRowRunning(QWidget* row, const RowSpec& spec) {
  if (!row) return;
  row->setProperty(kDoneMark, false);
  ShowProgressParts(row, true);
  SetBar(row, spec, 0);
  SetRowLabel(row, PercentText(0));
  SetActionText(row, spec, QCoreApplication::translate("ListRows", kRowCancelText));
}

void ShowRowDone(QWidget* row, const RowSpec& spec, const QString& note) {
  if (!row) return;
  row->setProperty(kDoneMark, true);
  ShowProgressParts(row, true);
  SetBar(row, spec, 100);
  SetRowLabel(row, note.isEmpty() ? PercentText(100) : PercentText(100) + QStringLiteral(" · ") + note, note);
  SetActionText(row, spec, QString());
}

void ShowRowFailed(QWidget* row, const RowSpec& spec, const QString& reasonText, const QString& details,
                   const QString& retryText) {
  if (!row) return;
  row->setProperty(kDoneMark, false);
  if (auto* error = row->findChild<QLabel*>("errorLabel")) {
    ShowProgressParts(row, false);
    error->setText(reasonText);
    error->setToolTip(PlainToolTip(details));
    row->setToolTip(PlainToolTip(details));
  } else {
    SetRowLabel(row, reasonText, details, true);
  }
  SetActionText(row, spec, retryText);
}

void ShowRowCancelled(QWidget* row, const RowSpec& spec) {
  if (!row) return;
  row->setProperty(kDoneMark, false);
  ShowProgressParts(row, true);
  SetBar(row, spec, 0);
  SetRowLabel(row, CoreText("FailureReason", ReasonText(FailureReason::Cancelled)));
  SetActionText(row, spec, QString());
}

bool RowIsDone(const QWidget* row) { return row && row->property(kDoneMark).toBool(); }

}  // namespace tw
