#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace Kovel::Bar {

// The panel's text styles on Qt. The system font is the application font;
// "headline" is it at 13 pt demi-bold and "caption" at 10 pt, the sizes the
// menu bar panel uses for them on macOS.
namespace PanelStyles {
QFont system(qreal pointSize, bool bold = false);
QFont headline();
QFont caption(bool bold = false);

// Foreground levels: the text colour of `base` dimmed. Set on the widget's
// own palette, so call again when the palette changes (light/dark switch).
enum class Tone { Secondary, Tertiary };
QColor toneColor(const QPalette &base, Tone tone);
void applyTone(QWidget *widget, Tone tone, const QPalette &base);
}

} // namespace Kovel::Bar
