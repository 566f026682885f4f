#include "menubar/panel/panelstyles.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace Kovel::Bar {

namespace PanelStyles {

QFont system(qreal pointSize, bool bold)
{
    QFont font = QApplication::font();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont headline()
{
    QFont font = system(13);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont caption(bool bold)
{
    return system(10, bold);
}

QColor toneColor(const QPalette &base, Tone tone)
{
    QColor colour = base.color(QPalette::WindowText);
    colour.setAlphaF(tone == Tone::Secondary ? 0.6 : 0.4);
    return colour;
}

void applyTone(QWidget *widget, Tone tone, const QPalette &base)
{
    const QColor colour = toneColor(base, tone);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

}

} // namespace Kovel::Bar
