#include "ui/CMainWnd.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tasks/ConvertQueue.h"
#include "ui/CMainTaskMenu.h"
#include "ui/FileOpener.h"
#include "ui/FramelessWindow.h"
#include "ui/LaunchArguments.h"
#include "ui/MessageEvent.h"
#include "ui/NotifyAdapter.h"
#include "ui/UpgradeController.h"
#include "ui/UrlOpener.h"
#include "ui/WindowSystem.h"
#include "ui/dialogs/FeedbackDialog.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/SetingDialog.h"
#include "ui/dialogs/UserManualDialog.h"
#include "ui/pages/BgMusicPage.h"
#include "ui/pages/ConvertPage.h"
#include "ui/pages/CutPage.h"
#include "ui/pages/ExtractPage.h"
#include "ui/pages/FileList.h"
#include "ui/pages/MergePage.h"
#include "ui/pages/NoisePage.h"
#include "ui/pages/RecordPage.h"
#include "ui/pages/SpeedPage.h"
#include "ui/pages/VolumePage.h"

namespace tw {
namespace {

constexpr int kTrayLeftButtonDown = 513;
constexpr int kTrayRightButtonDown = 516;
// The smallest window the pages still fit in.
constexpr int kMinimumWidth = 900;
constexpr int kMinimumHeight = 620;

// The controls of the window itself (beyond the pages).
const QStringList& WindowControlNames() {
  static const QStringList names = {"main-tab", "title-bar", "seting", "feedback", "help",
                                    "menubtn",  "minbtn",    "maxbtn", "closebtn"};
  return names;
}

}  // namespace

bool CMainWnd::IsWindowMessage(unsigned id) {
  switch (id) {
    case WM_MENU_QUIT:
    case WM_MENU_HOME:
    case WM_MENU_HELP:
    case WM_MENU_SETTINGS:
    case WM_MENU_FEEDBACK:
    case WM_MENU_UPGRADE:
    case WM_TRAY_NOTIFY:
    case WM_UPGRADE_CHECKED:
    case WM_DOWNLOAD_PROGRESS:
    case WM_DOWNLOAD_DONE:
    case WM_FEEDBACK_DONE:
      return true;
    default:
      return false;
  }
}

const std::array<const char*, 9>& CMainWnd::PageOptions() {
  static const std::array<const char*, 9> options = {
      CutPage::kOptionName,   RecordPage::kOptionName, ConvertPage::kOptionName,
      MergePage::kOptionName, SpeedPage::kOptionName,  ExtractPage::kOptionName,
      NoisePage::kOptionName, VolumePage::kOptionName, BgMusicPage::kOptionName};
  return options;
}

CMainWnd::CMainWnd(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName("CMainWnd");
  setWindowTitle(tr("TWL音频剪辑"));
  port_ = WindowPort::Create();
  port_->Attach(this);
  ctx_.window = this;
  ctx_.sink = port_;
  ctx_.selectPage = [this](const QString& option) { SelectPage(option); };
  ctx_.pageFor = [this](OperationKind kind) { return PageFor(kind); };
  ctx_.tasks = &tasks_;
  queue_ = std::make_unique<ConvertQueue>(tasks_, port_, CurrentCommandContext);
  queue_->SetSlots(ParallelJobs());
  ctx_.queue = queue_.get();
  prober_ = new FileProber(this);
  ctx_.prober = prober_;
}

CMainWnd::~CMainWnd() {
  port_->Detach();
  // No notification may reach a page while the controls are torn down.
  delete notify_;
  notify_ = nullptr;
  ctx_.notify = nullptr;
  notifyOwners_.clear();
  delete prober_;
  prober_ = nullptr;
  ctx_.prober = nullptr;
  // A window that goes without being closed ends its jobs all the same.
  if (queue_ && !destroyed_) queue_->EndAll(TranscoderRun::kEndGrace + std::chrono::seconds(1));
  queue_.reset();
  ctx_.queue = nullptr;
  pages_.clear();
}

MessageSink* CMainWnd::Sink() const {
  return port_;
}

void CMainWnd::Post(Message message) {
  port_->Post(std::move(message));
}

bool CMainWnd::Create(QString* error, bool deferPages) {
  pending_.clear();
  split_.reset();
  if (deferPages) {
    auto split = std::make_unique<SplitLayout>();
    QString splitError;
    if (split->Read(GetSkinFile(), "main-tab", &splitError) &&
        split->PageCount() == static_cast<int>(PageOptions().size())) {
      root_ = split->LoadShell(this, error);
      if (!root_) return false;
      for (int i = 0; i < split->PageCount(); ++i)
        if (i != split->ShownIndex()) pending_.push_back(i);
      split_ = std::move(split);
      // A window that is not painted soon (started hidden) builds them all the same.
      QTimer::singleShot(1000, this, [this] { CompletePages(); });
    } else {
      LOG(WARNING) << "building every page at once: " << splitError.toStdString();
    }
  }
  if (!root_) root_ = Skin::Load(GetSkinFile(), this, error);
  if (!root_) return false;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(root_);
  const QSize designed = root_->size();
  frame_ = new FramelessWindow(this, FindControl(root_, "title-bar"),
                               FindControl<QAbstractButton>(root_, "maxbtn"));
  resize(designed.grownBy(layout->contentsMargins()));
  setMinimumSize(QSize(kMinimumWidth, kMinimumHeight).expandedTo(layout->minimumSize()));
  ctx_.root = root_;
  notify_ = new NotifyAdapter([this](const QString& type, QObject* sender) { Notify(type, sender); }, this);
  ctx_.notify = notify_;

  pages_.push_back(std::make_unique<CutPage>(ctx_));
  pages_.push_back(std::make_unique<RecordPage>(ctx_));
  pages_.push_back(std::make_unique<ConvertPage>(ctx_));
  pages_.push_back(std::make_unique<MergePage>(ctx_));
  pages_.push_back(std::make_unique<SpeedPage>(ctx_));
  pages_.push_back(std::make_unique<ExtractPage>(ctx_));
  pages_.push_back(std::make_unique<NoisePage>(ctx_));
  pages_.push_back(std::make_unique<VolumePage>(ctx_));
  pages_.push_back(std::make_unique<BgMusicPage>(ctx_));
  cut_ = static_cast<CutPage*>(pages_[0].get());
  record_ = static_cast<RecordPage*>(pages_[1].get());
  convert_ = static_cast<ConvertPage*>(pages_[2].get());
  merge_ = static_cast<MergePage*>(pages_[3].get());
  speed_ = static_cast<SpeedPage*>(pages_[4].get());
  extract_ = static_cast<ExtractPage*>(pages_[5].get());
  noise_ = static_cast<NoisePage*>(pages_[6].get());
  volume_ = static_cast<VolumePage*>(pages_[7].get());
  bgMusic_ = static_cast<BgMusicPage*>(pages_[8].get());

  InitWindow();
  notify_->Attach(root_);
  AcceptFilesDroppedOnWindow(*this);
  return true;
}

bool CMainWnd::IsPending(int index) const {
  return std::find(pending_.begin(), pending_.end(), index) != pending_.end();
}

void CMainWnd::CompletePages() {
  if (pending_.empty() || completing_ || !split_) return;
  completing_ = true;
  const std::vector<int> pending = std::move(pending_);
  pending_.clear();
  // In index order, so that each page lands at its own index of the stack.
  std::vector<QWidget*> built;
  for (int index : pending) {
    QString error;
    QWidget* page = split_->LoadPage(index, &error);
    if (!page) {
      LOG(ERROR) << error.toStdString();
      page = new QWidget();  // an empty page keeps the other pages at their indices
    }
    if (mainTab_) mainTab_->insertWidget(index, page);
    built.push_back(page);
  }
  split_.reset();
  for (int index : pending) BindPage(index);
  for (int index : pending) pages_[static_cast<size_t>(index)]->Init();
  for (QWidget* page : built) notify_->Attach(page);
  if (!missing_.isEmpty()) LOG(ERROR) << "MainWindow.xml lacks: " << missing_.join(", ").toStdString();
  completing_ = false;
  if (std::exchange(tourAfterPages_, false)) ShowTourSoon();
}

void CMainWnd::BindPage(int index) {
  Page* page = pages_[static_cast<size_t>(index)].get();
  missing_ << page->Bind(root_);
  for (const QString& name : page->NotifyNames()) notifyOwners_.insert(name, page);
}

void CMainWnd::InitWindow() {
  // 1. The marker a second start looks for, and the window icon.
  setProperty("Tunewell", 1);
  const QIcon icon(QStringLiteral("skin:images/logo.png"));
  // The installed application icon, as the desktop's menus show it.
  setWindowIcon(QIcon::fromTheme(LaunchArguments::AppId(), icon));

  // 2. The tray icon, where the desktop has a tray.
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(icon, this);
    tray_->setToolTip(tr("TWL音频剪辑"));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger) PostValue(port_, WM_TRAY_NOTIFY, kTrayLeftButtonDown);
      if (reason == QSystemTrayIcon::Context) PostValue(port_, WM_TRAY_NOTIFY, kTrayRightButtonDown);
    });
    // The tray host draws the main menu where the user clicked: the program cannot know where
    // that is on Wayland, and a pop-up of its own would need a recent input event of its own.
    tray_->setContextMenu(CMainTaskMenu::BuildTrayMenu(this, port_));
    tray_->show();
  }

  // 3. Every control of the window and its pages.
  missing_.clear();
  for (const QString& name : WindowControlNames())
    if (!FindControl(root_, name)) missing_ << name;
  for (const char* option : PageOptions())
    if (!FindControl<QAbstractButton>(root_, option)) missing_ << option;
  mainTab_ = FindControl<QStackedWidget>(root_, "main-tab");
  notifyOwners_.clear();
  for (int i = 0; i < static_cast<int>(pages_.size()); ++i)
    if (!IsPending(i)) BindPage(i);
  if (!missing_.isEmpty() && pending_.empty())
    LOG(ERROR) << "MainWindow.xml lacks: " << missing_.join(", ").toStdString();

  // 4. The loading dialog, hidden until the waveform reader reports.
  loading_ = new LoadingDialog(this, tr("正在加载波形..."));
  try {
    loading_->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
  }
  loading_->CenterWindow();
  loading_->hide();
  ctx_.loading = loading_;

  // The silent upgrade check of every start.
  upgrade_ = std::make_unique<UpgradeController>(this, port_, [this] { PostClose(kForceCloseParam); });
  upgrade_->Check(false);

  // 5.-8. The convert queue, the recorder's levels and the background threads start with the
  // pages that own them.
  for (int i = 0; i < static_cast<int>(pages_.size()); ++i)
    if (!IsPending(i)) pages_[static_cast<size_t>(i)]->Init();

  // The picture tour of the first start, once the window is up (and its pages are built).
  if (SettingsFile::Instance().GetInt(kSettingsSection, kKeyUserManual, 0) == 0) {
    if (pending_.empty())
      ShowTourSoon();
    else
      tourAfterPages_ = true;
  }
}

