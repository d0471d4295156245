#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    return "--jobs takes a whole number from 1 to 256";
  if (r.Has("output-dir") && r.Get("output-dir").empty()) return "--output-dir takes a folder";
  switch (sub) {
    case Subcommand::Convert: {
      if (r.Has("channels") && r.Get("channels") != "1" && r.Get("channels") != "2")
        return "--channels takes 1 or 2";
      if (r.Has("rate")) {
        const long rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
        bool known = false;
        if (ParseInteger(r.Get("rate"), 1, 1000000, &n)) {
          for (long rate : rates) known = known || rate == n;
        }
        if (!known) return "--rate takes one of 48000 44100 32000 24000 22050 16000 12000 11025 8000";
      }
      if (r.Has("bitrate") && r.Get("bitrate") != "vbr" &&
          !(ParseBitRate(r.Get("bitrate"), &n) && BitRateIndex(n) > 0))
        return "--bitrate takes one of 320000 256000 192000 128000 96000 64000, or vbr";
      break;
    }
    case Subcommand::Speed:
      if (!ParseDecimal(r.Get("factor"), 0.5, 100, &x))
        return std::string(kMsgBadSpeed) + " (--factor takes 0.5 to 100)";
      break;
    case Subcommand::Volume: {
      if (!ParseDecimal(r.Get("factor"), 0, 100, &x)) return "--factor takes a number from 0 to 100";
      for (const char* fade : {"fade-in", "fade-out"}) {
        if (r.Has(fade) && r.Get(fade).find(',') == std::string::npos) {
          return std::string("--") + fade + " takes START,DURATION in whole seconds";
        }
      }
      break;
    }
    case Subcommand::BgMusic:
      if (r.Has("level") && !ParseInteger(r.Get("level"), -100, 100, &n, true)) {
        return "--level takes a whole number of dB from -100 to 100";
      }
      break;
    case Subcommand::Denoise:
      if (r.Has("level") && r.Get("level") != "1" && r.Get("level") != "2" && r.Get("level") != "3") {
        return "--level takes 1, 2 or 3";
      }
      break;
    case Subcommand::Record: {
      if (!ParseDecimal(r.Get("seconds"), 0.1, 86400, &x))
        return "--seconds takes a number of seconds from 0.1 to 86400";
      const std::string source = r.Get("source", "all");
      if (source != "all" && source != "microphone" && source != "system") {
        return "--source takes all, microphone or system";
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
    result.error = "no command given (try --help)";
    return result;
  }
  const std::string& first = args[0];
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
    result.error = "unknown command '" + first + "' (try --help)";
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
      result.error = "unknown option '" + word + "' (files starting with '-' go after '--')";
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
      result.error = "unknown option '--" + name + "' for " + spec.name + " (try " + spec.name + " --help)";
      return result;
    }
    if (name == "help") {
      r.help = true;
      continue;
    }
    if (option->takesValue && !value) {
      if (i + 1 >= args.size()) {
        result.error = "--" + name + " needs a value";
        return result;
      }
      value = args[++i];
    } else if (!option->takesValue && value) {
      result.error = "--" + name + " takes no value";
      return result;
    }
    if (r.options.count(name)) {
      result.error = "--" + name + " given twice";
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
      result.error = std::string(spec.name) + " needs --" + o.name;
      return result;
    }
  }
  if (std::string bad = CheckValues(r.sub, r); !bad.empty()) {
    result.error = bad;
    return result;
  }
  if (!spec.takesFiles && !r.files.empty()) {
    result.error = std::string(spec.name) + " takes no files";
    return result;
  }
  if (r.sub == Subcommand::Merge && r.files.size() < 2) {
    result.error = r.files.empty() ? kMsgMergeNoFiles : kMsgMergeTooFew;
    return result;
  }
  if (spec.takesFiles && r.files.empty()) {
    result.error = std::string(spec.name) + " needs at least one file";
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
  const std::string common =
      "\nCommon options:\n"
      "  --output-dir DIR   write results into DIR instead of the output folder of the settings\n"
      "  --jobs N           run N jobs at once (default: the number of cores)\n"
      "  --help             show this help\n"
      "Put '--' before file names that start with '-'.\n";
  switch (sub) {
    case Subcommand::Convert:
      return "Usage: tunewell-cli convert --format F [--channels 1|2] [--rate HZ] [--bitrate BPS] FILE...\n"
             "Converts each file (or the sound of a video) to format F; the result is named after the "
             "source\n"
             "with the new extension, keeps its cover picture and tags where F holds them, and replaces\n"
             "an earlier result of the same source; a name another file holds gets \"-2\", \"-3\" ...\n"
             "  --format F      output format, e.g. mp3 wav flac m4a ogg (amr forces 8000 Hz mono)\n"
             "  --channels N    1 or 2 channels (default: the source's)\n"
             "  --rate HZ       48000 44100 32000 24000 22050 16000 12000 11025 8000 (default: the "
             "source's)\n"
             "  --bitrate BPS   320000 256000 192000 128000 96000 64000 (or 320k ...), or vbr: variable\n"
             "                  bit rate for mp3 (elsewhere as the default). Default: the source's bit "
             "rate,\n"
             "                  the nearest the format's encoder takes\n" +
             common;
    case Subcommand::Merge:
      return "Usage: tunewell-cli merge --format F FILE FILE...\n"
             "Joins the files, in the order given, into one file named 合并-<timestamp>.F\n" +
             common;
    case Subcommand::Speed:
      return "Usage: tunewell-cli speed --factor X FILE...\n"
             "Plays each file X times as fast without changing its pitch (X from 0.5 to 100).\n" +
             common;
    case Subcommand::Extract:
      return "Usage: tunewell-cli extract --format F [--accompaniment] FILE...\n"
             "Takes the sound track out of a video; with --accompaniment, or for an audio file, keeps the\n"
             "accompaniment by cancelling the centre (left minus right, one channel).\n" +
             common;
    case Subcommand::Volume:
      return "Usage: tunewell-cli volume --factor X [--fade-in START,DURATION] [--fade-out START,DURATION] "
             "FILE...\n"
             "Multiplies the level by X (0 to 100) and adds fades; times in whole seconds. A fade-out START "
             "of 0\n"
             "ends the fade at the end of the file.\n" +
             common;
    case Subcommand::BgMusic:
      return "Usage: tunewell-cli bgmusic --music FILE [--level DB] [--delay S] [--loop] FILE...\n"
             "Mixes the music under each file: --level changes the music's level in dB (negative is "
             "quieter),\n"
             "--delay starts it after S whole seconds, --loop repeats it to the end of the file.\n" +
             common;
    case Subcommand::Cut:
      return "Usage: tunewell-cli cut --from TIME --to TIME FILE...\n"
             "Writes the stretch between the two times of each file as a new audio file. TIME reads\n"
             "H:MM:SS.cc as on the cut page, e.g. 00:01:05.25 (cc is hundredths). A start after the end\n"
             "cuts from the start to the end of the file.\n" +
             common;
    case Subcommand::Denoise:
      return "Usage: tunewell-cli denoise [--level 1|2|3] [--format F] FILE...\n"
             "Removes steady background noise from audio and video files (level 3 removes most; default 2).\n"
             "  --format F   the result's format: mp3 aac m4a for audio files (default mp3),\n"
             "               mp4 mkv mov flv for video files (default mp4)\n" +
             common;
    case Subcommand::Waveform:
      return "Usage: tunewell-cli waveform [--json] FILE...\n"
             "Prints the waveform values the cut page draws, one per line (or as JSON).\n" +
             common;
    case Subcommand::Probe:
      return "Usage: tunewell-cli probe FILE...\n"
             "Prints each file's path, size and duration as the lists show them, separated by tabs.\n" +
             common;
    case Subcommand::Record:
      return "Usage: tunewell-cli record --seconds S [--source all|microphone|system]\n"
             "Records S seconds of the system sound, the microphone or both into an MP3 in the recordings\n"
             "folder, with the recorder page's settings (noise suppression, gain control, boost).\n"
             "  --source   default: the source last chosen on the recorder page\n" +
             common;
    case Subcommand::None:
      break;
  }
  return "Usage: tunewell-cli COMMAND [OPTIONS] FILE...\n"
         "Runs Tunewell's file jobs without the window.\n\n"
         "Commands:\n"
         "  convert   convert to another format, channel count, sample rate or bit rate\n"
         "  merge     join several files into one\n"
         "  speed     play faster or slower without changing pitch\n"
         "  extract   take the sound out of a video, or keep the accompaniment\n"
         "  volume    change the level, add a fade-in and a fade-out\n"
         "  bgmusic   mix background music under a file\n"
         "  cut       write a stretch of a file as a new file\n"
         "  denoise   remove steady background noise\n"
         "  waveform  print the waveform values\n"
         "  probe     print size and duration\n"
         "  record    record the system sound and/or the microphone\n\n"
         "'tunewell-cli COMMAND --help' describes a command.\n"
         "Exit status: 0 when every job succeeded, 1 when any failed, 2 for usage errors.\n" +
         common;
}

}  // namespace tw::cli
