#include "ui/Application.h"

#include <dirent.h>
#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>

#include "app/SettingsFile.h"
#include "app/FFmpegPtr.h"
#include "tasks/ResultFile.h"
#include "ui/CMainWnd.h"
#include "ui/CPaintViewUI.h"
#include "ui/LaunchArguments.h"
#include "ui/Skin.h"
#include "ui/Translator.h"
#include "ui/WindowSystem.h"
#include "ui/dialogs/CWndShadow.h"

namespace tw {
namespace {

constexpr int kRequestVersion = 1;
// A longer line is no request of ours (a batch of some thousands of long paths still fits).
constexpr qint64 kMaxRequestBytes = 8 * 1024 * 1024;
constexpr int kReachFirstMs = 2000;  // a first instance that has just taken the lock listens within this
constexpr int kConfirmMs = 10000;    // a first instance confirms a request within this, however busy
const QByteArray kGreeting = "ready\n";  // the first instance serves the connection
const QByteArray kConfirmation = "taken\n";

enum class HandOver { kTaken, kNoInstance, kNotConfirmed };

QString RuntimeFolder() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return dir;
}

QString InstanceBaseName() {
  return QStringLiteral("TunewellProcessMutex-%1").arg(getuid());
}

// Asks the running instance to raise its window and open files, and waits for it to confirm.
// kNoInstance when none could be reached (the caller then opens them itself).
HandOver HandToFirstInstance(const QStringList& files) {
  QElapsedTimer clock;
  clock.start();
  InstanceRequest request;
  request.activationToken = qgetenv(kActivationTokenVariable);
  request.files = files;
  while (true) {
    QLocalSocket socket;
    socket.connectToServer(InstanceServerPath());
    if (socket.waitForConnected(500)) {
      // The request goes only to a first instance that answers: one that is stopped or stuck
      // must not act on it later, when this start has already said it could not hand it over.
      QElapsedTimer waited;
      waited.start();
      while (!socket.canReadLine() && waited.elapsed() < kConfirmMs && socket.state() == QLocalSocket::ConnectedState)
        socket.waitForReadyRead(100);
      if (!socket.canReadLine() || socket.readLine() != kGreeting) return HandOver::kNotConfirmed;
      socket.write(EncodeInstanceRequest(request));
      // A long list goes out in several writes; the request counts as handed over once the
      // first instance has read all of it and said so.
      waited.restart();
      while (!socket.canReadLine() && waited.elapsed() < kConfirmMs) {
        if (socket.bytesToWrite() > 0)
          socket.waitForBytesWritten(100);
        else
          socket.waitForReadyRead(100);
        if (socket.state() != QLocalSocket::ConnectedState && !socket.canReadLine()) break;
      }
      const bool confirmed = socket.canReadLine() && socket.readLine() == kConfirmation;
      socket.disconnectFromServer();
      return confirmed ? HandOver::kTaken : HandOver::kNotConfirmed;
    }
    if (clock.elapsed() >= kReachFirstMs) return HandOver::kNoInstance;
    QThread::msleep(100);
  }
}

// Hands every request of a later start to the window: raise it, then open the files.
void ServeLaterStarts(QLocalServer& server, CMainWnd* window) {
  QObject::connect(&server, &QLocalServer::newConnection, window, [&server, window] {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      socket->write(kGreeting);
      QObject::connect(socket, &QLocalSocket::readyRead, window, [socket, window] {
        while (socket->canReadLine()) {
          auto request = DecodeInstanceRequest(socket->readLine());
          if (!request) continue;
          window->RaiseFromAnotherInstance(request->activationToken);
          if (!request->files.isEmpty()) window->OpenFiles(request->files);
          socket->write(kConfirmation);
        }
        if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
      });
    }
  });
}

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

