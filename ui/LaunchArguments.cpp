#include "ui/LaunchArguments.h"

#include <QFileInfo>
#include <cstdio>

namespace tw {

LaunchArguments::LaunchArguments(int argc, char** argv) {
  int i = 0;
  for (; i < argc; ++i) {
    const QString word = QString::fromLocal8Bit(argv[i]);
    if (i > 0 && word == "--") break;
    qtArgv_.push_back(argv[i]);
    if (word == "-h" || word == "--help") help_ = true;
    if (word == "--version") version_ = true;
  }
  for (++i; i < argc; ++i) afterSeparator_ << QString::fromLocal8Bit(argv[i]);
  qtArgc_ = static_cast<int>(qtArgv_.size());
  qtArgv_.push_back(nullptr);  // argv[argc] is null, as Qt expects
}

std::optional<int> LaunchArguments::AnswerInfoOption() const {
  if (help_) {
    std::fputs(UsageText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (version_) {
    std::fputs(VersionText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  return std::nullopt;
}

bool LaunchArguments::Parse(const QStringList& qtLeft) {
  files_.clear();
  QStringList given;
  for (int i = 1; i < qtLeft.size(); ++i) {
    const QString& word = qtLeft[i];
    if (word.size() > 1 && word.startsWith('-')) {
      std::fprintf(stderr, "tunewell: unknown option %s\n%s", word.toLocal8Bit().constData(),
                   UsageText().toLocal8Bit().constData());
      return false;
    }
    given << word;
  }
  given << afterSeparator_;
  for (const QString& file : given)
    if (!file.isEmpty()) files_ << QFileInfo(file).absoluteFilePath();
  return true;
}

QString LaunchArguments::UsageText() {
  return QStringLiteral(
      "Usage: tunewell [FILE...]\n"
      "       tunewell -- FILE...\n"
      "Opens the Tunewell window. One audio or video file opens on the cut page, several files\n"
      "on the convert page's list; a running Tunewell is brought to the front.\n"
      "  -h, --help   show this help\n"
      "  --version    show the version\n"
      "Put '--' before file names that start with '-'.\n");
}

QString LaunchArguments::VersionText() {
  return QStringLiteral("tunewell " TW_VERSION "\n");
}

QString LaunchArguments::AppId() {
  return QStringLiteral(TW_APP_ID);
}

}  // namespace tw