void CMainWnd::ShowTourSoon() {
  QTimer::singleShot(0, this, [this] {
    if (!destroyed_) UserManualDialog::ShowAtFirstStart(this);
  });
}

void CMainWnd::CenterWindow() {
  if (!CanPlaceTopLevels()) return;  // the compositor places it
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

int CMainWnd::CurrentPage() const {
  return mainTab_ ? mainTab_->currentIndex() : -1;
}

Page* CMainWnd::PageAt(int index) const {
  return index >= 0 && index < static_cast<int>(pages_.size()) ? pages_[index].get() : nullptr;
}

Page* CMainWnd::PageFor(OperationKind kind) const {
  for (const auto& page : pages_)
    if (page->Kind() == kind) return page.get();
  return nullptr;
}

bool CMainWnd::SwitchPage(const QString& optionName) {
  const auto& options = PageOptions();
  for (int i = 0; i < static_cast<int>(options.size()); ++i) {
    if (optionName != options[i]) continue;
    if (mainTab_) mainTab_->setCurrentIndex(i);
    return true;
  }
  return false;
}

void CMainWnd::SelectPage(const QString& optionName) {
  auto* option = FindControl<QAbstractButton>(root_, optionName);
  if (option && !option->isChecked())
    option->setChecked(true);  // its "selectchanged" switches the page
  else
    SwitchPage(optionName);
}

void CMainWnd::Notify(const QString& type, QObject* sender) {
  if (!sender) return;
  CompletePages();
  const QString name = sender->objectName();
  if (type == "selectchanged" && SwitchPage(name)) return;
  if (type == "click" && HandleWindowClick(name)) return;
  if (Page* page = notifyOwners_.value(name)) page->Notify(type, sender);
}

bool CMainWnd::HandleWindowClick(const QString& name) {
  if (name == "closebtn") {
    PostClose(0);
    return true;
  }
  if (name == "minbtn") {
    showMinimized();
    return true;
  }
  if (name == "maxbtn") {
    if (frame_) frame_->ToggleMaximized();
    return true;
  }
  if (name == "menubtn") {
    if (QWidget* button = FindControl(root_, name)) CMainTaskMenu::OpenBelow(this, button, port_);
    return true;
  }
  if (name == "seting") {
    ShowSettings();
    return true;
  }
  if (name == "help") {
    OpenHelpPage(this);
    return true;
  }
  if (name == "feedback") {
    FeedbackDialog::Show(this);
    return true;
  }
  return false;
}

bool CMainWnd::HandleCustomMessage(Message& message) {
  // The window's own messages (menus, tray, online services) need no page; every other one
  // may reach a page that is still to be built.
  if (!IsWindowMessage(message.id)) CompletePages();
  switch (message.id) {
    case WM_TASK_PROGRESS:
      if (auto* r = message.As<ProgressRecord>())
        if (Page* page = PageFor(r->kind)) page->HandleTaskMessage(message);
      return true;
    case WM_TASK_DONE:
      if (auto* r = message.As<FinishRecord>())
        if (Page* page = PageFor(r->kind)) page->HandleTaskMessage(message);
      return true;
    case WM_TASK_FAILED:
      if (auto* r = message.As<FailureRecord>())
        if (Page* page = PageFor(r->kind)) page->HandleTaskMessage(message);
      return true;
    case WM_JOB_ROW_REQUEST:
      if (auto* r = message.As<RowRequestRecord>())
        if (Page* page = PageFor(r->kind)) page->HandleTaskMessage(message);
      return true;
    case WM_NOISE_PROGRESS:
    case WM_NOISE_DONE:
      return noise_ && noise_->HandleMessage(message);
    case WM_CUT_START:
    case WM_CUT_END:
    case WM_LEFT_MARKER_GRAB:
    case WM_RIGHT_MARKER_GRAB:
    case WM_LEFT_MARKER_RELEASE:
    case WM_RIGHT_MARKER_RELEASE:
    case WM_WAVE_CLICK:
    case WM_LOADING_SHOW:
    case WM_LOADING_HIDE:
    case WM_PLAY_TICK:
    case WM_PLAY_END:
      return cut_ && cut_->HandleMessage(message);
    case WM_RECORD_TIME:
    case WM_RECORD_FAILED:
    case WM_RECORD_SCAN_ENTRY:
    case WM_RECORD_LEVELS:
      return record_ && record_->HandleMessage(message);
    case WM_LIST_OPEN_DIR:
    case WM_LIST_ADD_TO_CONVERT:
    case WM_LIST_ADD_TO_SPEED:
    case WM_LIST_ADD_TO_NOISE:
    case WM_LIST_ADD_TO_VOLUME:
    case WM_LIST_REMOVE:
    case WM_LIST_DELETE:
    case WM_LIST_CANCEL:
      if (auto* r = message.As<ListRecord>())
        if (Page* page = PageFor(static_cast<OperationKind>(r->listCode)))
          return page->HandleListMessage(message);
      return false;
    case WM_MENU_QUIT:
      PostClose(kForceCloseParam);
      return true;
    case WM_MENU_HOME:
      ShowAndActivate();
      return true;
    case WM_MENU_SETTINGS:
      ShowAndActivate();
      ShowSettings();
      return true;
    case WM_MENU_FEEDBACK:
      ShowAndActivate();
      FeedbackDialog::Show(this);
      return true;
    case WM_MENU_HELP:
      OpenHelpPage(this);
      return true;
    case WM_MENU_UPGRADE:
      if (upgrade_) upgrade_->Check(true);
      return true;
    case WM_UPGRADE_CHECKED:
      return upgrade_ && upgrade_->HandleMessage(message);
    case WM_TRAY_NOTIFY:
      OnTrayNotify(message.param);
      return message.param == kTrayLeftButtonDown || message.param == kTrayRightButtonDown;
    default:
      return false;
  }
}

void CMainWnd::OnTrayNotify(std::int64_t mouseMessage) {
  if (mouseMessage == kTrayLeftButtonDown) {
    ShowAndActivate();
  } else if (mouseMessage == kTrayRightButtonDown) {
    // The window comes to the front where it is shown; a minimised or hidden one stays so. The
    // menu is the tray icon's context menu, which the tray host shows itself; where that menu is
    // one of the program's own pop-ups, it keeps the focus.
    if (isVisible() && !isMinimized()) {
      raise();
      const QMenu* menu = tray_ ? tray_->contextMenu() : nullptr;
      if (!menu || !menu->isVisible()) activateWindow();
    }
  }
}

// Out of the minimised state into the one it had before: a maximised window stays maximised.
void CMainWnd::ShowUnminimized() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
}

