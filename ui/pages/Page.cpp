#include "ui/pages/Page.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "ui/NotifyAdapter.h"
#include "ui/PopMenu.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/FileList.h"

namespace tw {

Page::Page(PageContext& context, OperationKind kind) : ctx_(context), kind_(kind), rows_(FindRowSpec(kind)) {}

QStringList Page::NotifyNames() const {
  QStringList names;
  if (*AddButtonName(kind_)) names << AddButtonName(kind_);
  if (rows_) {
    if (*rows_->actionButton) names << rows_->actionButton;
    names << rows_->menuButton;
  }
  return names;
}

QStringList Page::Bind(QWidget* root) {
  QStringList missing;
  controls_.clear();
  for (const QString& name : ControlNames()) {
    QWidget* w = FindControl(root, name);
    if (w)
      controls_.insert(name, w);
    else
      missing << name;
  }
  if (rows_) list_ = Ctl<QListWidget>(rows_->listName);
  if (rows_ && !list_ && !missing.contains(rows_->listName)) missing << rows_->listName;
  // Rows of one list share one layout, so the list need not measure each of them again after
  // every added row: adding many files stays linear.
  if (list_) list_->setUniformItemSizes(true);
  if (const FileFilter* filter = AddFileFilter(kind_))
    AcceptDroppedFiles(list_, filter->patterns, [this](const QStringList& paths) { AddFiles(paths); });
  return missing;
}

bool Page::Notify(const QString& type, QObject* sender) {
  if (type == "click" && *AddButtonName(kind_) && sender->objectName() == AddButtonName(kind_)) {
    ChooseFiles();
    return true;
  }
  if (type == "click" && rows_ && sender->objectName() == rows_->menuButton) {
    OpenRowMenu(qobject_cast<QWidget*>(sender));
    return true;
  }
  return false;
}

void Page::OpenRowMenu(QWidget* button) {
  const PopMenuSpec* spec = FindPopMenuSpec(kind_);
  if (!spec || !button) return;
  PopMenu::Open(*spec, button, PopMenu::ClickAnchor(button), ctx_.sink);
}

void Page::ChooseFiles() {
  const FileFilter* filter = AddFileFilter(kind_);
  if (!filter) return;
  const QStringList paths = Files().OpenFiles(ctx_.window, {*filter}, true);
  if (!paths.isEmpty()) AddFiles(paths);
}

void Page::AddFiles(const QStringList& paths, std::function<void(const QStringList& refused)> finished) {
  if (paths.isEmpty() || !list_) return;
  if (!ctx_.prober) {
    QStringList refused;
    for (const QString& path : paths) {
      if (auto entry = ProbeFileEntry(path.toStdString()))
        AddEntry(*entry);
      else
        refused << path;
    }
    if (finished) finished(refused);
    return;
  }
  // The list, not the page, guards the delivery: it is destroyed with the window.
  ctx_.prober->Add(
      paths, [this](const FileEntry& entry) { AddEntry(entry); }, list_, std::move(finished));
}

int Page::AddEntry(const FileEntry& entry) {
  if (!list_ || !ctx_.tasks) return -1;
  const int taskId = ctx_.tasks->NextTaskId();
  ctx_.tasks->Set(taskId, entry);
  AddRow(taskId, QString::fromStdString(entry.fileName), QString::fromStdString(FormatFileSize(entry.size)),
         QString::fromStdString(FormatDuration(entry.duration)));
  return taskId;
}

bool Page::HandleListMessage(Message& message) {
  auto* record = message.As<ListRecord>();
  if (!record || !ctx_.tasks) return false;
  const int taskId = record->taskId;
  FileEntry entry;
  const bool known = ctx_.tasks->Find(taskId, &entry);
  switch (message.id) {
    case WM_LIST_OPEN_DIR:
      if (known) OpenOutputFolder();
      return true;
    case WM_LIST_REMOVE:
      if (FindRow(taskId)) EndRowWork(taskId);
      RemoveRow(list_, taskId);
      return true;
    case WM_LIST_DELETE: {
      if (!known) return true;
      if (MessageBoxDialog::Show(ctx_.window, QStringLiteral("确定要删除吗?")) != 1) return true;
      if (FindRow(taskId)) EndRowWork(taskId);
      RemoveRow(list_, taskId);
      std::error_code error;
      if (!std::filesystem::remove(entry.fullPath, error))
        LOG(ERROR) << "cannot delete " << entry.fullPath << ": " << (error ? error.message() : "no such file");
      return true;
    }
    case WM_LIST_ADD_TO_CONVERT:
    case WM_LIST_ADD_TO_SPEED:
    case WM_LIST_ADD_TO_NOISE:
    case WM_LIST_ADD_TO_VOLUME: {
      if (!known) return true;
      struct Target {
        unsigned id;
        OperationKind kind;
        const char* option;
      };
      static const Target targets[] = {
          {WM_LIST_ADD_TO_CONVERT, OperationKind::Convert, "audio-convert"},
          {WM_LIST_ADD_TO_SPEED, OperationKind::Speed, "audio-change-speed"},
          {WM_LIST_ADD_TO_NOISE, OperationKind::Noise, "audio-noise"},
          {WM_LIST_ADD_TO_VOLUME, OperationKind::Volume, "audio-volume"},
      };
      for (const Target& target : targets) {
        if (target.id != message.id) continue;
        Page* page = ctx_.pageFor ? ctx_.pageFor(target.kind) : nullptr;
        if (!page) return true;
        // A file that can no longer be read never enters a list, as when it is added.
        const MediaProbe probe = ProbeMedia(entry.fullPath);
        entry.duration = probe.duration;
        entry.facts = probe.facts;
        if (!(entry.duration > 0)) {
          LOG(ERROR) << "not added, unreadable: " << entry.fullPath;
          return true;
        }
        page->AddEntry(entry);
        if (ctx_.selectPage) ctx_.selectPage(target.option);
      }
      return true;
    }
    default:
      return false;
  }
}

bool Page::StartRowRun(QObject* button, const std::function<BuiltCommand(const FileEntry&)>& build,
                       bool keepButton) {
  if (!button || !ctx_.tasks) return false;
  const int taskId = GetTag(button);
  FileEntry entry;
  if (!ctx_.tasks->Find(taskId, &entry)) return false;
  const BuiltCommand built = build(entry);
  if (!built.ok) {
    Prompt(QString::fromStdString(built.message));
    return false;
  }
  QWidget* row = FindRow(taskId);
  if (rows_ && *rows_->progressName) SetRowProgress(row, rows_->progressName, 0);
  if (!keepButton) SetMouseEnabled(qobject_cast<QWidget*>(button), false);
  LOG(INFO) << "appPath: " << ProgramFolder();
  if (!StartRun(built.command, taskId)) {
    LOG(ERROR) << "the transcoder could not be started for task " << taskId;
    FailureRecord failure;
    failure.taskId = taskId;
    failure.kind = kind_;
    OnTaskFailed(failure);
    return false;
  }
  return true;
}

bool Page::StartRun(const CommandLine& command, int taskId) {
  if (ctx_.runs) return ctx_.runs->Start(command, taskId, kind_, ctx_.sink) != nullptr;
  return StartTranscoder(command, taskId, kind_, ctx_.sink) != nullptr;
}

void Page::EndRowWork(int taskId) {
  if (ctx_.runs) ctx_.runs->End(kind_, taskId);
}

void Page::Prompt(const QString& text) const { PromptBoxDialog::Show(ctx_.window, text); }

QString Page::ComboText(const QString& name) const {
  auto* combo = Ctl<QComboBox>(name);
  return combo ? combo->currentText() : QString();
}

int Page::ComboIndex(const QString& name) const {
  auto* combo = Ctl<QComboBox>(name);
  return combo ? std::max(combo->currentIndex(), 0) : 0;
}

QString Page::EditText(const QString& name) const {
  auto* edit = Ctl<QLineEdit>(name);
  return edit ? edit->text() : QString();
}

bool Page::IsChecked(const QString& name) const {
  auto* button = Ctl<QAbstractButton>(name);
  return button && button->isChecked();
}

bool Page::HandleMessage(Message&) { return false; }

QWidget* Page::AddRow(int taskId, const QString& fileName, const QString& sizeText, const QString& durationText) {
  if (!rows_ || !list_) return nullptr;
  QString error;
  QWidget* row = MakeRow(*rows_, taskId, ctx_.notify, &error);
  if (!row) {
    LOG(ERROR) << "row layout: " << error.toStdString();
    return nullptr;
  }
  const QString fullPath =
      ctx_.tasks ? QString::fromStdString(ctx_.tasks->Lookup(taskId).fullPath) : QString();
  SetRowTexts(row, fileName, sizeText, durationText, fullPath);
  AppendRow(list_, row);
  return row;
}

QWidget* Page::FindRow(int taskId) const { return tw::FindRow(list_, taskId); }

int Page::ProgressPercent(const ProgressRecord& progress) const {
  return TaskPercent(progress.positionMs, progress.durationMs);
}

void Page::OnTaskProgress(const ProgressRecord& progress) {
  QWidget* row = FindRow(progress.taskId);
  if (!row || !rows_ || !*rows_->progressName) return;
  SetRowProgress(row, rows_->progressName, ProgressPercent(progress));
}

void Page::OnTaskDone(const FinishRecord& finish) {
  LOG(INFO) << "seq: " << finish.taskId;
  QWidget* row = FindRow(finish.taskId);
  if (row && rows_) {
    if (*rows_->actionButton) SetMouseEnabled(row->findChild<QWidget*>(rows_->actionButton), true);
    if (*rows_->progressName) SetRowProgress(row, rows_->progressName, 100);
  }
  AfterTaskDone(finish, row);
}

void Page::AfterTaskDone(const FinishRecord&, QWidget*) {}

// A failed run lets the row's button take clicks again, so the user can retry, and says so
// in the row's label; the progress bar stays where the run stopped.
void Page::OnTaskFailed(const FailureRecord& failure) {
  QWidget* row = FindRow(failure.taskId);
  if (!row || !rows_) return;
  if (*rows_->actionButton) SetMouseEnabled(row->findChild<QWidget*>(rows_->actionButton), true);
  if (auto* label = row->findChild<QLabel*>("progress-label")) label->setText(QStringLiteral("失败"));
}

}  // namespace tw
