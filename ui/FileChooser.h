// The open-file dialog and the folder browser, behind an interface that tests replace with
// answers of their own. Window thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QWidget;

namespace tw {

// One filter pair as the pages give it: the description shown and the ";"-separated
// patterns that select ("*.mp3;*.aac").
struct FileFilter {
  QString description;
  QString patterns;
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen files, in the order the dialog returns them; empty on cancel.
  virtual QStringList OpenFiles(QWidget* owner, const std::vector<FileFilter>& filters, bool multiple) = 0;
  // The chosen folder, browsed from startFolder under the dialog title; empty on cancel.
  virtual QString ChooseFolder(QWidget* owner, const QString& startFolder, const QString& title) = 0;
};

// The desktop's dialogs (QFileDialog).
class SystemFileChooser : public FileChooser {
 public:
  QStringList OpenFiles(QWidget* owner, const std::vector<FileFilter>& filters, bool multiple) override;
  QString ChooseFolder(QWidget* owner, const QString& startFolder, const QString& title) override;
};

// The chooser the pages use: the system one unless a test installed another.
FileChooser& Files();
// Installs chooser (null restores the system one); returns the previous replacement.
std::unique_ptr<FileChooser> SetFileChooser(std::unique_ptr<FileChooser> chooser);

// "description (p1 p2 ...)" for QFileDialog, whose patterns are separated by blanks.
QString QtFilterText(const FileFilter& filter);

}  // namespace tw