void StartLogging(const std::string& logFolder) {
  // The library names a file base + its "date-time.pid" + extension: with "log." as the base the
  // files read "log.20261208-124929.22177", which the clean-up of the next start removes (a
  // name that began with the date would survive the day).
  const std::string prefix = logFolder + "/log.";
  google::InitGoogleLogging("Tunewell");
  google::SetLogDestination(google::GLOG_INFO, prefix.c_str());
  // Lines of every severity go to the INFO file above; no other files in other folders.
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  google::SetLogFilenameExtension("");
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = false;
  FLAGS_logbufsecs = 0;
  FLAGS_max_log_size = 10;
  FLAGS_stop_logging_if_full_disk = true;
}

// Sends the first paint of the main window to the start-up hook.
class FirstPaintWatch : public QObject {
 public:
  FirstPaintWatch(CMainWnd* window, std::function<void(CMainWnd&)> hook)
      : window_(window), hook_(std::move(hook)) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Paint && hook_) {
      auto hook = std::move(hook_);
      hook_ = nullptr;
      QMetaObject::invokeMethod(
          this, [this, hook] { hook(*window_); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  CMainWnd* window_;
  std::function<void(CMainWnd&)> hook_;
};

}  // namespace

QByteArray EncodeInstanceRequest(const InstanceRequest& request) {
  QJsonObject object{{"version", kRequestVersion}, {"request", "raise"}};
  if (!request.activationToken.isEmpty())
    object.insert("activation-token", QString::fromUtf8(request.activationToken));
  if (!request.files.isEmpty()) object.insert("files", QJsonArray::fromStringList(request.files));
  return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<InstanceRequest> DecodeInstanceRequest(const QByteArray& line) {
  const QByteArray text = line.trimmed();
  if (text == "raise") return InstanceRequest{};
  const QJsonDocument document = QJsonDocument::fromJson(text);
  const QJsonObject object = document.object();
  if (!document.isObject() || object.value("version").toInt() < kRequestVersion ||
      object.value("request").toString() != "raise")
    return std::nullopt;
  InstanceRequest request;
  request.activationToken = object.value("activation-token").toString().toUtf8();
  for (const QJsonValue& file : object.value("files").toArray()) {
    const QString path = file.toString();
    if (path.startsWith('/')) request.files.append(path);
  }
  return request;
}

QString InstanceLockPath() {
  return RuntimeFolder() + "/" + InstanceBaseName() + ".lock";
}
QString InstanceServerPath() {
  return RuntimeFolder() + "/" + InstanceBaseName() + ".socket";
}

namespace {

// A log another running program still writes: the library ends its name with the writer's
// process id, and that process holds the file open.
bool HeldByItsWriter(const std::string& name, const struct stat& file) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return false;
  const std::string pid = name.substr(dot + 1);
  if (!std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); })) return false;
  const std::string fdFolder = "/proc/" + pid + "/fd";
  DIR* fds = opendir(fdFolder.c_str());
  if (!fds) return false;
  bool held = false;
  while (const dirent* fd = readdir(fds)) {
    struct stat open {};
    if (fd->d_name[0] != '.' && stat((fdFolder + "/" + fd->d_name).c_str(), &open) == 0 &&
        open.st_dev == file.st_dev && open.st_ino == file.st_ino) {
      held = true;
      break;
    }
  }
  closedir(fds);
  return held;
}

}  // namespace

int CleanLogFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  const std::string today = TodayText();
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (name.compare(0, 8, today) != 0 && !HeldByItsWriter(name, st)) unlink(path.c_str());
  }
  closedir(dir);
  return 0;
}

