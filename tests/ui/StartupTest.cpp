// Start-up and lifetime as real processes of the built program: the log clean-up, the refusal
// of an unreadable log folder, and the single instance (a second start raises the first, hands
// it its files and ends at once without writing a log; one that reaches no first instance runs),
// and the single-instance request.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/TestMedia.h"
#include "ui/Application.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

// A home of its own for each test: settings, logs and the instance lock live there.
struct Home {
  std::string dir = test::TempDir();
  std::string LogFolder() const { return dir + "/data/Tunewell/Log"; }
};

// The built program started in home, with the files handed to it; its output thrown away.
std::unique_ptr<test::Process> Start(const Home& home, const std::vector<std::string>& extraEnv = {},
                                     const std::vector<std::string>& files = {}) {
  test::SpawnOptions options;
  options.env = {"HOME=" + home.dir,
                 "XDG_DATA_HOME=" + home.dir + "/data",
                 "XDG_CONFIG_HOME=" + home.dir + "/config",
                 "XDG_RUNTIME_DIR=" + home.dir,
                 "QT_QPA_PLATFORM=offscreen",
                 "ASAN_OPTIONS=detect_leaks=0",
                 "XDG_ACTIVATION_TOKEN",
                 "LANGUAGE",
                 "LC_ALL",
                 "LC_MESSAGES",
                 "LANG"};
  options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
  options.discardOutput = true;
  std::vector<std::string> argv = {std::string(TW_BINARY_DIR) + "/tunewell"};
  if (!files.empty()) argv.push_back("--");
  argv.insert(argv.end(), files.begin(), files.end());
  return std::make_unique<test::Process>(argv, options);
}

// The exit status, or -1 when the process had not ended within the time.
int WaitExit(test::Process& process, std::chrono::milliseconds timeout) {
  if (!process.WaitExit(timeout)) return -1;
  const test::ProcessResult end = process.Finish();
  return end.signal ? 128 + end.signal : end.exitStatus;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Until a log in folder (the one of process pid when given) holds line.
bool WaitForLog(const std::string& folder, const std::string& line, std::chrono::milliseconds timeout = 30s,
                pid_t pid = 0) {
  return test::PollUntil(
      [&] {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec)) {
          const std::string name = e.path().filename().string();
          if (pid && !name.ends_with("." + std::to_string(pid))) continue;
          if (e.is_regular_file(ec) && ReadFile(e.path()).find(line) != std::string::npos) return true;
        }
        return false;
      },
      timeout);
}

// A name against a pattern where "#" is one ASCII digit.
bool Like(const std::string& name, const std::string& pattern) {
  if (name.size() != pattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (pattern[i] == '#' ? !std::isdigit(static_cast<unsigned char>(name[i])) : name[i] != pattern[i])
      return false;
  }
  return true;
}

TEST(StartupTest, LogCleanUpKeepsTodaysFilesAndFolders) {
  Home home;
  fs::create_directories(home.LogFolder() + "/20000101-old-folder");
  const std::string today = Today();
  for (const std::string& name :
       {std::string("20000101-120000.42log."), std::string("log.20000101-120000.42"),
        std::string("Tunewell.INFO"), today + "-090000.7log.", today + "notes.txt"}) {
    std::ofstream(home.LogFolder() + "/" + name) << "x";
  }
  std::ofstream(home.LogFolder() + "/20000101-old-folder/inside.txt") << "x";
  // A batch of the command line still writing its log (named with its process id) keeps it; a
  // log named with a live process that does not hold it goes.
  test::Process writer({"sh", "-c", "exec 3>>\"$0/tunewell-cli.20000101-120000.$$\" && echo x >&3 && exec sleep 600",
                        home.LogFolder()});
  const std::string held = home.LogFolder() + "/tunewell-cli.20000101-120000." + std::to_string(writer.Pid());
  ASSERT_TRUE(test::PollUntil([&] { return fs::exists(held); }, 20s));
  const std::string notHeld = home.LogFolder() + "/tunewell-cli.20000101-120000." + std::to_string(getpid());
  std::ofstream(notHeld) << "x";

  const auto program = Start(home);
  ASSERT_TRUE(program->Started());
  const pid_t pid = program->Pid();
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  program->Stop(10000);

  // This run's log is "log." + date-time + "." + process id, so that the next start clears it
  // like every earlier run's.
  const std::string ownLog = "log." + today + "-######." + std::to_string(pid);
  int ownLogs = 0;
  for (const std::string& name : test::FileNames(home.LogFolder())) {
    const bool isFolder = fs::is_directory(home.LogFolder() + "/" + name);
    const bool isOwnLog = fs::is_regular_file(home.LogFolder() + "/" + name) && Like(name, ownLog);
    ownLogs += isOwnLog;
    EXPECT_TRUE(isFolder || isOwnLog || name.rfind(today, 0) == 0 || name.find(".INFO") != std::string::npos ||
                home.LogFolder() + "/" + name == held)
        << name;
  }
  EXPECT_EQ(ownLogs, 1);
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/" + today + "-090000.7log."));
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/" + today + "notes.txt"));
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/20000101-old-folder/inside.txt"));
  EXPECT_FALSE(fs::exists(home.LogFolder() + "/20000101-120000.42log."));
  EXPECT_FALSE(fs::exists(home.LogFolder() + "/log.20000101-120000.42"));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(notHeld));
  writer.Stop(0);
}

