#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/Translation.h"
#include "tasks/Commands.h"

namespace tw::cli {

namespace {

struct OptionSpec {
  const char* name;
  bool takesValue;
  bool required;
};

struct SubcommandSpec {
  Subcommand sub;
  const char* name;
  bool takesFiles;
  std::vector<OptionSpec> options;
};

const std::vector<SubcommandSpec>& Specs() {
  static const std::vector<SubcommandSpec> specs = {
      {Subcommand::Convert,
       "convert",
       true,
       {{"format", true, true}, {"channels", true, false}, {"rate", true, false}, {"bitrate", true, false}}},
      {Subcommand::Merge, "merge", true, {{"format", true, true}}},
      {Subcommand::Speed, "speed", true, {{"factor", true, true}}},
      {Subcommand::Extract, "extract", true, {{"format", true, true}, {"accompaniment", false, false}}},
      {Subcommand::Volume,
       "volume",
       true,
       {{"factor", true, true}, {"fade-in", true, false}, {"fade-out", true, false}}},
      {Subcommand::BgMusic,
       "bgmusic",
       true,
       {{"music", true, false}, {"level", true, false}, {"delay", true, false}, {"loop", false, false}}},
      {Subcommand::Cut, "cut", true, {{"from", true, true}, {"to", true, true}}},
      {Subcommand::Denoise, "denoise", true, {{"level", true, false}, {"format", true, false}}},
      {Subcommand::Waveform, "waveform", true, {{"json", false, false}}},
      {Subcommand::Probe, "probe", true, {}},
      {Subcommand::Record, "record", false, {{"seconds", true, true}, {"source", true, false}}},
  };
  return specs;
}

const SubcommandSpec* SpecOf(Subcommand sub) {
  for (const auto& spec : Specs()) {
    if (spec.sub == sub) return &spec;
  }
  return nullptr;
}

// Options every subcommand takes.
const OptionSpec kCommonOptions[] = {
    {"output-dir", true, false}, {"jobs", true, false}, {"help", false, false}};

const OptionSpec* FindOption(const SubcommandSpec& spec, const std::string& name) {
  for (const auto& o : kCommonOptions) {
    if (name == o.name) return &o;
  }
  for (const auto& o : spec.options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

// A whole decimal number (sign allowed when asked), no blanks, within [lo, hi].
bool ParseInteger(const std::string& text, long lo, long hi, long* out, bool allowSign = false) {
  if (text.empty() || text.size() > 12) return false;
  size_t i = 0;
  if (allowSign && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < lo || value > hi) return false;
  *out = value;
  return true;
}

// A plain decimal number ("1", "1.25", ".5"), no exponent, no sign, finite, within [lo, hi].
bool ParseDecimal(const std::string& text, double lo, double hi, double* out) {
  if (text.empty() || text.size() > 16) return false;
  bool digit = false, dot = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  const double value = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(value) || value < lo || value > hi) return false;
  *out = value;
  return true;
}

// Bit rates in bit/s; "128k" is read as 128000.
bool ParseBitRate(const std::string& text, long* out) {
  std::string digits = text;
  long scale = 1;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) {
    digits.pop_back();
    scale = 1000;
  }
  long value = 0;
  if (!ParseInteger(digits, 1, 100000000, &value)) return false;
  *out = value * scale;
  return true;
}

// Checks the values of the options present; "" when all are well formed.
std::string CheckValues(Subcommand sub, const CliRequest& r) {
  long n = 0;
  double x = 0;
  if (r.Has("jobs") && !ParseInteger(r.Get("jobs"), 1, 256, &n))
    return Tr("Cli", "--jobs 取 1 到 256 的整数");
  if (r.Has("output-dir") && r.Get("output-dir").empty()) return Tr("Cli", "--output-dir 取一个文件夹");
  switch (sub) {
    case Subcommand::Convert: {
      if (r.Has("channels") && r.Get("channels") != "1" && r.Get("channels") != "2")
        return Tr("Cli", "--channels 取 1 或 2");
      if (r.Has("rate")) {
        const long rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
        bool known = false;
        if (ParseInteger(r.Get("rate"), 1, 1000000, &n)) {
          for (long rate : rates) known = known || rate == n;
        }
        if (!known) return Tr("Cli", "--rate 取 48000 44100 32000 24000 22050 16000 12000 11025 8000 之一");
      }
      if (r.Has("bitrate") && r.Get("bitrate") != "vbr" &&
          !(ParseBitRate(r.Get("bitrate"), &n) && BitRateIndex(n) > 0))
        return Tr("Cli", "--bitrate 取 320000 256000 192000 128000 96000 64000 之一，或 vbr");
      break;
    }
    case Subcommand::Speed:
      if (!ParseDecimal(r.Get("factor"), 0.5, 100, &x))
        return Tr("Commands", kMsgBadSpeed) + Tr("Cli", "（--factor 取 0.5 到 100）");
      if (const std::string refusal = CheckSpeed(r.Get("factor")); !refusal.empty()) return Tr("Commands", refusal.c_str());
      break;
    case Subcommand::Volume: {
      if (!ParseDecimal(r.Get("factor"), 0, 100, &x)) return Tr("Cli", "--factor 取 0 到 100 的数");
      for (const char* fade : {"fade-in", "fade-out"}) {
        if (r.Has(fade) && r.Get(fade).find(',') == std::string::npos) {
          return FormatText(Tr("Cli", "--%1 取 起点,时长（整秒）"), {fade});
        }
      }
      break;
    }
    case Subcommand::BgMusic:
      if (r.Has("level") && !ParseInteger(r.Get("level"), -100, 100, &n, true)) {
        return Tr("Cli", "--level 取 -100 到 100 的整数（dB）");
      }
      break;
    case Subcommand::Denoise:
      if (r.Has("level") && r.Get("level") != "1" && r.Get("level") != "2" && r.Get("level") != "3") {
        return Tr("Cli", "--level 取 1、2 或 3");
      }
      break;
    case Subcommand::Record: {
      if (!ParseDecimal(r.Get("seconds"), 0.1, 86400, &x))
        return Tr("Cli", "--seconds 取 0.1 到 86400 的秒数");
      const std::string source = r.Get("source", "all");
      if (source != "all" && source != "microphone" && source != "system") {
        return Tr("Cli", "--source 取 all、microphone 或 system");
      }
      break;
    }
    default:
      break;
  }
  return "";
}

}  // namespace

std::string CliRequest::Get(const std::string& name, const std::string& fallback) const {
  const auto it = options.find(name);
  return it == options.end() ? fallback : it->second;
}

const char* SubcommandName(Subcommand sub) {
  const SubcommandSpec* spec = SpecOf(sub);
  return spec ? spec->name : "";
}

std::optional<Subcommand> SubcommandByName(const std::string& name) {
  for (const auto& spec : Specs()) {
    if (name == spec.name) return spec.sub;
  }
  return std::nullopt;
}

namespace {

// Control characters of the words a message repeats shown as escapes, so that the message
// stays one line and a word cannot write lines of its own below it.
std::string OneLineMessage(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    }
  }
  return out;
}

