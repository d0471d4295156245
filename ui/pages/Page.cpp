#include "ui/pages/Page.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTimer>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "ui/NotifyAdapter.h"
#include "ui/PopMenu.h"
#include "ui/Translator.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/FileList.h"

namespace tw {

Page::Page(PageContext& context, OperationKind kind) : ctx_(context), kind_(kind), rows_(FindRowSpec(kind)) {}

QStringList Page::NotifyNames() const {
  QStringList names;
  if (*AddButtonName(kind_)) names << AddButtonName(kind_);
  if (*RunAllButtonName()) names << RunAllButtonName();
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
  if (type == "click" && *RunAllButtonName() && sender->objectName() == RunAllButtonName()) {
    RunAll();
    return true;
  }
  return false;
}

void Page::OpenRowMenu(QWidget* button) {
  const PopMenuSpec* spec = FindPopMenuSpec(kind_);
  if (!spec || !button) return;
  PopMenu* menu = PopMenu::Open(*spec, button, PopMenu::ClickAnchor(button), ctx_.sink);
  // Only a row whose job waits or runs has anything to cancel.
  if (QWidget* cancel = menu ? menu->findChild<QWidget*>("cancel-task") : nullptr)
    cancel->setEnabled(RowHeld(GetTag(button)));
}

void Page::ChooseFiles() {
  const FileFilter* filter = AddFileFilter(kind_);
  if (!filter) return;
  const QStringList paths = Files().OpenFiles(ctx_.window, {*filter}, true);
  if (!paths.isEmpty()) AddFiles(paths);
}

void Page::AddFiles(const QStringList& paths, FileProber::Finish finished) {
  if (paths.isEmpty() || !list_) return;
  if (!ctx_.prober) {
    std::vector<SkippedFile> skipped;
    for (const QString& path : paths) {
      FailureReason why = FailureReason::None;
      if (auto entry = ProbeFileEntry(path.toStdString(), &why))
        AddEntry(*entry);
      else
        skipped.push_back({path, why});
    }
    if (finished)
      finished(skipped);
    else
      ShowSkipped(skipped);
    return;
  }
  // The list, not the page, guards the delivery: it is destroyed with the window.
  ctx_.prober->Add(
      paths, [this](const FileEntry& entry) { AddEntry(entry); }, list_,
      finished ? std::move(finished)
               : [this](const std::vector<SkippedFile>& skipped) { ShowSkipped(skipped); });
}

void Page::ShowSkipped(const std::vector<SkippedFile>& skipped) const {
  if (skipped.empty()) return;
  const QString text = SkippedFilesText(skipped);
  PromptBoxDialog::Show(ctx_.window, text, 380, std::min(120 + 22 * static_cast<int>(text.count('\n')), 400));
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
    case WM_LIST_CANCEL:
      if (FindRow(taskId) && RowHeld(taskId)) CancelRow(taskId);
      return true;
    case WM_LIST_DELETE: {
      if (!known) return true;
      if (MessageBoxDialog::Show(ctx_.window, QCoreApplication::translate("Page", "确定要删除吗?")) != 1) return true;
      if (FindRow(taskId)) EndRowWork(taskId);
      RemoveRow(list_, taskId);
      // A cut entry names its result only once its export published it: before that the name
      // may be another entry's result, or another program's file.
      if (!entry.sourcePath.empty() && !entry.exported) return true;
      std::error_code error;
      if (!std::filesystem::remove(entry.fullPath, error))
        LOG(ERROR) << "cannot delete " << entry.fullPath << ": "
                   << (error ? error.message() : "no such file");
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
        FailureReason why = FailureReason::None;
        const auto probed = ProbeFileEntry(entry.fullPath, &why);
        if (!probed) {
          LOG(ERROR) << "not added: " << entry.fullPath << ": " << ReasonEnglish(why);
          ShowSkipped({{QString::fromStdString(entry.fullPath), why}});
          return true;
        }
        entry.duration = probed->duration;
        entry.facts = probed->facts;
        page->AddEntry(entry);
        if (ctx_.selectPage) ctx_.selectPage(target.option);
      }
      return true;
    }
    default:
      return false;
  }
}

bool Page::StartRowRun(QObject* button, const std::function<BuiltCommand(const FileEntry&)>& build, bool) {
  if (!button || !ctx_.tasks) return false;
  const int taskId = GetTag(button);
  if (RowHeld(taskId)) {
    CancelRow(taskId);
    return true;
  }
  FileEntry entry;
  if (!ctx_.tasks->Find(taskId, &entry)) return false;
  const BuiltCommand checked = build(entry);
  if (!checked.ok) {
    Prompt(QString::fromStdString(checked.message));
    return false;
  }
  if (!ctx_.queue) return false;
  LOG(INFO) << "appPath: " << ProgramFolder();
  const bool now = ctx_.queue->SlotFree();
  ctx_.queue->Enqueue(KeyOf(taskId),
                      MakeTranscoderStarter(KeyOf(taskId), ctx_.sink,
                                            [build, entry](const CommandContext&) { return build(entry); }),
                      true);
  ShowQueued(taskId, now);
  return true;
}