TEST(StartupTest, SecondStartRaisesTheFirstAndExitsWithoutALog) {
  Home home;
  const auto first = Start(home);
  ASSERT_TRUE(first->Started());
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  const auto before = test::FileNames(home.LogFolder());

  // The launcher's activation token and the files travel with the request; the first instance
  // opens the file whatever its name.
  const std::string file = test::TempDir() + "/-\"$(x)\" 歌 'No space left on device'.wav";
  fs::copy_file(test::ToneWav(1), file);
  const auto second = Start(home, {"XDG_ACTIVATION_TOKEN=launcher-token"}, {file});
  ASSERT_TRUE(second->Started());
  EXPECT_EQ(WaitExit(*second, 20s), 0);
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "raise requested by another start with an activation token", 10s));
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "opening on the cut page: " + file, 10s));
  EXPECT_EQ(test::FileNames(home.LogFolder()), before) << "the second start wrote no log";
  EXPECT_EQ(WaitExit(*first, 0ms), -1) << "the first still runs";

  // A first instance that does not answer (stopped) is not confirmed: the later start says so
  // and leaves it its socket, which it serves again once it goes on, without the file of the
  // start that gave up.
  const std::string socket = home.dir + "/TunewellProcessMutex-" + std::to_string(getuid()) + ".socket";
  ASSERT_EQ(kill(first->Pid(), SIGSTOP), 0);
  const auto stalled = Start(home, {}, {file + ".late.wav"});
  EXPECT_EQ(WaitExit(*stalled, 30s), 3);
  EXPECT_TRUE(fs::exists(socket));
  ASSERT_EQ(kill(first->Pid(), SIGCONT), 0);
  const auto again = Start(home);
  EXPECT_EQ(WaitExit(*again, 20s), 0);
  EXPECT_FALSE(WaitForLog(home.LogFolder(), file + ".late.wav", 0s));
  first->Stop(10000);

  // Once the first has ended, its lock is stale and a new start runs normally.
  const auto third = Start(home);
  ASSERT_TRUE(third->Started());
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "main window shown", 30s, third->Pid()))
      << "a start after a crash is not taken for a second instance";
  EXPECT_EQ(WaitExit(*third, 0ms), -1);
  third->Stop(10000);
}

// A first instance that cannot serve its socket says so in its log; a later start that reaches
// no instance runs normally instead of ending silently.
TEST(StartupTest, AStartThatReachesNoFirstInstanceRunsNormally) {
  Home home;
  // A folder where the socket belongs: the first instance cannot listen there.
  const std::string socket = home.dir + "/TunewellProcessMutex-" + std::to_string(getuid()) + ".socket";
  fs::create_directories(socket + "/occupied");
  const auto first = Start(home);
  ASSERT_TRUE(first->Started());
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "single-instance server cannot listen", 5s));

  const auto second = Start(home);
  ASSERT_TRUE(second->Started());
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "starting normally"));
  EXPECT_EQ(WaitExit(*second, 0ms), -1) << "the later start runs";
  second->Stop(10000);
  first->Stop(10000);
}

TEST(StartupTest, InstanceRequestsCarryTheActivationTokenAndForeignLinesAreIgnored) {
  const QStringList files = {"/tmp/a \"b\"\n$(x).mp3", "/媒体/歌.flac", "/-x/\\.wav"};
  for (const QByteArray& token : {QByteArray(), QByteArray("launcher-token_42:x"), QByteArray("令牌")}) {
    for (const QStringList& sent : {QStringList(), files}) {
      const QByteArray line = EncodeInstanceRequest({token, sent});
      EXPECT_TRUE(line.endsWith('\n'));
      EXPECT_EQ(line.count('\n'), 1) << "one line";
      const auto request = DecodeInstanceRequest(line);
      ASSERT_TRUE(request.has_value()) << line.constData();
      EXPECT_EQ(request->activationToken, token);
      EXPECT_EQ(request->files, sent);
    }
  }
  struct Case {
    const char* line;
    bool request;
    const char* token;
    QStringList files;
  };
  const std::vector<Case> cases = {
      {"raise\n", true, "", {}},  // earlier versions
      {R"({"version":2,"request":"raise","activation-token":"t","files":["/a b.mp3"],"x":1})",
       true,
       "t",
       {"/a b.mp3"}},
      // A path the first instance cannot place, or no path at all, is dropped.
      {R"({"version":1,"request":"raise","files":["a.mp3","-x",7,null,"/b.mp3",""]})", true, "", {"/b.mp3"}},
      {R"({"version":1,"request":"raise","files":"/a.mp3"})", true, "", {}},
      {R"({"version":1,"request":"quit"})", false, "", {}},
      {R"({"request":"raise"})", false, "", {}},
      {R"(["raise"])", false, "", {}},
      {"", false, "", {}},
      {"rais", false, "", {}},
  };
  for (const Case& c : cases) {
    const auto request = DecodeInstanceRequest(c.line);
    EXPECT_EQ(request.has_value(), c.request) << c.line;
    if (request) {
      EXPECT_EQ(request->activationToken, QByteArray(c.token)) << c.line;
      EXPECT_EQ(request->files, c.files) << c.line;
    }
  }
}

TEST(StartupTest, UnlistableLogFolderEndsWithMinusOne) {
  Home home;
  fs::create_directories(home.dir + "/data/Tunewell");
  std::ofstream(home.LogFolder()) << "a file where the log folder belongs";
  const auto program = Start(home);
  ASSERT_TRUE(program->Started());
  EXPECT_EQ(WaitExit(*program, 20s), 255);
  EXPECT_TRUE(fs::is_regular_file(home.LogFolder()));
}

}  // namespace
}  // namespace tw
