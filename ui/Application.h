// Start-up and lifetime of the Tunewell process: the per-user single instance (a second start
// asks the first to raise its window, handing it the launcher's activation token and the files
// of its command line, and ends; a start that no first instance answers runs normally), the log folder and
// its clean-up, the logging settings, the skin, the main window centred on the screen (where the program may
// place it), the message loop and shutdown. Runs on the process's first thread, which stays the window
// thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

namespace tw {

class CMainWnd;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitLogFolderUnreadable = 255;  // -1 as the system reports it
constexpr int kExitNoSkin = 1;
constexpr int kExitNotHandedOver = 3;  // the running instance took the request but never confirmed it

struct StartHooks {
  // Called once the main window has been painted for the first time.
  std::function<void(CMainWnd&)> firstPaint;
};

// The whole program: returns the process's exit status.
int RunApplication(int argc, char** argv, const StartHooks& hooks = {});

// Deletes every entry of folder that is not a folder and whose name does not begin with
// today's local date as "%Y%m%d". -1 when the folder cannot be listed; deletions that fail are
// ignored.
int CleanLogFolder(const std::string& folder);

// The per-user lock file and the local socket through which a second start finds the first.
QString InstanceLockPath();
QString InstanceServerPath();

// What a later start asks of the first over the local socket: one line of JSON,
// {"version":1,"request":"raise","activation-token":"...","files":["/abs/path",...]}. Readers
// ignore members they do not know, so a later version can add its own and still be understood.
struct InstanceRequest {
  QByteArray activationToken;  // the launcher's XDG_ACTIVATION_TOKEN; empty when none was given
  // Absolute paths to open, in the order given. The first instance has its own working folder,
  // so a relative path in a request is dropped rather than guessed at.
  QStringList files;
};
QByteArray EncodeInstanceRequest(const InstanceRequest& request);
// The request of one line (with or without its line end); none for anything else. The bare line
// "raise" of earlier versions is a request without a token.
std::optional<InstanceRequest> DecodeInstanceRequest(const QByteArray& line);

}  // namespace tw
