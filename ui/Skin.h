// The skin layer: the folder of layouts beside the executable, its resources (res.xml: the
// style sheet, the font and the images), the layout loader with the custom controls it makes,
// and the small control helpers every window uses (lookup by name, tags, the mouse switch).
// Window thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QApplication;

namespace tw {

class Skin {
 public:
  using WidgetFactory = std::function<QWidget*(QWidget* parent)>;

  // The skin folder: set by SetFolder, otherwise the first of <program>/skin,
  // <program>/../skin and <program>/../../skin that holds res.xml.
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
