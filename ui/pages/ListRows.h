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

}  // namespace tw
