// A private desktop for the tests that need a real window system: Xvfb on a display it picks
// itself, with a window manager (openbox) and a compositing manager (xcompmgr), or with weston
// running on its X11 backend inside it (a Wayland session whose screen is the Xvfb screen, so
// that xdotool drives it and the X root holds what it shows). A test runs its body in a child
// process of the same test program, on the desktop's display (RunInDesktop); the child's body
// reaches the desktop through the environment (DesktopX, Xdo, GrabDesktop).
// Started by the test and stopped by the destructor.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tw::test {

class TestDesktop {
 public:
  enum class Kind {
    kX11Composited,  // Xvfb + openbox + xcompmgr; the program on Qt's xcb platform
    kWayland,        // Xvfb + weston (X11 backend, pixman); the program on Qt's wayland platform
  };
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 800;

  explicit TestDesktop(Kind kind);
  ~TestDesktop();
  TestDesktop(const TestDesktop&) = delete;
  TestDesktop& operator=(const TestDesktop&) = delete;

  // Empty when the desktop runs; otherwise why this machine cannot run it.
  const std::string& Failure() const { return failure_; }
  Kind GetKind() const { return kind_; }
  const std::string& XDisplay() const { return xDisplay_; }     // ":N"
  const std::string& WaylandSocket() const { return socket_; }  // absolute path, Wayland only

  // Runs the current test again in a child process on this desktop, with the Wayland protocol
  // trace of the child's connection in traceFile (Wayland only). The child's exit status; its
  // output goes to *output.
  int RunCurrentTest(const std::string& traceFile, std::string* output) const;

 private:
  pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd = -1);
  bool StartX();
  bool StartWindowManagers();
  bool StartWeston();

  Kind kind_;
  std::string failure_;
  std::string xDisplay_;
  std::string runtimeDir_;
  std::string socket_;
  std::vector<pid_t> started_;  // stopped in reverse order
};

// True in the child that RunCurrentTest starts: the test's body runs here.
bool InDesktopChild();
// The X display of the desktop the child runs on (also under Wayland: weston's host screen).
std::string DesktopX();
// The Wayland protocol trace file of the child; empty under X11.
std::string DesktopTrace();
// Runs xdotool with args on the desktop; its exit status.
int Xdo(const std::vector<std::string>& args);
// Makes xdotool's pointer and the window system's pointer agree (weston's X11 backend follows
// the X pointer by its relative moves): both end in the screen's bottom-left corner.
void HomePointer();
// Writes a PNG of the whole desktop to path; true when it was written.
bool GrabDesktop(const std::string& path);

// How the child of the current test ended on a new desktop of kind.
struct DesktopRun {
  bool skipped = false;  // the desktop cannot run here, or the child skipped
  int status = 0;        // the child's exit status
  std::string message;   // why it skipped, or the child's output when it failed
};
DesktopRun RunOnDesktop(TestDesktop::Kind kind);

}  // namespace tw::test

// First statement of a test whose body runs on a desktop of kind: in the test program the rest of
// the body runs in a child on a new desktop and the test takes the child's result; in the child
// the body goes on.
#define TW_RUN_ON_DESKTOP(kind)                                        \
  if (!::tw::test::InDesktopChild()) {                                 \
    const ::tw::test::DesktopRun run = ::tw::test::RunOnDesktop(kind); \
    if (run.skipped) GTEST_SKIP() << run.message;                      \
    EXPECT_EQ(run.status, 0) << run.message;                           \
    return;                                                            \
  }

namespace tw::test {}  // namespace tw::test
