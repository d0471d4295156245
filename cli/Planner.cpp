#include "cli/Planner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "app/MediaHelpers.h"
#include "app/SettingsFile.h"
#include "app/Translation.h"
#include "tasks/FailureReason.h"
#include "tasks/Transcoder.h"

namespace tw::cli {

namespace {

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.string();
}

std::string FormatList() {
  std::string list;
  for (const std::string& f : WritableAudioFormats()) list += (list.empty() ? "" : " ") + f;
  return list;
}

// The format option of convert, merge and extract: one of the formats the page offers.
std::string CheckFormat(const std::string& format) {
  const std::vector<std::string> offered = WritableAudioFormats();
  if (std::find(offered.begin(), offered.end(), format) != offered.end()) return "";
  return Tr("Commands", kMsgBadFormat) + FormatText(Tr("Cli", "（--format 取以下之一：%1）"), {FormatList()});
}

std::pair<std::string, std::string> SplitPair(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return {text, ""};
  return {text.substr(0, comma), text.substr(comma + 1)};
}

int PlainPercent(std::int64_t positionMs, std::int64_t durationMs, const BuiltCommand&) {
  return TaskPercent(positionMs, durationMs);
}

// Adds one transcoder job per accepted file; refused files go to plan.rejected.
void PerFile(const CliRequest& request, const ContextFn& context, OperationKind kind, Plan& plan,
             const std::function<BuildFn(const FileEntry&)>& makeBuild, PercentFn percent = PlainPercent) {
  const std::vector<CheckedInput> checked = CheckInputs(request.files, true);
  for (size_t i = 0; i < request.files.size(); ++i) {
    const std::string& file = request.files[i];
    const CheckedInput& input = checked[i];
    if (!input.ok) {
      plan.rejected.emplace_back(file, input.reason);
      continue;
    }
    plan.jobs.push_back(std::make_unique<TranscoderJob>(file, kind, context, makeBuild(input.entry), percent));
    plan.jobs.back()->NoteInput(input.entry);
  }
}

void PlanConvert(const CliRequest& r, const ContextFn& context, Plan& plan) {
  ConvertOptions options;
  options.format = r.Get("format");
  if (std::string bad = CheckFormat(options.format); !bad.empty()) {
    plan.usageError = bad;
    return;
  }
  if (r.Has("channels")) options.channelIndex = r.Get("channels") == "2" ? 1 : 2;
  if (r.Has("rate")) {
    const long rates[] = {0, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    const long rate = std::atol(r.Get("rate").c_str());
    for (int i = 1; i < 10; ++i) {
      if (rates[i] == rate) options.sampleRateIndex = i;
    }
  }
  if (r.Has("bitrate")) {
    std::string text = r.Get("bitrate");
    long scale = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
      text.pop_back();
      scale = 1000;
    }
    options.bitRateIndex =
        text == "vbr" ? kVbrIndex : std::max(0, BitRateIndex(std::atol(text.c_str()) * scale));
  }
  PerFile(r, context, OperationKind::Convert, plan, [options](const FileEntry& entry) -> BuildFn {
    return [options, entry](const CommandContext& ctx) { return BuildConvertCommand(entry, options, ctx); };
  });
}

void PlanMerge(const CliRequest& r, const ContextFn& context, Plan& plan) {
  const std::string format = r.Get("format");
  if (std::string bad = CheckFormat(format); !bad.empty()) {
    plan.usageError = bad;
    return;
  }
  std::vector<FileEntry> entries;
  const std::vector<CheckedInput> checked = CheckInputs(r.files, true);
  for (size_t i = 0; i < r.files.size(); ++i) {
    const std::string& file = r.files[i];
    const CheckedInput& input = checked[i];
    if (!input.ok) {
      plan.rejected.emplace_back(file, input.reason);
    } else {
      entries.push_back(input.entry);
    }
  }
  // One bad file spoils the whole merge: nothing runs, every refused file is named.
  if (!plan.rejected.empty()) return;
  const std::string label = FormatText(Tr("Cli", "合并 %1 个文件"), {std::to_string(entries.size())});
  auto job = std::make_unique<TranscoderJob>(
      label, OperationKind::Merge, context,
      [entries, format](const CommandContext& ctx) { return BuildMergeCommand(entries, format, ctx); },
      [](std::int64_t pos, std::int64_t, const BuiltCommand& built) {
        return MergePercent(pos, built.totalSeconds);
      },
      kMergeTaskId, true);
  plan.jobs.push_back(std::move(job));
}

void PlanSpeed(const CliRequest& r, const ContextFn& context, Plan& plan) {
  const double factor = std::strtod(r.Get("factor").c_str(), nullptr);
  const std::string speed = SpeedText(factor);
  PerFile(
      r, context, OperationKind::Speed, plan,
      [speed](const FileEntry& entry) -> BuildFn {
        return [speed, entry](const CommandContext& ctx) { return BuildSpeedCommand(entry, speed, ctx); };
      },
      [factor](std::int64_t pos, std::int64_t dur, const BuiltCommand&) {
        return SpeedPercent(pos, dur, factor);
      });
}

void PlanExtract(const CliRequest& r, const ContextFn& context, Plan& plan) {
  const std::string format = r.Get("format");
  if (std::string bad = CheckFormat(format); !bad.empty()) {
    plan.usageError = bad;
    return;
  }
  const int type = r.Has("accompaniment") ? 1 : 0;
  PerFile(r, context, OperationKind::Extract, plan, [format, type](const FileEntry& entry) -> BuildFn {
    return [format, type, entry](const CommandContext& ctx) {
      return BuildExtractCommand(entry, format, type, ctx);
    };
  });
}

void PlanVolume(const CliRequest& r, const ContextFn& context, Plan& plan) {
  VolumeOptions options;
  options.factor = static_cast<float>(std::strtod(r.Get("factor").c_str(), nullptr));
  if (r.Has("fade-in")) {
    options.fadeIn = true;
    std::tie(options.fadeInStart, options.fadeInDuration) = SplitPair(r.Get("fade-in"));
  }
  if (r.Has("fade-out")) {
    options.fadeOut = true;
    std::tie(options.fadeOutStart, options.fadeOutDuration) = SplitPair(r.Get("fade-out"));
  }
  if (std::string bad = CheckVolumeOptions(options); !bad.empty()) {
    plan.usageError = Tr("Commands", bad.c_str());
    return;
  }
  PerFile(r, context, OperationKind::Volume, plan, [options](const FileEntry& entry) -> BuildFn {
    return [options, entry](const CommandContext& ctx) { return BuildVolumeCommand(entry, options, ctx); };
  });
}

void PlanBgMusic(const CliRequest& r, const ContextFn& context, Plan& plan) {
  BgMusicOptions options;
  options.levelDb = std::atoi(r.Get("level", "0").c_str());
  options.startPos = r.Get("delay");
  options.loop = r.Has("loop");
  if (r.Has("music")) {
    CheckedInput music = CheckInput(r.Get("music"), true);
    if (!music.ok) {
      plan.usageError = "--music " + r.Get("music") + ": " + music.reason;
      return;
    }
    options.musicPath = music.entry.fullPath;
    options.musicFacts = music.entry.facts;
  }
  // The page's checks, made once before any file: the builder refuses without writing.
  CommandContext dry;
  FileEntry probe;
  probe.fileName = "check.wav";
  probe.fullPath = "/check.wav";
  if (BuiltCommand check = BuildBgMusicCommand(probe, options, dry); !check.ok) {
    plan.usageError = check.message;
    return;
  }
  PerFile(r, context, OperationKind::BgMusic, plan, [options](const FileEntry& entry) -> BuildFn {
    return [options, entry](const CommandContext& ctx) { return BuildBgMusicCommand(entry, options, ctx); };
  });
}

void PlanCut(const CliRequest& r, const ContextFn& context, Plan& plan) {
  const std::string from = r.Get("from"), to = r.Get("to");
  if (!IsTimeText(from)) {
    plan.usageError = Tr("CutPage", kMsgCutStartFormat) + Tr("Cli", "（--from 的格式为 H:MM:SS.cc）");
    return;
  }
  if (!IsTimeText(to)) {
    plan.usageError = Tr("CutPage", kMsgCutEndFormat) + Tr("Cli", "（--to 的格式为 H:MM:SS.cc）");
    return;
  }
  const double left = ParseTimeText(from), right = ParseTimeText(to);
  if (left < kCutTimeEpsilon && right < kCutTimeEpsilon) {
    plan.usageError = Tr("CutPage", kMsgCutNothingChosen);
    return;
  }
  const std::vector<CheckedInput> checked = CheckInputs(r.files, true);
  for (size_t i = 0; i < r.files.size(); ++i) {
    const std::string& file = r.files[i];
    const CheckedInput& input = checked[i];
    if (!input.ok) {
      plan.rejected.emplace_back(file, input.reason);
      continue;
    }
    const FileEntry source = input.entry;
    // The stretch as the page checks it; a time past the end names the file's length.
    if (const char* refusal = CheckCutStretch(source.duration, left, right)) {
      std::string reason = Tr("CutPage", refusal);
      const std::string_view text = refusal;
      if (text == kMsgCutStartPastEnd || text == kMsgCutEndPastEnd)
        reason += " (" + FormatTimeText(source.duration) + ")";
      plan.rejected.emplace_back(file, reason);
      continue;
    }
    const double start = left < kCutTimeEpsilon ? 0 : left, end = right;
    auto job = std::make_unique<TranscoderJob>(
        file, OperationKind::Cut, context,
        [source, start, end](const CommandContext& ctx) {
          return BuildCutCommand(MakeCutEntry(source, start, end, ctx), ctx);
        },
        // Against the stretch, which is what the run writes; the source's length would leave
        // the bar short of its end.
        [start, end](std::int64_t pos, std::int64_t, const BuiltCommand&) {
          return TaskPercent(pos, static_cast<std::int64_t>((end - start) * 1000));
        });
    job->NoteInput(source);
    plan.jobs.push_back(std::move(job));
  }
}

}  // namespace