bool Page::RowHeld(int taskId) const {
  return ctx_.queue && ctx_.queue->Holds(KeyOf(taskId));
}

bool Page::IsCurrent(int taskId, int runId) const {
  return !ctx_.queue || ctx_.queue->IsCurrent(KeyOf(taskId), runId);
}

Page::RowJob Page::MakeRowJob(int taskId, const FileEntry& entry) {
  RowJob job;
  const RowBuild build = RowBuilder();
  if (!build) return job;
  const BuiltCommand checked = build(entry, CurrentCommandContext());
  if (!checked.ok) {
    job.refusal = QString::fromStdString(checked.message);
    return job;
  }
  job.ok = true;
  job.start = MakeTranscoderStarter(KeyOf(taskId), ctx_.sink, [build, entry](const CommandContext& context) {
    return build(entry, context);
  });
  return job;
}

void Page::PressRow(QObject* button) {
  if (!button || !ctx_.tasks || !ctx_.queue) return;
  const int taskId = GetTag(button);
  if (RowHeld(taskId)) {
    CancelRow(taskId);
    return;
  }
  FileEntry entry;
  if (!ctx_.tasks->Find(taskId, &entry)) return;
  const RowJob job = MakeRowJob(taskId, entry);
  if (!job.ok) {
    if (!job.refusal.isEmpty()) Prompt(job.refusal);
    return;
  }
  LOG(INFO) << "appPath: " << ProgramFolder();
  const bool now = StartsAtOnce() && ctx_.queue->SlotFree();
  ctx_.queue->Enqueue(KeyOf(taskId), job.start, StartsAtOnce());
  ShowQueued(taskId, now);
}

void Page::ShowQueued(int taskId, bool startsNow) {
  // A job that waits for a slot says so until the queue starts it (WM_JOB_ROW_REQUEST).
  if (startsNow)
    ShowRunning(taskId);
  else
    ShowWaiting(taskId);
}

void Page::CancelRow(int taskId) {
  if (!ctx_.queue) return;
  const CancelResult result = ctx_.queue->Cancel(KeyOf(taskId));
  if (result.tooLate) return;
  if (result.waited || result.ended) {
    ShowCancelled(taskId);
    AfterJobOver(taskId);
    // The second click of a double click on "取消" must not start the job again at once.
    if (QWidget* button = ActionButtonOf(taskId)) {
      SetMouseEnabled(button, false);
      QTimer::singleShot(kCancelSettleMs, button, [button] { SetMouseEnabled(button, true); });
    }
  }
  if (ctx_.queue->Idle(kind_)) OnPageIdle();
}

QWidget* Page::ActionButtonOf(int taskId) const {
  QWidget* row = FindRow(taskId);
  return row && rows_ && *rows_->actionButton ? row->findChild<QWidget*>(rows_->actionButton) : nullptr;
}

void Page::RunAll() {
  if (!ctx_.queue || !ctx_.tasks) return;
  if (RowCount(list_) == 0) {
    Prompt(NoRowsText());
    return;
  }
  std::vector<std::pair<int, FileEntry>> pending;
  for (int i = 0; i < RowCount(list_); ++i) {
    QWidget* row = RowAt(list_, i);
    const int taskId = GetTag(row);
    FileEntry entry;
    if (RowIsDone(row) || RowHeld(taskId) || !ctx_.tasks->Find(taskId, &entry)) continue;
    pending.emplace_back(taskId, entry);
  }
  if (pending.empty()) {
    Prompt(QCoreApplication::translate("Page", "没有需要处理的文件!"));
    return;
  }
  std::vector<std::pair<int, JobStarter>> jobs;
  for (const auto& [taskId, entry] : pending) {
    RowJob job = MakeRowJob(taskId, entry);
    if (!job.ok) {
      // The choices are the same for every row: one refusal stops the whole press.
      if (!job.refusal.isEmpty()) Prompt(job.refusal);
      return;
    }
    jobs.emplace_back(taskId, std::move(job.start));
  }
  for (auto& [taskId, start] : jobs) {
    ctx_.queue->Enqueue(KeyOf(taskId), std::move(start), false);
    ShowWaiting(taskId);
  }
  if (auto* button = Ctl<QAbstractButton>(RunAllButtonName())) {
    SetMouseEnabled(button, false);
    button->setText(RunAllBusyText());
  }
}

QString Page::RunAllBusyText() const {
  return QCoreApplication::translate("Page", "处理中");
}
QString Page::RunAllIdleText() const {
  return QCoreApplication::translate("Page", "全部开始");
}
QString Page::NoRowsText() const {
  return QCoreApplication::translate("Page", "请先添加要处理的文件!");
}

void Page::OnPageIdle() {
  if (auto* button = Ctl<QAbstractButton>(RunAllButtonName())) {
    SetMouseEnabled(button, true);
    button->setText(RunAllIdleText());
  }
}

