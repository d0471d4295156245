// The command line speaks the language of the desktop's locale or of the settings, from the
// window's catalogue: its help, its own errors and the page texts it shares.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "cli/Catalogue.h"
#include "tests/support/TestMedia.h"

namespace tw::cli {
namespace {

struct Output {
  std::string text;  // standard output and standard error
  int status = -1;
};

// Runs the program with a bare environment plus env ("NAME=value ...", plain words only) and
// its own data folder.
Output RunCli(const std::string& env, const std::string& args, const std::string& dataHome) {
  const std::string line = "env -i PATH=/usr/bin:/bin HOME=" + dataHome + " XDG_DATA_HOME=" + dataHome + " " +
                           env + " " TW_CLI_PATH " " + args + " 2>&1";
  Output out;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
  const int status = pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string FreshFolder() {
  char folder[] = "/tmp/tw-cli-language.XXXXXX";
  return mkdtemp(folder) ? folder : "/tmp";
}

TEST(Catalogue, HelpAndErrorsInEachLanguage) {
  const std::string home = FreshFolder();
  const struct {
    const char* env;
    const char* help;     // a line of the main help
    const char* unknown;  // the error of an unknown command
    const char* merge;    // a page's refusal shared with the command line
    const char* fade;     // a page's check of its fields, made by the planner
    const char* missing;  // a job that cannot start its transcoder
  } cases[] = {
      {"LANG=en_US.UTF-8", "Usage: tunewell-cli COMMAND", "unknown command 'frob' (try --help)",
       "Please add at least 2 audio files!", "The fade-in start takes digits only!",
       "cannot start the transcoder 'ffmpeg' (is ffmpeg installed?)"},
      {"LANG=de_DE.UTF-8", "Usage: tunewell-cli COMMAND", "unknown command 'frob' (try --help)",
       "Please add at least 2 audio files!", "The fade-in start takes digits only!",
       "cannot start the transcoder 'ffmpeg' (is ffmpeg installed?)"},
      {"LANG=zh_CN.UTF-8", "用法：tunewell-cli COMMAND", "未知命令 'frob'（见 --help）",
       "至少需要添加2个音频文件!", "淡入起始位置只能输入数字!",
       "无法启动转码程序 'ffmpeg'（是否已安装 ffmpeg？）"},
      {"LANG=C", "用法：tunewell-cli COMMAND", "未知命令 'frob'（见 --help）", "至少需要添加2个音频文件!",
       "淡入起始位置只能输入数字!", "无法启动转码程序 'ffmpeg'（是否已安装 ffmpeg？）"},
      {"", "用法：tunewell-cli COMMAND", "未知命令 'frob'（见 --help）", "至少需要添加2个音频文件!",
       "淡入起始位置只能输入数字!", "无法启动转码程序 'ffmpeg'（是否已安装 ffmpeg？）"},
      {"LANG=C LANGUAGE=en", "Usage: tunewell-cli COMMAND", "unknown command 'frob' (try --help)",
       "Please add at least 2 audio files!", "The fade-in start takes digits only!",
       "cannot start the transcoder 'ffmpeg' (is ffmpeg installed?)"},
  };
  const std::string tone = test::ToneWav(1);
  const std::string noTranscoder = FreshFolder();
  for (const auto& c : cases) {
    const Output help = RunCli(c.env, "--help", home);
    EXPECT_EQ(help.status, 0) << c.env;
    EXPECT_NE(help.text.find(c.help), std::string::npos) << c.env << ":\n" << help.text;
    const Output unknown = RunCli(c.env, "frob", home);
    EXPECT_EQ(unknown.status, 2) << c.env;
    EXPECT_EQ(unknown.text, std::string("tunewell-cli: ") + c.unknown + "\n") << c.env;
    const Output merge = RunCli(c.env, "merge --format mp3 /etc/hostname", home);
    EXPECT_EQ(merge.text, std::string("tunewell-cli: ") + c.merge + "\n") << c.env;
    const Output fade = RunCli(c.env, "volume --factor 1 --fade-in a,3 /etc/hostname", home);
    EXPECT_EQ(fade.text, std::string("tunewell-cli: ") + c.fade + "\n") << c.env;
    const Output missing = RunCli(std::string(c.env) + " PATH=" + noTranscoder,
                                  "convert --format mp3 --output-dir " + home + " " + tone, home);
    EXPECT_EQ(missing.text, "tunewell-cli: " + tone + ": " + c.missing + "\n") << c.env;
  }
}

TEST(Catalogue, SettingOverridesTheLocale) {
  const std::string home = FreshFolder();
  const std::string config = home + "/Tunewell/Config";
  ASSERT_EQ(std::system(("mkdir -p " + config).c_str()), 0);
  const struct {
    const char* setting;
    const char* env;
    const char* help;
  } cases[] = {
      {"en", "LANG=zh_CN.UTF-8", "Usage: tunewell-cli"},
      {"en", "LANG=C", "Usage: tunewell-cli"},
      {"zh_CN", "LANG=en_US.UTF-8", "用法：tunewell-cli"},
      {"auto", "LANG=en_US.UTF-8", "Usage: tunewell-cli"},
      {"auto", "LANG=C", "用法：tunewell-cli"},
  };
  for (const auto& c : cases) {
    std::ofstream(config + "/configure.ini") << "[global]\nlanguage=" << c.setting << "\n";
    const Output help = RunCli(c.env, "convert --help", home);
    EXPECT_EQ(help.text.rfind(c.help, 0), 0u) << c.setting << " " << c.env << ":\n" << help.text;
  }
}

}  // namespace
}  // namespace tw::cli