ParseResult ParseWords(const std::vector<std::string>& args) {
  ParseResult result;
  CliRequest& r = result.request;
  if (args.empty()) {
    result.error = Tr("Cli", "没有给出命令（见 --help）");
    return result;
  }
  const std::string& first = args[0];
  if ((first == "--version" || first == "--formats") && args.size() == 1) {
    (first == "--version" ? r.version : r.formats) = true;
    result.ok = true;
    return result;
  }
  if (first == "--help" || first == "-h" || first == "help") {
    r.help = true;
    if (args.size() > 1) {
      if (auto sub = SubcommandByName(args[1])) r.sub = *sub;
    }
    result.ok = true;
    return result;
  }
  const auto sub = SubcommandByName(first);
  if (!sub) {
    result.error = FormatText(Tr("Cli", "未知命令 '%1'（见 --help）"), {first});
    return result;
  }
  r.sub = *sub;
  const SubcommandSpec& spec = *SpecOf(r.sub);

  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      // A lone "-" names no option; it is a file argument like any other word.
      r.files.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "-h") {
      r.help = true;
      continue;
    }
    if (word.rfind("--", 0) != 0) {
      result.error = FormatText(Tr("Cli", "未知选项 '%1'（以 '-' 开头的文件名放在 '--' 之后）"), {word});
      return result;
    }
    std::string name = word.substr(2);
    std::optional<std::string> value;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const OptionSpec* option = FindOption(spec, name);
    if (!option) {
      result.error = FormatText(Tr("Cli", "%2 没有选项 '--%1'（见 %2 --help）"), {name, spec.name});
      return result;
    }
    if (name == "help") {
      r.help = true;
      continue;
    }
    if (option->takesValue && !value) {
      if (i + 1 >= args.size()) {
        result.error = FormatText(Tr("Cli", "--%1 需要一个值"), {name});
        return result;
      }
      value = args[++i];
    } else if (!option->takesValue && value) {
      result.error = FormatText(Tr("Cli", "--%1 不带值"), {name});
      return result;
    }
    if (r.options.count(name)) {
      result.error = FormatText(Tr("Cli", "--%1 给了两次"), {name});
      return result;
    }
    r.options[name] = value.value_or("");
  }
  if (r.help) {
    result.ok = true;
    return result;
  }
  for (const auto& o : spec.options) {
    if (o.required && !r.Has(o.name)) {
      result.error = FormatText(Tr("Cli", "%1 需要 --%2"), {spec.name, o.name});
      return result;
    }
  }
  if (std::string bad = CheckValues(r.sub, r); !bad.empty()) {
    result.error = bad;
    return result;
  }
  if (!spec.takesFiles && !r.files.empty()) {
    result.error = FormatText(Tr("Cli", "%1 不接受文件"), {spec.name});
    return result;
  }
  if (r.sub == Subcommand::Merge && r.files.size() < 2) {
    result.error = Tr("Commands", r.files.empty() ? kMsgMergeNoFiles : kMsgMergeTooFew);
    return result;
  }
  if (spec.takesFiles && r.files.empty()) {
    result.error = FormatText(Tr("Cli", "%1 至少需要一个文件"), {spec.name});
    return result;
  }
  if (r.Has("jobs")) r.jobs = std::atoi(r.Get("jobs").c_str());
  r.outputDir = r.Get("output-dir");
  r.options.erase("jobs");
  r.options.erase("output-dir");
  result.ok = true;
  return result;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult result = ParseWords(args);
  result.error = OneLineMessage(result.error);
  return result;
}

