#include "menubar/panel/spinner.h"

#include <QPainter>
#include <QTimer>
#include <QtMath>

namespace Kovel::Bar {

namespace {
constexpr int dots = 8;
constexpr int side = 16;
constexpr int intervalMs = 90;
}

Spinner::Spinner(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setFixedSize(side, side);
    m_timer->setInterval(intervalMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % dots;
        update();
    });
}

QSize Spinner::sizeHint() const
{
    return QSize(side, side);
}

bool Spinner::isTurning() const
{
    return m_timer->isActive();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    const qreal orbit = side * 0.34;
    const qreal dot = side * 0.11;
    QColor colour = palette().color(QPalette::WindowText);
    for (int i = 0; i < dots; ++i) {
        // The dot at the current step is the brightest; the trail fades behind it.
        const int age = (m_step - i + dots) % dots;
        colour.setAlphaF(1.0 - 0.8 * age / (dots - 1));
        painter.setBrush(colour);
        const qreal angle = 2 * M_PI * i / dots - M_PI / 2;
        painter.drawEllipse(centre + QPointF(orbit * qCos(angle), orbit * qSin(angle)), dot, dot);
    }
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void Spinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

} // namespace Kovel::Bar