void Page::EndRowWork(int taskId) {
  if (!ctx_.queue) return;
  ctx_.queue->Cancel(KeyOf(taskId));
  AfterJobOver(taskId);
  // The last held row went: no report will restore the run-all button.
  if (ctx_.queue->Idle(kind_)) OnPageIdle();
}

void Page::ShowWaiting(int taskId) {
  if (rows_) ShowRowWaiting(FindRow(taskId), *rows_);
}
void Page::ShowRunning(int taskId) {
  if (rows_) ShowRowRunning(FindRow(taskId), *rows_);
}
void Page::ShowDone(int taskId) {
  FileEntry entry;
  const bool known = ctx_.tasks && ctx_.tasks->Find(taskId, &entry);
  if (rows_) ShowRowDone(FindRow(taskId), *rows_, known ? QString::fromStdString(KeptTrackNote(entry.facts)) : QString());
}
void Page::ShowFailed(int taskId, FailureReason reason, const QString& details) {
  if (rows_) ShowRowFailed(FindRow(taskId), *rows_, CoreText("FailureReason", ReasonText(reason)), details);
}
void Page::ShowCancelled(int taskId) {
  if (rows_) ShowRowCancelled(FindRow(taskId), *rows_);
}
void Page::AfterJobOver(int) {}

void Page::Prompt(const QString& text) const {
  PromptBoxDialog::Show(ctx_.window, text);
}

QString Page::ComboText(const QString& name) const {
  auto* combo = Ctl<QComboBox>(name);
  return combo ? combo->currentText() : QString();
}

void Page::OfferWritableFormats(const QString& comboName, bool addOthers) const {
  auto* combo = Ctl<QComboBox>(comboName);
  if (!combo) return;
  for (int i = combo->count() - 1; i >= 0; --i)
    if (!CanWriteFormat(combo->itemText(i).toStdString())) combo->removeItem(i);
  if (!addOthers) return;
  for (const std::string& format : WritableAudioFormats()) {
    const QString text = QString::fromStdString(format);
    if (combo->findText(text) < 0) combo->addItem(text);
  }
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

bool Page::HandleMessage(Message&) {
  return false;
}

QWidget* Page::AddRow(int taskId, const QString& fileName, const QString& sizeText,
                      const QString& durationText) {
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

QWidget* Page::FindRow(int taskId) const {
  return tw::FindRow(list_, taskId);
}

int Page::ProgressPercent(const ProgressRecord& progress) const {
  return TaskPercent(progress.positionMs, progress.durationMs);
}

void Page::HandleTaskMessage(Message& message) {
  switch (message.id) {
    case WM_TASK_PROGRESS:
      if (auto* r = message.As<ProgressRecord>(); r && IsCurrent(r->taskId, message.runId))
        OnTaskProgress(*r);
      return;
    case WM_TASK_DONE:
      if (auto* r = message.As<FinishRecord>(); r && IsCurrent(r->taskId, message.runId)) {
        OnTaskDone(*r);
        FinishJob(r->taskId, message.runId, true);
      }
      return;
    case WM_TASK_FAILED:
      if (auto* r = message.As<FailureRecord>(); r && IsCurrent(r->taskId, message.runId)) {
        OnTaskFailed(*r);
        FinishJob(r->taskId, message.runId, false);
      }
      return;
    case WM_JOB_ROW_REQUEST:
      if (auto* r = message.As<RowRequestRecord>();
          r && r->action == RowRequestRecord::Action::ResetProgress && IsCurrent(r->taskId, message.runId))
        ShowRunning(r->taskId);
      return;
    default:
      return;
  }
}

void Page::FinishJob(int taskId, int runId, bool success) {
  AfterJobOver(taskId);
  if (!ctx_.queue) return;
  const CompletionResult result = ctx_.queue->Complete(KeyOf(taskId), runId, success);
  // A row queued again while it ran ("all-convert-btn") waits for its next turn.
  if (ctx_.queue->IsWaiting(KeyOf(taskId))) ShowWaiting(taskId);
  if (result.queueIdle) OnPageIdle();
}

void Page::OnTaskProgress(const ProgressRecord& progress) {
  QWidget* row = FindRow(progress.taskId);
  if (!row || !rows_ || !*rows_->progressName) return;
  SetRowProgress(row, rows_->progressName, ProgressPercent(progress));
}

void Page::OnTaskDone(const FinishRecord& finish) {
  LOG(INFO) << "seq: " << finish.taskId;
  ShowDone(finish.taskId);
  AfterTaskDone(finish, FindRow(finish.taskId));
}

void Page::AfterTaskDone(const FinishRecord&, QWidget*) {}

// The row says why in words, with the transcoder's last lines as its tooltip; its button takes
// clicks again, so the user can retry.
void Page::OnTaskFailed(const FailureRecord& failure) {
  ShowFailed(failure.taskId, failure.reason, QString::fromStdString(failure.outputTail));
}

}  // namespace tw
