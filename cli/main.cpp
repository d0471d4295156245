// tunewell-cli: the batch front end. Parses the command line, checks the files, runs the jobs
// through the same builders, runner and engines as the pages, and exits 0 (all succeeded),
// 1 (any failed) or 2 (usage error). An interrupt ends the children, removes their partial
// outputs and ends the program by the same signal.
#include <fcntl.h>
#include <glog/logging.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "app/MediaHelpers.h"
#include "app/SettingsFile.h"
#include "app/Translation.h"
#include "cli/Catalogue.h"
#include "cli/CliOptions.h"
#include "cli/InProcessJobs.h"
#include "cli/JobRunner.h"
#include "cli/Planner.h"
#include "cli/ProgressView.h"
#include "app/FFmpegPtr.h"
#include "tasks/Commands.h"
#include "tasks/ResultFile.h"

using namespace tw;
using namespace tw::cli;

namespace {

int Usage(const std::string& error) {
  std::fprintf(stderr, "tunewell-cli: %s\n", error.c_str());
  return kExitUsage;
}

int TerminalColumns(int fd) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// The engines print short trace lines on standard output; the program's own output goes to a
// copy of the original descriptor so those lines cannot mix into results.
std::FILE* TakeStandardOutput() {
  std::fflush(stdout);
  const int copy = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return stdout;
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devnull >= 0) {
    dup2(devnull, STDOUT_FILENO);
    close(devnull);
  }
  std::FILE* out = fdopen(copy, "w");
  return out ? out : stdout;
}

// The media libraries' own complaints belong in the log, not between the program's lines.
void MediaLibraryLog(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char line[1024];
  int prefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
  LOG(INFO) << "media: " << line;
}

void StartLogging(const char* argv0) {
  const std::string folder = GetLocalAppFolder("Tunewell/Log");
  google::InitGoogleLogging(argv0);
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = false;
  google::SetStderrLogging(google::GLOG_FATAL);
  google::SetLogDestination(google::GLOG_INFO, (folder + "/tunewell-cli.").c_str());
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  SetLogHint(folder);
  av_log_set_callback(MediaLibraryLog);
  LimitMediaAllocations();
}

int RunBatch(const CliRequest& request, std::vector<std::unique_ptr<Job>> jobs,
             const std::vector<std::pair<std::string, std::string>>& rejected, ProgressView& view) {
  for (const auto& [file, reason] : rejected) view.Failed(-1, file, reason);
  int failures = static_cast<int>(rejected.size());
  int jobsAtOnce = request.jobs;
  if (jobsAtOnce <= 0) jobsAtOnce = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  JobRunner runner(jobsAtOnce, view);
  failures += runner.Run(std::move(jobs));
  if (runner.Interrupted()) return -1;
  return failures ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::string catalogueError;
  const Language language = LanguageInUse();
  InstallCatalogue(language, &catalogueError);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseArguments(args);
  if (!parsed.ok) return Usage(parsed.error);
  const CliRequest& request = parsed.request;
  if (request.help) {
    std::fputs(HelpText(request.sub).c_str(), stdout);
    return kExitOk;
  }
  if (request.version) {
    std::fputs("tunewell-cli " TW_VERSION "\n", stdout);
    return kExitOk;
  }

  const bool tty = isatty(STDOUT_FILENO) == 1;
  const int columns = TerminalColumns(STDOUT_FILENO);
  InstallInterruptHandlers();
  std::FILE* out = TakeStandardOutput();
  StartLogging(argv[0]);
  if (request.formats) {  // after the logging starts: asking the transcoder writes to the log
    for (const std::string& format : WritableAudioFormats()) std::fprintf(out, "%s\n", format.c_str());
    return kExitOk;
  }
  LOG(INFO) << "tunewell-cli " << SubcommandName(request.sub) << " with " << request.files.size() << " files";
  LOG(INFO) << "language " << LanguageCode(language);
  if (!catalogueError.empty()) LOG(ERROR) << catalogueError;

  if (!request.outputDir.empty()) {
    if (std::string bad = CheckOutputFolder(request.outputDir); !bad.empty()) {
      return Usage("--output-dir " + request.outputDir + ": " + bad);
    }
  }

  // What runs killed earlier left in the folder the results go to.
  if (request.sub != Subcommand::Probe && request.sub != Subcommand::Waveform) {
    const std::string folder = request.outputDir.empty() ? GetOutputFolder() : request.outputDir;
    RemoveStalePartials(folder);
    RemoveStalePartials(folder + "/录音");
  }

  auto view = request.sub == Subcommand::Waveform
                  ? MakeDataView(out, stderr, isatty(STDERR_FILENO) == 1, TerminalColumns(STDERR_FILENO))
                  : MakeProgressView(out, stderr, tty, columns);
  int status = kExitOk;
  switch (request.sub) {
    case Subcommand::Probe:
      status = RunProbe(request, *view);
      break;
    case Subcommand::Denoise:
    case Subcommand::Waveform:
    case Subcommand::Record: {
      InProcessPlan plan = PlanInProcessJobs(request, MakeContextFn(request.outputDir));
      if (!plan.usageError.empty()) return Usage(plan.usageError);
      status = RunBatch(request, std::move(plan.jobs), plan.rejected, *view);
      break;
    }
    default: {
      Plan plan = PlanTranscoderJobs(request, MakeContextFn(request.outputDir));
      if (!plan.usageError.empty()) return Usage(plan.usageError);
      status = RunBatch(request, std::move(plan.jobs), plan.rejected, *view);
      break;
    }
  }
  view.reset();
  std::fflush(out);
  if (status < 0) {
    // End the way an interrupted program ends, so a calling shell stops its loop too.
    const int sig = InterruptSignal();
    google::ShutdownGoogleLogging();
    signal(sig, SIG_DFL);
    raise(sig);
    return 128 + sig;
  }
  return status;
}