void CMainWnd::ShowAndActivate() {
  ShowUnminimized();
  show();
  raise();
  activateWindow();
}

void CMainWnd::ShowSettings() {
  SetingDialog::Show(this);
  if (queue_) queue_->SetSlots(ParallelJobs());
}

void CMainWnd::RaiseFromAnotherInstance(const QByteArray& activationToken) {
  LOG(INFO) << "raise requested by another start"
            << (activationToken.isEmpty() ? "" : " with an activation token");
  ShowUnminimized();
  show();
  raise();
  // One activation, with the launcher's token where the window system asks for one: the open
  // dialog when there is one (its owner comes along), else the window.
  QWidget* modal = QApplication::activeModalWidget();
  QWidget* target = modal ? modal : this;
  target->raise();
  UseActivationToken(activationToken);
  target->activateWindow();
}

void CMainWnd::OpenFiles(const QStringList& paths) {
  OpenFilesInWindow(*this, paths);
}

void CMainWnd::PostClose(int wParam) {
  QMetaObject::invokeMethod(
      this,
      [this, wParam] {
        pendingCloseParam_ = wParam;
        close();
      },
      Qt::QueuedConnection);
}

QString CMainWnd::CloseQuestion(size_t jobs) {
  return tr("还有%1个任务正在进行,确定要退出吗?").arg(jobs);
}

