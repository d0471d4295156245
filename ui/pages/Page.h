// One tool page of the main window. CMainWnd only dispatches: it hands each page the
// notifications of the controls the page names in NotifyNames() and the window messages of
// its number range or its OperationKind; the page's behaviour lives in its class.
//
// A page finds its controls once (Bind, from the names in ControlNames()) and reads them
// with Ctl<T>(name). Pages with a file list share the row code of ListRows.h and one way of
// running their rows' jobs, here: every job goes through the window's queue (ConvertQueue) with
// its handle there; a row's action button starts its job or, while it waits or runs, cancels it;
// the run-all button queues every row not yet done; only the reports of a row's current job
// reach the row (reports of an ended job are recognised by their run id and ignored); a failed
// job says why. Pages with other rules override the parts they change. Window thread only.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/MessageSink.h"
#include "tasks/Commands.h"
#include "tasks/ConvertQueue.h"
#include "tasks/FailureReason.h"
#include "tasks/OperationKind.h"
#include "tasks/TaskRecords.h"
#include "tasks/Transcoder.h"
#include "ui/Skin.h"
#include "ui/pages/FileList.h"
#include "ui/pages/ListRows.h"

class QListWidget;

namespace tw {

class LoadingDialog;
class NotifyAdapter;
class Page;

// What the window shares with its pages. Owned by CMainWnd, which outlives its pages.
struct PageContext {
  QWidget* window = nullptr;         // the main window: owner of dialogs and menus
  QWidget* root = nullptr;           // the loaded "MainWindow.xml" form
  NotifyAdapter* notify = nullptr;   // attach rows added later
  MessageSink* sink = nullptr;       // for engines: messages reach the window thread
  LoadingDialog* loading = nullptr;  // "正在加载波形..."
  // Selects a page option ("audio-convert"), which switches the page.
  std::function<void(const QString& optionName)> selectPage;
  // The file records of every page's rows under their task ids, which only increase.
  TaskMap* tasks = nullptr;
  ConvertQueue* queue = nullptr;  // the window's one queue of row jobs and its worker
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

  // The transcoder messages of this page's kind and the row requests of its jobs
  // (WM_JOB_ROW_REQUEST): those of a row's current job go to the handlers below, a final one
  // then releases the job's slot; the others are ignored.
  void HandleTaskMessage(Message& message);
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
  // order; the files not taken are then named in one prompt (ShowSkipped), or handed to
  // finished when given (possibly none), which then tells the user itself.
  void AddFiles(const QStringList& paths, FileProber::Finish finished = nullptr);
  // One prompt naming the files that were not added and why; nothing for none.
  void ShowSkipped(const std::vector<SkippedFile>& skipped) const;
  // Files the entry under the next task id and adds its row; the id, or -1 without a list.
  int AddEntry(const FileEntry& entry);
  // WM_LIST_OPEN_DIR, WM_LIST_REMOVE, WM_LIST_DELETE, WM_LIST_CANCEL and the WM_LIST_ADD_TO_...
  // messages whose list code is this page's. True when the message is one of them.
  bool HandleListMessage(Message& message);
  // A row is going: whatever still runs or waits for it ends.
  virtual void EndRowWork(int taskId);

  // The row's job waits or runs.
  bool RowHeld(int taskId) const;
  // A row's action button: a held job is cancelled; otherwise the row's job is made with the
  // choices of this moment (a refused check shows its prompt) and started at once, or queued
  // on a page whose rows wait for a slot.
  void PressRow(QObject* button);
  // Ends the row's job; the row reads "已取消" and can be started again kCancelSettleMs later
  // (unless the job had already ended by itself: its own report then completes the row).
  void CancelRow(int taskId);
  static constexpr int kCancelSettleMs = 400;
  // The run-all button: every row not yet done and not held is queued with the choices of this
  // moment, and the button waits, as "all-convert-btn" does, until no job of the page is left.
  virtual void RunAll();
  // The page's run-all button, "" for none.
  virtual const char* RunAllButtonName() const { return ""; }

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

  // A row's job of a page with its own builder (the cut export): PressRow with build, which is
  // kept until the job starts and must hold its choices by value. The failure of a check shows
  // its prompt. True when the job was started or cancelled.
  bool StartRowRun(QObject* button, const std::function<BuiltCommand(const FileEntry&)>& build,
                   bool keepButton = false);

  JobKey KeyOf(int taskId) const { return {kind_, taskId}; }
  // A row's job with the choices of this moment: ok with its starter (null: the convert queue's
  // own), or the prompt of a refused check.
  struct RowJob {
    bool ok = false;
    JobStarter start;
    QString refusal;
  };
  virtual RowJob MakeRowJob(int taskId, const FileEntry& entry);
  // The transcoder command of a row's job with the choices of this moment, for MakeRowJob; null
  // on pages with jobs of another kind.
  using RowBuild = std::function<BuiltCommand(const FileEntry&, const CommandContext&)>;
  virtual RowBuild RowBuilder() const { return nullptr; }
  // False on a page whose pressed rows wait for a slot like the run-all rows (convert).
  virtual bool StartsAtOnce() const { return true; }

  // The looks of a row's job (ListRows.h); the merge page shows its one job on the page.
  virtual void ShowWaiting(int taskId);
  // Running when the job took a free slot, else waiting.
  void ShowQueued(int taskId, bool startsNow);
  virtual void ShowRunning(int taskId);
  virtual void ShowDone(int taskId);
  virtual void ShowFailed(int taskId, FailureReason reason, const QString& details);
  virtual void ShowCancelled(int taskId);
  // The row's job is over (done, failed or cancelled).
  virtual void AfterJobOver(int taskId);
  // The button that starts and cancels the row's job.
  virtual QWidget* ActionButtonOf(int taskId) const;
  // No job of the page waits or runs any more: the run-all button takes clicks again.
  virtual void OnPageIdle();
  // The run-all button's texts while it waits and when it takes clicks; the prompt of an empty
  // list.
  virtual QString RunAllBusyText() const;
  virtual QString RunAllIdleText() const;
  virtual QString NoRowsText() const;
  // The final report of a row's job: its look is set; this releases its slot.
  void FinishJob(int taskId, int runId, bool success);
  // True when runId is the row's current job (always without a queue).
  bool IsCurrent(int taskId, int runId) const;
  // The prompt dialog with text.
  void Prompt(const QString& text) const;
  // The shown text of a drop-down list of this page.
  QString ComboText(const QString& name) const;
  int ComboIndex(const QString& name) const;
  // A format choice keeps the formats the installed transcoder can write, in the skin's order,
  // followed by any other it can write when addOthers (the convert page offers them all).
  void OfferWritableFormats(const QString& comboName, bool addOthers) const;
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
