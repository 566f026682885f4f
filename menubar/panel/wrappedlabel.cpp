#include "menubar/panel/wrappedlabel.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace Kovel::Bar {

WrappedLabel::WrappedLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrappedLabel::margins() const
{
    const QMargins m = contentsMargins();
    return m.left() + m.right() + 2 * margin();
}

int WrappedLabel::layOut(QTextLayout &layout, int width) const
{
    QString shown = text();
    // Line ends in the text still end lines, as in any label.
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(font());
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return int(std::ceil(y));
}

bool WrappedLabel::hasHeightForWidth() const
{
    return true;
}

int WrappedLabel::heightForWidth(int width) const
{
    QTextLayout layout;
    const QMargins m = contentsMargins();
    const int lines = std::max(layOut(layout, width - margins()), text().isEmpty() ? 0 : fontMetrics().height());
    return lines + m.top() + m.bottom() + 2 * margin();
}

QSize WrappedLabel::sizeHint() const
{
    // As wide as the text on one line; the layout gives it less and asks for
    // the height at that width.
    const int natural = fontMetrics().horizontalAdvance(QString(text()).replace(QLatin1Char('\n'), QChar::LineSeparator));
    const int width = natural + margins();
    return QSize(width, heightForWidth(width));
}

QSize WrappedLabel::minimumSizeHint() const
{
    const int width = fontMetrics().horizontalAdvance(QLatin1Char('W')) * 2 + margins();
    return QSize(width, fontMetrics().height());
}

void WrappedLabel::paintEvent(QPaintEvent *)
{
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QTextLayout layout;
    const int height = layOut(layout, area.width());
    qreal top = area.top();
    const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
    if (vertical & Qt::AlignVCenter)
        top += (area.height() - height) / 2.0;
    else if (vertical & Qt::AlignBottom)
        top += area.height() - height;
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, QPointF(area.left(), std::max<qreal>(area.top(), top)));
}

} // namespace Kovel::Bar