CheckedInput CheckInput(const std::string& pathAsGiven, bool needSound) {
  CheckedInput result;
  const std::string path = AbsolutePath(pathAsGiven);
  const SourceCheck check = CheckSource(path, needSound);
  if (check.reason != FailureReason::None) {
    result.reason = ReasonLine(check.reason, check.reason == FailureReason::Inaccessible ? check.detail : "");
    return result;
  }
  result.entry = EntryForPath(path);
  result.entry.duration = check.duration;
  result.entry.facts = check.facts;
  result.ok = true;
  return result;
}

std::vector<CheckedInput> CheckInputs(const std::vector<std::string>& files, bool needSound) {
  std::vector<CheckedInput> results(files.size());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < files.size(); i = next++) results[i] = CheckInput(files[i], needSound);
  };
  const size_t threads = std::min<size_t>(files.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  return results;
}

std::string CheckOutputFolder(const std::string& folder) {
  CreateFolderTree(folder);
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0)
    return FormatText(Tr("Cli", "无法建立该文件夹：%1"), {std::strerror(errno)});
  if (!S_ISDIR(st.st_mode)) return Tr("Cli", "不是文件夹");
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return FormatText(Tr("Cli", "无法写入该文件夹：%1"), {std::strerror(errno)});
  return "";
}

