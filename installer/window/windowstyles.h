#pragma once
// The installer window's text styles, sized against the application font the
// way the desktop's own text styles are: body is the application font,
// headline the same size in semibold, subheadline and caption smaller.

class QFont;
class QWidget;

namespace Kovel::Installer {

namespace WindowStyles {

QFont title();                // 34-point bold system font
QFont headline();
QFont subheadline();
QFont caption();
QFont monospacedCaption();    // the log

// Draws the widget's text in the secondary (dimmed) colour; disabled text
// keeps the style's own disabled colour.
void makeSecondary(QWidget *w);

} // namespace WindowStyles

} // namespace Kovel::Installer
