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
#include "tasks/OperationKind.h"
#include "tasks/Transcoder.h"
#include "ui/Skin.h"
#include "ui/pages/ListRows.h"

class QListWidget;

namespace tw {

class LoadingDialog;
class NotifyAdapter;

// What the window shares with its pages. Owned by CMainWnd, which outlives its pages.
struct PageContext {
  QWidget* window = nullptr;          // the main window: owner of dialogs and menus
  QWidget* root = nullptr;            // the loaded "MainWindow.xml" form
  NotifyAdapter* notify = nullptr;    // attach rows added later
  MessageSink* sink = nullptr;        // for engines: messages reach the window thread
  LoadingDialog* loading = nullptr;   // "正在加载波形..."
  // Selects a page option ("audio-convert"), which switches the page.
  std::function<void(const QString& optionName)> selectPage;
  // Task ids of every page's rows; they only increase. (The shared TaskMap of the task records
  // joins this context with them.)
  int nextTaskId = 0;
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

  PageContext& ctx_;

 private:
  OperationKind kind_;
  const RowSpec* rows_ = nullptr;
  QListWidget* list_ = nullptr;
  QHash<QString, QWidget*> controls_;
};

}  // namespace tw
