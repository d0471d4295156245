#include "ui/ElidedText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

namespace tw {
namespace {

constexpr const char* kFullTextProperty = "tw_full_text";

void Elide(QLabel* label) {
  const QString full = label->property(kFullTextProperty).toString();
  // A label not laid out yet has no width to measure: it is cut once it shows.
  if (!label->isVisible()) {
    if (label->text() != full) label->setText(full);
    return;
  }
  const int width = label->contentsRect().width() - 2 * label->margin() - 2 * label->indent();
  const QString shown = width > 0 ? label->fontMetrics().elidedText(full, Qt::ElideMiddle, width) : full;
  if (label->text() != shown) label->setText(shown);
}

// Elides every label it watches again when the label's width or font changes.
class ElideWatcher : public QObject {
 public:
  static ElideWatcher* Instance() {
    static auto* watcher = new ElideWatcher;
    return watcher;
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::Resize || type == QEvent::Show || type == QEvent::FontChange ||
        type == QEvent::StyleChange)
      if (auto* label = qobject_cast<QLabel*>(watched)) Elide(label);
    return false;
  }
};

}  // namespace

void SetElidedText(QLabel* label, const QString& text, const QString& toolTip) {
  if (!label) return;
  if (!label->property(kFullTextProperty).isValid()) {
    // The label may shrink below its text, which it then elides.
    if (label->minimumWidth() == 0) label->setMinimumWidth(1);
    label->installEventFilter(ElideWatcher::Instance());
  }
  label->setProperty(kFullTextProperty, text);
  label->setToolTip(PlainToolTip(toolTip.isEmpty() ? text : toolTip));
  Elide(label);
}

QString PlainToolTip(const QString& text) {
  // Escaped, with every space and line break kept; long lines still wrap.
  return text.isEmpty() ? text : "<p style=\"white-space:pre-wrap\">" + text.toHtmlEscaped() + "</p>";
}

QString FullText(const QLabel* label) {
  if (!label) return {};
  const QVariant full = label->property(kFullTextProperty);
  return full.isValid() ? full.toString() : label->text();
}

}  // namespace tw
