// Texts that may not fit their label, such as file names: the label shows as much as fits with
// "…" in the middle, and again whenever it is resized; the whole text (or a longer one, such as
// the full path) is its tooltip. Window thread only.
#pragma once

#include <QString>

class QLabel;

namespace tw {

// Shows text in label, elided in the middle to the label's width; toolTip (the text itself when
// empty) shows on hover.
void SetElidedText(QLabel* label, const QString& text, const QString& toolTip = {});
// The whole text last given to SetElidedText (the label's own text otherwise).
QString FullText(const QLabel* label);
// A tooltip that shows text as it is: file names and the transcoder's words never render as
// markup ("<b>take.mp3" shows its brackets). Every tooltip that holds such text goes through it.
QString PlainToolTip(const QString& text);

}  // namespace tw
