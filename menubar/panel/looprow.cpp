#include "menubar/panel/looprow.h"

#include "menubar/panel/panelicons.h"
#include "menubar/panel/panelstyles.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextDocument>
#include <QToolButton>

namespace Kovel::Bar {

namespace {

const QString tickTooltip = QStringLiteral("끝냄 처리");

// The title as one line: line and paragraph separators, line ends, tabs and
// other control characters each become a space. Joiners and other format
// characters stay, so composed emoji keep their shape.
QString oneLine(QString title)
{
    for (QChar &c : title) {
        const QChar::Category category = c.category();
        if (category == QChar::Separator_Line || category == QChar::Separator_Paragraph
            || category == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return title;
}

// A bezel-less button showing its text on one line from the leading edge,
// cut off with an ellipsis at its end when the row is too narrow. The whole
// rectangle, empty part included, takes clicks.
class ElidedTextButton : public QAbstractButton
{
public:
    explicit ElidedTextButton(const QString &text, QWidget *parent = nullptr)
        : QAbstractButton(parent)
    {
        setText(text);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(text()) + 2 * pad, metrics.height() + 2 * pad);
    }

    QSize minimumSizeHint() const override
    {
        const QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(QStringLiteral("· …")) + 2 * pad, metrics.height() + 2 * pad);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect area = rect().adjusted(pad, pad, -pad, -pad);
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        QColor colour = palette().color(QPalette::ButtonText);
        if (isDown())
            colour.setAlphaF(colour.alphaF() * 0.6);
        painter.setPen(colour);
        painter.drawText(area, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }

    void resizeEvent(QResizeEvent *event) override
    {
        QAbstractButton::resizeEvent(event);
        // The full title as a tooltip only when the row cuts it off.
        const int room = width() - 2 * pad;
        // A tooltip that looks like markup is taken as markup: escape it then.
        QString tip;
        if (fontMetrics().horizontalAdvance(text()) > room)
            tip = Qt::mightBeRichText(text()) ? QStringLiteral("<p>") + text().toHtmlEscaped() + QStringLiteral("</p>") : text();
        setToolTip(tip);
    }

private:
    static constexpr int pad = 2;
};

}

LoopRow::LoopRow(const Loop &loop, const QPalette &base, QWidget *parent)
    : QWidget(parent)
    , m_loop(loop)
{
    setObjectName(QStringLiteral("loopRow"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    const QFont font = PanelStyles::system(11);

    const QString title = oneLine(loop.title);
    m_title = new ElidedTextButton(QStringLiteral("· ") + title, this);
    m_title->setObjectName(QStringLiteral("loopTitle"));
    m_title->setAccessibleName(title);
    m_title->setFont(font);
    PanelStyles::applyTone(m_title, PanelStyles::Tone::Secondary, base);
    layout->addWidget(m_title, 1, Qt::AlignVCenter);

    auto *tick = new QToolButton(this);
    tick->setObjectName(QStringLiteral("loopTick"));
    tick->setAutoRaise(true);
    tick->setFont(font);
    tick->setToolTip(tickTooltip);
    tick->setAccessibleName(tickTooltip + QStringLiteral(": ") + title);
    tick->setFocusPolicy(Qt::TabFocus);
    tick->setCursor(Qt::PointingHandCursor);
    const int side = QFontMetrics(font).height();
    tick->setIconSize(QSize(side, side));
    tick->setIcon(tintedIcon(QStringLiteral("checkmark.circle"),
                             PanelStyles::toneColor(base, PanelStyles::Tone::Tertiary),
                             QSize(side, side), devicePixelRatioF()));
    m_tick = tick;
    layout->addWidget(m_tick, 0, Qt::AlignVCenter);

    connect(m_title, &QAbstractButton::clicked, this, [this] { emit explainRequested(m_loop); });
    connect(m_tick, &QAbstractButton::clicked, this, [this] { emit closeRequested(m_loop); });
}

} // namespace Kovel::Bar
