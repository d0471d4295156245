// The skin layer: the folder of layouts beside the executable, its resources (res.xml: the
// style sheet, the font and the images), the layout loader with the custom controls it makes,
// and the small control helpers every window uses (lookup by name, tags, the mouse switch).
// Window thread only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

class QApplication;

namespace tw {

class Skin {
 public:
  using WidgetFactory = std::function<QWidget*(QWidget* parent)>;

  // The skin folder: set by SetFolder, otherwise the first of <program>/skin,
  // <program>/../skin, <program>/../../skin and the installed <program>/../share/tunewell/skin
  // that holds res.xml.
  static QString Folder();
  static void SetFolder(const QString& folder);

  // Applies res.xml to the application: the style sheet, the default font, and the search
  // path "skin:" through which the style sheet reaches its images. False with a message when
  // res.xml or the style sheet cannot be read.
  static bool LoadResources(QApplication& app, QString* error);

  // Builds a layout file of the skin folder ("MainWindow.xml", "PromptBox.xml", ...) as a new
  // widget under parent. Null with a message when the file is missing or malformed. Layout
  // files are read once and kept.
  static QWidget* Load(const QString& layoutFile, QWidget* parent, QString* error = nullptr);

  // The custom controls of the layouts are made by these factories ("PaintView"). A layout
  // that names a class without one gets a plain QWidget.
  static void RegisterWidget(const QString& className, WidgetFactory factory);

  // Forgets the kept layout files (tests that switch skin folders).
  static void ClearCache();
};

// A layout whose stacked widget holds pages, built in two steps: first the layout with only the
// page the stack shows, then each of the other pages on its own, so that a window can appear
// before its hidden pages exist. The pages keep the layout's class names and properties.
class SplitLayout {
 public:
  // Reads layoutFile and cuts the pages of the stacked widget called stackName out of it. False
  // with a message when the file cannot be read or holds no such stack.
  bool Read(const QString& layoutFile, const QString& stackName, QString* error);

  int PageCount() const { return static_cast<int>(pages_.size()); }
  // The index of the page the stack shows, the one built with the layout.
  int ShownIndex() const { return shown_; }

  // The layout with the shown page as the stack's only page.
  QWidget* LoadShell(QWidget* parent, QString* error) const;
  // Page index as a widget of its own, to be inserted into the stack at index. Null with a
  // message when the page cannot be built, and for the shown page (built with the layout).
  QWidget* LoadPage(int index, QString* error) const;

  // The layout's text with the shown page only, and each page as a layout of its own (empty
  // for the shown page). Pure, for tests.
  const QByteArray& ShellText() const { return shell_; }
  const QByteArray& PageText(int index) const { return pages_.at(static_cast<size_t>(index)); }

 private:
  QString layoutFile_;
  QByteArray shell_;
  std::vector<QByteArray> pages_;
  int shown_ = 0;
};

// The control called name under root (root itself included), or null.
QWidget* FindControl(QWidget* root, const QString& name);
template <class T>
T* FindControl(QWidget* root, const QString& name) {
  return qobject_cast<T*>(FindControl(root, name));
}

// A control's tag: the integer (usually a task id) held in its dynamic property "tag".
void SetTag(QObject* control, int tag);
int GetTag(const QObject* control, int defaultTag = -1);

// A control that ignores the mouse keeps its look; clicks fall through to what is beneath.
void SetMouseEnabled(QWidget* control, bool enabled);
bool IsMouseEnabled(const QWidget* control);

}  // namespace tw
