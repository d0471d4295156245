// Start-up and lifetime of the Tunewell process: the per-user single instance (a second start
// asks the first to raise its window and ends), the log folder and its clean-up, the logging
// settings, the skin, the main window centred on the screen, the message loop and shutdown.
// Runs on the process's first thread, which stays the window thread.
#pragma once

#include <QString>
#include <functional>
#include <string>

namespace tw {

class CMainWnd;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitLogFolderUnreadable = 255;  // -1 as the system reports it
constexpr int kExitNoSkin = 1;

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

}  // namespace tw