std::string HelpText(Subcommand sub) {
  const std::string common = Tr("Cli",
                                "\n"
                                "通用选项：\n"
                                "  --output-dir DIR   结果写入 DIR，而不是设置中的输出目录\n"
                                "  --jobs N           同时运行 N 个任务（默认：处理器核数）\n"
                                "  --help             显示本帮助\n"
                                "以 '-' 开头的文件名请放在 '--' 之后。\n");
  std::string help;
  switch (sub) {
    case Subcommand::Convert:
      help =
          Tr("Cli",
             "用法：tunewell-cli convert --format F [--channels 1|2] [--rate HZ] [--bitrate BPS] FILE...\n"
             "把每个文件（或视频的声音）转换为格式 F；结果以源文件命名、换上新扩展名，在 F 能容纳时\n"
             "保留封面图片和标签，从不替换已有的文件；任务结束时名字已被占用则加上 \"-2\"、\"-3\" ...\n"
             "  --format F      输出格式，本机的转码程序能写出的之一（见 --formats；amr 为 8000 Hz 单声道）\n"
             "  --channels N    1 或 2 个声道（默认：与源文件相同）\n"
             "  --rate HZ       48000 44100 32000 24000 22050 16000 12000 11025 8000（默认：与源文件相同）\n"
             "  --bitrate BPS   320000 256000 192000 128000 96000 64000（或 320k ...），或 vbr：mp3 用可变\n"
             "                  比特率（其他格式同默认）。默认：源文件的比特率，取编码器可用的最接近值\n");
      break;
    case Subcommand::Merge:
      help = FormatText(Tr("Cli",
                           "用法：tunewell-cli merge --format F FILE FILE...\n"
                           "把这些文件按给出的顺序合并为一个文件，命名为 %1<时间戳>.F\n"),
                        {"合并-"});
      break;
    case Subcommand::Speed:
      help = Tr("Cli",
                "用法：tunewell-cli speed --factor X FILE...\n"
                "把每个文件加快到 X 倍速播放，音调不变（X 取 0.5 到 100）。\n");
      break;
    case Subcommand::Extract:
      help = Tr("Cli",
                "用法：tunewell-cli extract --format F [--accompaniment] FILE...\n"
                "取出视频的声音；加 --accompaniment 或对音频文件，消除中置人声保留伴奏\n"
                "（左声道减右声道，单声道）。\n");
      break;
    case Subcommand::Volume:
      help = Tr("Cli",
                "用法：tunewell-cli volume --factor X [--fade-in START,DURATION] [--fade-out START,DURATION] "
                "FILE...\n"
                "把音量乘以 X（0 到 100）并加上淡入淡出；时间为整秒。淡出的 START 为 0 时，\n"
                "淡出在文件末尾结束。\n");
      break;
    case Subcommand::BgMusic:
      help = Tr("Cli",
                "用法：tunewell-cli bgmusic --music FILE [--level DB] [--delay S] [--loop] FILE...\n"
                "把音乐混在每个文件下面：--level 以 dB 调整音乐的音量（负数更轻），\n"
                "--delay 在 S 整秒后开始，--loop 循环播放至文件结束。\n");
      break;
    case Subcommand::Cut:
      help = Tr("Cli",
                "用法：tunewell-cli cut --from TIME --to TIME FILE...\n"
                "把每个文件两个时间之间的片段写成新的音频文件。TIME 与剪辑页相同，为\n"
                "H:MM:SS.cc，例如 00:01:05.25（cc 为百分之一秒）。开始晚于结束时，\n"
                "从文件开头剪到结尾。\n");
      break;
    case Subcommand::Denoise:
      help = Tr("Cli",
                "用法：tunewell-cli denoise [--level 1|2|3] [--format F] FILE...\n"
                "去除音频和视频文件中持续的背景噪声（3 级去除最多；默认 2）。\n"
                "  --format F   结果的格式：音频文件为 mp3 aac m4a（默认 mp3），\n"
                "               视频文件为 mp4 mkv mov flv（默认 mp4）\n");
      break;
    case Subcommand::Waveform:
      help = Tr("Cli",
                "用法：tunewell-cli waveform [--json] FILE...\n"
                "输出剪辑页所画的波形值，每行一个（或为 JSON）。\n");
      break;
    case Subcommand::Probe:
      help = Tr("Cli",
                "用法：tunewell-cli probe FILE...\n"
                "输出每个文件的路径、大小和时长，与列表中所示相同，以制表符分隔。\n");
      break;
    case Subcommand::Record:
      help = Tr("Cli",
                "用法：tunewell-cli record --seconds S [--source all|microphone|system]\n"
                "把 S 秒的系统声音、麦克风或两者录成录音文件夹中的 MP3，\n"
                "使用录音页的设置（降噪、自动增益、增益强度）。\n"
                "  --source   默认：录音页上次选择的来源\n");
      break;
    case Subcommand::None:
      help = Tr("Cli",
                "用法：tunewell-cli COMMAND [OPTIONS] FILE...\n"
                "不开窗口，运行 Tunewell 的文件任务。\n"
                "\n"
                "命令：\n"
                "  convert   转换为其他格式、声道数、采样率或比特率\n"
                "  merge     把多个文件合并为一个\n"
                "  speed     加快或放慢，音调不变\n"
                "  extract   取出视频的声音，或保留伴奏\n"
                "  volume    调整音量，加上淡入和淡出\n"
                "  bgmusic   在文件下面混入背景音乐\n"
                "  cut       把文件的一段写成新文件\n"
                "  denoise   去除持续的背景噪声\n"
                "  waveform  输出波形值\n"
                "  probe     输出大小和时长\n"
                "  record    录制系统声音和/或麦克风\n"
                "\n"
                "'tunewell-cli COMMAND --help' 说明一个命令，'tunewell-cli --version' 显示版本，\n"
                "'tunewell-cli --formats' 列出本机能写出的格式。\n"
                "退出状态：全部任务成功为 0，有任务失败为 1，用法错误为 2。\n");
      break;
  }
  return help + common;
}

}  // namespace tw::cli
