#include "ui/FileChooser.h"

#include <QFileDialog>

namespace tw {
namespace {
std::unique_ptr<FileChooser>& Replacement() {
  static std::unique_ptr<FileChooser> chooser;
  return chooser;
}
}  // namespace

QString QtFilterText(const FileFilter& filter) {
  QString patterns = filter.patterns;
  patterns.replace(';', ' ');
  return filter.description + " (" + patterns.simplified() + ")";
}

QStringList SystemFileChooser::OpenFiles(QWidget* owner, const std::vector<FileFilter>& filters, bool multiple) {
  QFileDialog dialog(owner);
  dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  QStringList names;
  for (const auto& f : filters) names << QtFilterText(f);
  dialog.setNameFilters(names);
  // The descriptions already list their patterns; do not show them twice.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString SystemFileChooser::ChooseFolder(QWidget* owner, const QString& startFolder, const QString& title) {
  return QFileDialog::getExistingDirectory(owner, title, startFolder);
}

FileChooser& Files() {
  static SystemFileChooser system;
  return Replacement() ? *Replacement() : static_cast<FileChooser&>(system);
}

std::unique_ptr<FileChooser> SetFileChooser(std::unique_ptr<FileChooser> chooser) {
  auto previous = std::move(Replacement());
  Replacement() = std::move(chooser);
  return previous;
}

}  // namespace tw
