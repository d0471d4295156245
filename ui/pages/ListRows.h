// The file lists of the pages and their rows, in one place: which list, row layout, action
// button, menu button and progress control each page uses, and the row operations every page
// shares (build a row for a task id, find it again, remove it, show a run's progress on it).
// A list is a QListWidget of the main window whose items carry row widgets named "item-%d"
// with the task id, which is also the row's tag and the tag of its buttons.
// Window thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "app/MessageSink.h"
#include "tasks/OperationKind.h"

class QListWidget;
class QWidget;

namespace tw {

class NotifyAdapter;

// The record of the row-menu messages (WM_LIST_OPEN_DIR ... WM_LIST_DELETE): the page's list
// code and the row's task id. Owned by the receiver.
struct ListRecord : MessageRecord {
  ListRecord(int code, int id) : listCode(code), taskId(id) {}
  int listCode = 0;  // an OperationKind value
  int taskId = 0;
};

struct RowSpec {
  OperationKind kind;
  const char* listName;      // "audio-convert-list"
  const char* rowLayout;     // "ConvertListContainerElement.xml"
  const char* actionButton;  // "convertBtn", or "" (merge rows)
  const char* menuButton;    // "convertListMenuBtn"
  const char* progressName;  // "convert-progress", or "" (merge and recording rows)
};

// Every page list, the cut results and the recordings included.
const std::vector<RowSpec>& RowSpecs();
const RowSpec* FindRowSpec(OperationKind kind);

// The control names a row of spec holds (labels, buttons, progress parts).
QStringList RowControlNames(const RowSpec& spec);

// "item-%d" (RowName of the task records) as a control name.
QString RowControlName(int taskId);

// Builds a row from spec's layout: named "item-%d", tagged with taskId, and the action, menu
// and merge-order buttons tagged too; attached to notify when given. Null with a message when
// the layout cannot be built.
QWidget* MakeRow(const RowSpec& spec, int taskId, NotifyAdapter* notify, QString* error = nullptr);

// Appends row to list (the list takes it).
void AppendRow(QListWidget* list, QWidget* row);
int RowCount(const QListWidget* list);
QWidget* RowAt(const QListWidget* list, int index);
// The index of the row of taskId, or -1.
int RowIndex(const QListWidget* list, int taskId);
QWidget* FindRow(const QListWidget* list, int taskId);
// False when the list holds no row of taskId.
bool RemoveRow(QListWidget* list, int taskId);
void RemoveAllRows(QListWidget* list);
// Scrolls to the end and selects the last row.
void SelectLastRow(QListWidget* list);

// "fileNameLabel", "fileSizeLabel" and "durationLabel" of a row; a label the row lacks is skipped.
// The name is elided to the label's width, with fullPath (the name when empty) as its tooltip.
void SetRowTexts(QWidget* row, const QString& fileName, const QString& sizeText, const QString& durationText,
                 const QString& fullPath = {});
// The row's progress control (bar kept within 0..100) and its "progress-label" ("%d%%",
// above 100 when the run reports it).
void SetRowProgress(QWidget* row, const char* progressName, int percent);

// "%d%%".
QString PercentText(int percent);

// ---- The job look of a row -----------------------------------------------------------------
// What every page's row shows of its job, in one place: the action button offers the cancel
// while the job waits or runs and reads its own text otherwise; the progress label says how far,
// "等待中", "已取消" or why the job failed (with the transcoder's last words as the tooltip).
// Convert rows show a failure in "errorLabel" in place of their progress.

inline constexpr const char* kRowCancelText =
    QT_TRANSLATE_NOOP("ListRows", "取消");  // the action button while its job is held
inline constexpr const char* kRowWaitingText =
    QT_TRANSLATE_NOOP("ListRows", "等待中");  // the label of a queued job

// Waiting in the queue: the button cancels, the progress is 0 and the label says it waits.
void ShowRowWaiting(QWidget* row, const RowSpec& spec);
// Running: the button cancels, the progress starts at 0.
void ShowRowRunning(QWidget* row, const RowSpec& spec);
// Done: the button reads its own text, the progress is 100.
// note: what the result leaves out (KeptTrackNote), shown beside the 100 %.
void ShowRowDone(QWidget* row, const RowSpec& spec, const QString& note = QString());
// Failed with reasonText: the button reads its own text (or retryText when given), the label
// says why, and details (the transcoder's last lines) are the tooltip.
void ShowRowFailed(QWidget* row, const RowSpec& spec, const QString& reasonText, const QString& details,
                   const QString& retryText = QString());
// Cancelled: the button reads its own text, the progress is 0 and the label says so.
void ShowRowCancelled(QWidget* row, const RowSpec& spec);
// True when the row's last job gave its result (and it has not been started again since).
bool RowIsDone(const QWidget* row);

}  // namespace tw
