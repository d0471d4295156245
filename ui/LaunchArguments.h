// The command line of the tunewell program: the files to open and two informational options.
//   tunewell [--help | --version] [QT-OPTIONS] [FILE...] [-- FILE...]
// Qt takes its own options (-platform, -style, ...) out of what it is given, so it is given
// only what precedes "--": a file after it is never read as an option, whatever its name.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tw {

// Exit status of a command line the program does not understand.
constexpr int kExitUsage = 2;

class LaunchArguments {
 public:
  // argv must outlive this object and the QApplication made from QtArgc/QtArgv.
  LaunchArguments(int argc, char** argv);

  // For --help or --version (before any "--"): prints the text and gives the exit status. The
  // answer needs no display, so it is asked before Qt starts.
  std::optional<int> AnswerInfoOption() const;

  // What Qt may see: the program name and the arguments before "--".
  int& QtArgc() { return qtArgc_; }
  char** QtArgv() { return qtArgv_.data(); }

  // Reads what Qt left of its part (QCoreApplication::arguments(), program name first) and the
  // part after "--". False after printing the usage error for an unknown option.
  bool Parse(const QStringList& qtLeft);
  // The files to open, made absolute against the working folder, in the order given.
  const QStringList& Files() const { return files_; }

  static QString UsageText();
  static QString VersionText();
  // The application id: the name of the desktop entry (without ".desktop") and of the icon.
  static QString AppId();

 private:
  int qtArgc_ = 0;
  std::vector<char*> qtArgv_;
  QStringList afterSeparator_;
  bool help_ = false;
  bool version_ = false;
  QStringList files_;
};

}  // namespace tw
