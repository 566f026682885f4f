#include "menubar/panel/panelbox.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace Kovel::Bar {

namespace {
constexpr int margin = 8;
constexpr qreal radius = 6.0;
constexpr qreal shade = 0.15;
}

PanelBox::PanelBox(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(4);
}

void PanelBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius, radius);
    QColor fill(Qt::black);
    fill.setAlphaF(shade);
    painter.fillPath(shape, fill);
}

} // namespace Kovel::Bar
