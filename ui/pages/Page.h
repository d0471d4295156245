// One tool page of the main window. CMainWnd only dispatches: it hands each page the
// notifications of the controls the page names in NotifyNames() and the window messages of
// its number range or its OperationKind; the page's behaviour lives in its class.
//
// A page finds its controls once (Bind, from the names in ControlNames()) and reads them
// with Ctl<T>(name). Pages with a file list share the row code of ListRows.h and the default
// handling of transcoder runs on rows (progress, completion, failure), which pages with other
// rules override. Window thread only.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/MessageSink.h"
#include "tasks/Commands.h"
#include "tasks/OperationKind.h"
#include "tasks/TaskRecords.h"
#include "tasks/Transcoder.h"
#include "ui/Skin.h"
#include "ui/pages/ListRows.h"

class QListWidget;

namespace tw {

class ConvertQueue;
class FileProber;
class LoadingDialog;
class NotifyAdapter;
class Page;

// What the window shares with its pages. Owned by CMainWnd, which outlives its pages.
struct PageContext {
  QWidget* window = nullptr;          // the main window: owner of dialogs and menus
  QWidget* root = nullptr;            // the loaded "MainWindow.xml" form
  NotifyAdapter* notify = nullptr;    // attach rows added later
  MessageSink* sink = nullptr;        // for engines: messages reach the window thread
  LoadingDialog* loading = nullptr;   // "正在加载波形..."
  // Selects a page option ("audio-convert"), which switches the page.
  std::function<void(const QString& optionName)> selectPage;
  // The file records of every page's rows under their task ids, which only increase.
  TaskMap* tasks = nullptr;
  ConvertQueue* queue = nullptr;  // the convert page's queue and its worker
  TranscoderRuns* runs = nullptr;  // every transcoder run of the window, ended when it closes
  FileProber* prober = nullptr;   // probes chosen files off the window thread
  // The page of a list code (another page's list receives "add-to-..." rows).
  std::function<Page*(OperationKind kind)> pageFor;
};

class Page {
 public:
  Page(PageContext& context, OperationKind kind);
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  OperationKind Kind() const { return kind_; }
  // The row layout and list of this page; null for a page without a list.
  const RowSpec* Rows() const { return rows_; }
  QListWidget* List() const { return list_; }

  // Every control of the main window this page looks up.
  virtual QStringList ControlNames() const = 0;
  // The controls whose notifications the window hands to this page, its rows' buttons
  // included.
  virtual QStringList NotifyNames() const;

  // Finds the controls under root; returns the names that are missing.
  QStringList Bind(QWidget* root);
  // After Bind: the page's start-up work (InitWindow).
  virtual void Init() {}
  // The window is being destroyed (not minimised): finish what must not be lost.
  virtual void WindowClosing() {}

  // A notification of one of NotifyNames(). True when handled.
  virtual bool Notify(const QString& type, QObject* sender);
  // A window message routed to this page (other than the transcoder messages). True when
  // handled.
  virtual bool HandleMessage(Message& message);

  // The transcoder messages of this page's kind.
  virtual void OnTaskProgress(const ProgressRecord& progress);
  virtual void OnTaskDone(const FinishRecord& finish);
  virtual void OnTaskFailed(const FailureRecord& failure);

  // Adds a row for taskId with its three texts to this page's list; the row, or null.
  QWidget* AddRow(int taskId, const QString& fileName, const QString& sizeText, const QString& durationText);
  QWidget* FindRow(int taskId) const;

  // A row's menu button: the page's row menu at the click, for the row of the button's tag.
  void OpenRowMenu(QWidget* button);
  // The page's add button: the open-file dialog with the page's filter, then AddFiles.
  void ChooseFiles();
  // Probes the files off the window thread and adds a row for each accepted one, in the given
  // order (files the media library cannot read are skipped without a message). finished, when
  // given, then gets the skipped ones.
  void AddFiles(const QStringList& paths, std::function<void(const QStringList& refused)> finished = {});
  // Files the entry under the next task id and adds its row; the id, or -1 without a list.
  int AddEntry(const FileEntry& entry);
  // WM_LIST_OPEN_DIR, WM_LIST_REMOVE, WM_LIST_DELETE and the WM_LIST_ADD_TO_... messages
  // whose list code is this page's. True when the message is one of them.
  bool HandleListMessage(Message& message);
  // A row is going: whatever still runs or waits for it ends (its transcoder run here).
  virtual void EndRowWork(int taskId);

  // A control found by Bind.
  QWidget* Control(const QString& name) const { return controls_.value(name); }
  template <class T>
  T* Ctl(const QString& name) const {
    return qobject_cast<T*>(Control(name));
  }

 protected:
  // The percent a progress message shows on this page's row.
  virtual int ProgressPercent(const ProgressRecord& progress) const;
  // Called after the default completion look is applied to the row (which may be null).
  virtual void AfterTaskDone(const FinishRecord& finish, QWidget* row);

  // A row's run as every page but convert starts it: the entry of the button's tag, the
  // builder's checks (a refusal shows its prompt and starts nothing), progress 0, the button
  // ignoring the mouse when keepButton is false, then the transcoder. A failed start shows
  // as a failed run. True when the run started.
  bool StartRowRun(QObject* button, const std::function<BuiltCommand(const FileEntry&)>& build,
                   bool keepButton = false);
  // Starts a transcoder run of this page's kind through the window's runs. False when the
  // child could not be started (nothing is posted then).
  bool StartRun(const CommandLine& command, int taskId);
  // The prompt dialog with text.
  void Prompt(const QString& text) const;
  // The shown text of a drop-down list of this page.
  QString ComboText(const QString& name) const;
  int ComboIndex(const QString& name) const;
  QString EditText(const QString& name) const;
  bool IsChecked(const QString& name) const;

  PageContext& ctx_;

 private:
  OperationKind kind_;
  const RowSpec* rows_ = nullptr;
  QListWidget* list_ = nullptr;
  QHash<QString, QWidget*> controls_;
};

}  // namespace tw