ContextFn MakeContextFn(const std::string& outputDir) {
  const std::string folder = outputDir.empty() ? "" : AbsolutePath(outputDir);
  return [folder]() {
    CommandContext ctx;
    ctx.transcoder = TranscoderPath();
    ctx.outputFolder = folder.empty() ? GetOutputFolder() : folder;
    if (!folder.empty()) CreateFolderTree(folder);
    while (ctx.outputFolder.size() > 1 && ctx.outputFolder.back() == '/') ctx.outputFolder.pop_back();
    ctx.timestamp = LocalTimestamp(std::time(nullptr));
    ctx.bitRate = QualityBitRate(SettingsFile::Instance().GetInt(kSettingsSection, kKeyAudioQuality, 0));
    return ctx;
  };
}

std::string SpeedText(double factor) {
  static const struct {
    double value;
    const char* text;
  } kPresets[] = {{0.5, "0.5"}, {0.75, "0.75"}, {1.0, "1.0"}, {1.25, "1.25"}, {1.5, "1.5"}, {2.0, "2.0"}};
  for (const auto& p : kPresets) {
    if (std::fabs(factor - p.value) < 1e-9) return p.text;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", factor);
  return text;
}

Plan PlanTranscoderJobs(const CliRequest& request, const ContextFn& context) {
  Plan plan;
  switch (request.sub) {
    case Subcommand::Convert:
      PlanConvert(request, context, plan);
      break;
    case Subcommand::Merge:
      PlanMerge(request, context, plan);
      break;
    case Subcommand::Speed:
      PlanSpeed(request, context, plan);
      break;
    case Subcommand::Extract:
      PlanExtract(request, context, plan);
      break;
    case Subcommand::Volume:
      PlanVolume(request, context, plan);
      break;
    case Subcommand::BgMusic:
      PlanBgMusic(request, context, plan);
      break;
    case Subcommand::Cut:
      PlanCut(request, context, plan);
      break;
    default:
      plan.usageError = std::string(SubcommandName(request.sub)) + " is not a transcoder job";
      break;
  }
  return plan;
}

}  // namespace tw::cli
