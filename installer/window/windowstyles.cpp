#include "installer/window/windowstyles.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace Kovel::Installer {

namespace {

// Body text is 13 points on the desktop these sizes come from; the smaller
// styles keep their proportion to it, but never shrink below legibility.
constexpr qreal bodyPoints = 13.0;
constexpr qreal minimumPoints = 7.5;

QFont scaled(QFont f, qreal points)
{
    const qreal base = f.pointSizeF() > 0 ? f.pointSizeF() : 10.0;
    f.setPointSizeF(qMax(minimumPoints, base * points / bodyPoints));
    return f;
}

} // namespace

namespace WindowStyles {

QFont title()
{
    QFont f = QApplication::font();
    // Sized in device-independent pixels, the unit of every other measure of
    // the window, so the title keeps its proportion to the 560-wide window.
    f.setPixelSize(34);
    f.setBold(true);
    return f;
}

QFont headline()
{
    QFont f = QApplication::font();
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont subheadline() { return scaled(QApplication::font(), 11.0); }

QFont caption() { return scaled(QApplication::font(), 10.0); }

QFont monospacedCaption()
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(caption().pointSizeF());
    return f;
}

void makeSecondary(QWidget *w)
{
    QPalette p = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        QColor text = p.color(group, QPalette::WindowText);
        const QColor back = p.color(group, QPalette::Window);
        // Halfway to the background: readable, clearly second rank.
        text.setRgbF(text.redF() * 0.55 + back.redF() * 0.45,
                     text.greenF() * 0.55 + back.greenF() * 0.45,
                     text.blueF() * 0.55 + back.blueF() * 0.45);
        p.setColor(group, QPalette::WindowText, text);
    }
    w->setPalette(p);
}

} // namespace WindowStyles

} // namespace Kovel::Installer
