#include "ui/LaunchArguments.h"

#include <QFileInfo>
#include <cstdio>

#include "app/Translation.h"

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
      const std::string line = FormatText(Tr("LaunchArguments", "tunewell：未知选项 %1\n"), {word.toStdString()});
      std::fprintf(stderr, "%s%s", line.c_str(), UsageText().toLocal8Bit().constData());
      return false;
    }
    given << word;
  }
  given << afterSeparator_;
  for (const QString& file : given)
    if (!file.isEmpty()) files_ << QFileInfo(file).absoluteFilePath();
  return true;
}

// Shown before the application exists: through the core's lookup (InstallEarlyLookup).
QString LaunchArguments::UsageText() {
  return QString::fromStdString(
      Tr("LaunchArguments",
         "用法：tunewell [FILE...]\n"
         "      tunewell -- FILE...\n"
         "打开 Tunewell 窗口。一个音频或视频文件在剪辑页打开，多个文件加入格式转换页的列表；\n"
         "Tunewell 已在运行时，把它的窗口带到前面。\n"
         "  -h, --help   显示本帮助\n"
         "  --version    显示版本\n"
         "以 '-' 开头的文件名请放在 '--' 之后。\n"));
}

QString LaunchArguments::VersionText() {
  return QStringLiteral("tunewell " TW_VERSION "\n");
}

QString LaunchArguments::AppId() {
  return QStringLiteral(TW_APP_ID);
}

}  // namespace tw