bool CMainWnd::OnClose(int wParam) {
  // Minimised to the tray, the window keeps its jobs running.
  if (wParam != kForceCloseParam &&
      SettingsFile::Instance().GetInt(kSettingsSection, kKeyWindowClose, 0) != 0) {
    showMinimized();
    return false;
  }
  const size_t jobs = queue_ ? queue_->Pending() : 0;
  if (jobs == 0) return true;
  if (askingToClose_) return false;
  askingToClose_ = true;
  const bool confirmed = MessageBoxDialog::Show(this, CloseQuestion(jobs)) != 0;
  askingToClose_ = false;
  return confirmed;
}

void CMainWnd::closeEvent(QCloseEvent* event) {
  const int wParam = pendingCloseParam_;
  pendingCloseParam_ = 0;
  if (destroyed_ || !OnClose(wParam)) {
    event->ignore();
    return;
  }
  event->accept();
  OnDestroy();
  OnFinalMessage();
}

void CMainWnd::OnDestroy() {
  destroyed_ = true;
  for (const auto& page : pages_) page->WindowClosing();
  // No job starts any more; every job ends and takes its partial result with it.
  if (queue_) queue_->EndAll(TranscoderRun::kEndGrace + std::chrono::seconds(1));
  if (tray_) tray_->hide();
  if (loading_) loading_->hide();
}

void CMainWnd::OnFinalMessage() {
  port_->Detach();
  emit finalMessage(0);  // the process entry turns it into the quit of its message loop
  deleteLater();
}

bool CMainWnd::event(QEvent* event) {
  if (event->type() == MessageEvent::EventType()) {
    HandleCustomMessage(static_cast<MessageEvent*>(event)->message());
    return true;
  }
  // The deferred pages are built once the window has been painted; the paint is flushed
  // before the queued call runs.
  if (event->type() == QEvent::Paint && !pending_.empty() && !completeQueued_) {
    completeQueued_ = true;
    QMetaObject::invokeMethod(
        this, [this] { CompletePages(); }, Qt::QueuedConnection);
  }
  return QWidget::event(event);
}

}  // namespace tw