int RunApplication(int argc, char** argv, const StartHooks& hooks) {
  LaunchArguments launch(argc, argv);
  InstallEarlyLookup(LanguageInUse());
  if (const auto status = launch.AnswerInfoOption()) return *status;
  QGuiApplication::setDesktopFileName(LaunchArguments::AppId());
  QApplication app(launch.QtArgc(), launch.QtArgv());
  if (!launch.Parse(QCoreApplication::arguments())) return kExitUsage;

  // 1. One instance per user: a second start raises the first, hands it its files and ends. A
  // start that finds the lock taken but no instance answering runs normally (opening its files
  // itself), and serves later starts itself.
  QLockFile lock(InstanceLockPath());
  lock.setStaleLockTime(0);
  const bool firstStart = lock.tryLock(0);
  if (!firstStart) {
    switch (HandToFirstInstance(launch.Files())) {
      case HandOver::kTaken:
        return kExitOk;
      case HandOver::kNotConfirmed:
        // Its socket stays: it is there, only busy or stopped, and may still take the request.
        std::fprintf(stderr, "Tunewell: the running Tunewell did not confirm the request within %d s\n",
                     kConfirmMs / 1000);
        return kExitNotHandedOver;
      case HandOver::kNoInstance:
        break;
    }
  }
  QLocalServer::removeServer(InstanceServerPath());
  QLocalServer server;
  server.setSocketOptions(QLocalServer::UserAccessOption);
  const bool serving = server.listen(InstanceServerPath());

  // 2.-4. The log folder, cleared of files not from today, then the logging library.
  const std::string logFolder = GetLocalAppFolder("Tunewell/Log");
  if (CleanLogFolder(logFolder) != 0) {
    std::fprintf(stderr, "Tunewell: cannot list the log folder %s\n", logFolder.c_str());
    return kExitLogFolderUnreadable;
  }
  StartLogging(logFolder);
  LOG(INFO) << "Tunewell starting, log folder " << logFolder;
  // What runs killed earlier left beside the results.
  RemoveStalePartials(GetOutputFolder());
  RemoveStalePartials(GetOutputFolder() + "/录音");
  if (!firstStart)
    LOG(WARNING) << "another start holds " << InstanceLockPath().toStdString()
                 << " but no instance answered at " << InstanceServerPath().toStdString()
                 << "; starting normally";
  if (!serving)
    LOG(ERROR) << "single-instance server cannot listen on " << InstanceServerPath().toStdString() << ": "
               << server.errorString().toStdString() << "; later starts will not find this one";

  // 6. Shadows where a compositor runs. 9. The skin.
  CWndShadow::RegisterShadowClass();
  CPaintViewUI::RegisterDefault();
  QString error;
  if (!Skin::LoadResources(app, &error)) {
    LOG(ERROR) << "skin: " << error.toStdString();
    std::fprintf(stderr, "Tunewell: %s\n", error.toUtf8().constData());
    return kExitNoSkin;
  }
  // The language is read once: a change in the settings applies at the next start.
  const Language language = LanguageInUse();
  if (!InstallTranslators(app, language, &error)) LOG(ERROR) << "language: " << error.toStdString();
  LOG(INFO) << "language " << LanguageCode(language);

  // 11. The media libraries.
  LimitMediaAllocations();
  avdevice_register_all();
  avformat_network_init();

  // 12. The main window, centred where the program may place it.
  auto* window = new CMainWnd();
  if (!window->Create(&error, /*deferPages=*/true)) {
    LOG(ERROR) << "main window: " << error.toStdString();
    std::fprintf(stderr, "Tunewell: %s\n", error.toUtf8().constData());
    delete window;
    avformat_network_deinit();
    return kExitNoSkin;
  }
  ServeLaterStarts(server, window);
  // The window's final message posts the quit that ends the loop below.
  QObject::connect(
      window, &CMainWnd::finalMessage, &app, [](int code) { QCoreApplication::exit(code); },
      Qt::QueuedConnection);
  std::unique_ptr<FirstPaintWatch> watch;
  if (hooks.firstPaint) watch = std::make_unique<FirstPaintWatch>(window, hooks.firstPaint);
  window->CenterWindow();
  window->show();
  LOG(INFO) << "main window shown";
  window->OpenFiles(launch.Files());

  // 13. The message loop, until the window's final message posts the quit.
  const int code = app.exec();

  // 14. Shut down.
  watch.reset();
  avformat_network_deinit();
  LOG(INFO) << "Tunewell exits with " << code;
  google::ShutdownGoogleLogging();
  return code;
}

}  // namespace tw
