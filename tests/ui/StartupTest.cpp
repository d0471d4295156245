// Start-up and lifetime as real processes of the built program: the log clean-up, the refusal
// of an unreadable log folder, and the single instance (a second start raises the first, hands
// it its files and ends at once without writing a log; one that reaches no first instance runs),
// and the single-instance request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/TestMedia.h"
#include "ui/Application.h"

extern char** environ;

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

pid_t Start(const Home& home, const std::vector<std::string>& extraEnv = {},
            const std::vector<std::string>& files = {}) {
  std::vector<std::string> env = {"HOME=" + home.dir,
                                  "XDG_DATA_HOME=" + home.dir + "/data",
                                  "XDG_CONFIG_HOME=" + home.dir + "/config",
                                  "XDG_RUNTIME_DIR=" + home.dir,
                                  "QT_QPA_PLATFORM=offscreen",
                                  "ASAN_OPTIONS=detect_leaks=0"};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("PATH=", 0) == 0 || v.rfind("LD_LIBRARY_PATH=", 0) == 0) env.push_back(v);
  }
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  const std::string program = std::string(TW_BINARY_DIR) + "/tunewell";
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  const std::string separator = "--";
  if (!files.empty()) argv.push_back(const_cast<char*>(separator.c_str()));
  for (const std::string& file : files) argv.push_back(const_cast<char*>(file.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The exit status, or -1 when the process had not ended within the time.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(20ms);
  }
  return -1;
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  if (WaitExit(pid, 10s) < 0) {
    kill(pid, SIGKILL);
    WaitExit(pid, 10s);
  }
}

std::string ReadLogs(const std::string& folder) {
  std::string all;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path());
    std::stringstream s;
    s << in.rdbuf();
    all += s.str();
  }
  return all;
}

bool WaitForLog(const std::string& folder, const std::string& line, std::chrono::milliseconds timeout = 30s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (ReadLogs(folder).find(line) != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
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

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
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

  const pid_t pid = Start(home);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  Stop(pid);

  // This run's log is "log." + date-time + "." + process id, so that the next start clears it
  // like every earlier run's.
  const std::string ownLog = "log." + today + "-######." + std::to_string(pid);
  int ownLogs = 0;
  for (const std::string& name : Names(home.LogFolder())) {
    const bool isFolder = fs::is_directory(home.LogFolder() + "/" + name);
    const bool isOwnLog = fs::is_regular_file(home.LogFolder() + "/" + name) && Like(name, ownLog);
    ownLogs += isOwnLog;
    EXPECT_TRUE(isFolder || isOwnLog || name.rfind(today, 0) == 0 || name.find(".INFO") != std::string::npos)
        << name;
  }
  EXPECT_EQ(ownLogs, 1);
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/" + today + "-090000.7log."));
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/" + today + "notes.txt"));
  EXPECT_TRUE(fs::exists(home.LogFolder() + "/20000101-old-folder/inside.txt"));
  EXPECT_FALSE(fs::exists(home.LogFolder() + "/20000101-120000.42log."));
  EXPECT_FALSE(fs::exists(home.LogFolder() + "/log.20000101-120000.42"));
}

TEST(StartupTest, SecondStartRaisesTheFirstAndExitsWithoutALog) {
  Home home;
  const pid_t first = Start(home);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  const auto before = Names(home.LogFolder());

  // The launcher's activation token and the files travel with the request; the first instance
  // opens the file whatever its name.
  const std::string file = test::TempDir() + "/-\"$(x)\" 歌 'No space left on device'.wav";
  fs::copy_file(test::ToneWav(1), file);
  const pid_t second = Start(home, {"XDG_ACTIVATION_TOKEN=launcher-token"}, {file});
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitExit(second, 20s), 0);
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "raise requested by another start with an activation token", 10s));
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "opening on the cut page: " + file, 10s));
  EXPECT_EQ(Names(home.LogFolder()), before) << "the second start wrote no log";
  EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first still runs";
  Stop(first);

  // Once the first has ended, its lock is stale and a new start runs normally.
  const pid_t third = Start(home);
  ASSERT_GT(third, 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(WaitExit(third, 0ms), -1) << "a start after a crash is not taken for a second instance";
  Stop(third);
}

// A first instance that cannot serve its socket says so in its log; a later start that reaches
// no instance runs normally instead of ending silently.
TEST(StartupTest, AStartThatReachesNoFirstInstanceRunsNormally) {
  Home home;
  // A folder where the socket belongs: the first instance cannot listen there.
  const std::string socket = home.dir + "/TunewellProcessMutex-" + std::to_string(getuid()) + ".socket";
  fs::create_directories(socket + "/occupied");
  const pid_t first = Start(home);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForLog(home.LogFolder(), "main window shown"));
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "single-instance server cannot listen", 5s));

  const pid_t second = Start(home);
  ASSERT_GT(second, 0);
  EXPECT_TRUE(WaitForLog(home.LogFolder(), "starting normally"));
  EXPECT_EQ(WaitExit(second, 0ms), -1) << "the later start runs";
  Stop(second);
  Stop(first);
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
  const pid_t pid = Start(home);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid, 20s), 255);
  EXPECT_TRUE(fs::is_regular_file(home.LogFolder()));
}

}  // namespace
}  // namespace tw
