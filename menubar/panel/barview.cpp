#include "menubar/panel/barview.h"

#include "menubar/brain/brain.h"
#include "menubar/panel/looprow.h"
#include "menubar/panel/panelbox.h"
#include "menubar/panel/panelstyles.h"
#include "menubar/panel/replytext.h"
#include "menubar/panel/spinner.h"
#include "menubar/panel/wrappedlabel.h"
#include "textview/graphemes.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QHideEvent>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace Kovel::Bar {

using PanelStyles::Tone;

namespace {

constexpr int panelWidth = 380;
constexpr int inset = 12;
constexpr int rowSpacing = 10;
constexpr int progressSubjectLength = 24;
constexpr int answerSubjectLength = 40;
constexpr int answerHeight = 190;
constexpr int briefingHeight = 200;

const QString briefingTitle = QStringLiteral("🌅 오늘 브리핑");

QLabel *makeLabel(const QString &text, const QFont &font, const char *name = nullptr)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    if (name)
        label->setObjectName(QLatin1String(name));
    return label;
}

// Wrapped, and broken inside a word where one is longer than the line.
QLabel *makeWrapped(const QString &text, const QFont &font, const char *name = nullptr)
{
    auto *label = new WrappedLabel(text);
    label->setFont(font);
    if (name)
        label->setObjectName(QLatin1String(name));
    return label;
}

QLabel *makeHint(const QString &text, const char *name = nullptr)
{
    return makeWrapped(text, PanelStyles::system(10), name);
}

QPushButton *makeButton(const QString &text, const QFont &font, const char *name)
{
    auto *button = new QPushButton(text);
    button->setFont(font);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    // Reached by Tab only: a click leaves the focus where the typing is.
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// Read-only, selectable text that is never taken as markup, wrapped to the
// width (anywhere, if a word is longer than a line) and scrolled inside a
// fixed height.
ReplyText *makeTextView(int height, const char *name, const QString &accessibleName)
{
    auto *view = new ReplyText;
    view->setObjectName(QLatin1String(name));
    view->setAccessibleName(accessibleName);
    view->setFont(PanelStyles::system(12));
    view->setFrameShape(QFrame::NoFrame);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setFixedHeight(height);
    // The box's shade shows through.
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    view->setPalette(palette);
    view->viewport()->setAutoFillBackground(false);
    return view;
}

QFrame *makeSeparator()
{
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}

BarView::BarView(QWidget *parent)
    : BarView(nullptr, parent)
{
}

BarView::BarView(Brain *brain, QWidget *parent)
    : QWidget(parent)
    , m_brain(brain ? brain : new Brain(this))
    , m_openUrl([](const QUrl &url) { QDesktopServices::openUrl(url); })
    , m_quit([] { QCoreApplication::quit(); })
    , m_dismiss([this] { close(); })
{
    build();
    connectBrain();
    applyTones();
    updateAskButton();
    updateStatus();
    updateLoopCount();
    updateRows();
    updateBriefing();
}

QString BarView::quitLabel()
{
    return QStringLiteral("종료");
}

void BarView::build()
{
    setFixedWidth(panelWidth);
    // The column grows with answer, briefing and rows; on a short screen the
    // panel stops at the screen's height and the column scrolls inside it, so
    // the footer and "종료" stay reachable.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("panelScroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(m_scroll);
    m_content = new QWidget;
    m_content->setObjectName(QStringLiteral("column"));
    m_content->setAutoFillBackground(false);
    m_content->installEventFilter(this);
    m_column = new QVBoxLayout(m_content);
    m_column->setContentsMargins(inset, inset, inset, inset);
    m_column->setSpacing(rowSpacing);

    // Header: title, dashboard.
    auto *header = new QHBoxLayout;
    header->addWidget(makeLabel(QStringLiteral("📦 KOVEL"), PanelStyles::headline(), "title"), 0, Qt::AlignVCenter);
    header->addStretch(1);
    auto *dashboard = makeButton(QStringLiteral("대시보드 열기"), PanelStyles::caption(), "dashboardButton");
    header->addWidget(dashboard, 0, Qt::AlignVCenter);
    m_column->addLayout(header);

    // Question field and its button.
    auto *questionRow = new QHBoxLayout;
    questionRow->setSpacing(8);
    m_question = new QLineEdit;
    m_question->setObjectName(QStringLiteral("question"));
    m_question->setPlaceholderText(QStringLiteral("어제 뭐 했지? / AUTH-3491 뭐였지? …"));
    m_question->setAccessibleName(QStringLiteral("브레인에게 할 질문"));
    questionRow->addWidget(m_question, 1, Qt::AlignVCenter);
    m_askButton = new QPushButton;
    m_askButton->setObjectName(QStringLiteral("askButton"));
    m_askButton->setAutoDefault(false);
    m_askButton->setFocusPolicy(Qt::TabFocus);
    questionRow->addWidget(m_askButton, 0, Qt::AlignVCenter);
    m_column->addLayout(questionRow);

    m_questionHint = makeHint(QStringLiteral("내 기록 전체(화면·회의·메일·AI세션)를 뒤져서 답해요 · Enter로 전송"));
    m_column->addWidget(m_questionHint);

    // Status: progress while a question is out, else the last answer.
    m_progressBox = new PanelBox;
    m_progressBox->setObjectName(QStringLiteral("progressBox"));
    auto *progressLine = new QWidget;
    progressLine->setMinimumHeight(60);
    auto *progressLayout = new QHBoxLayout(progressLine);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(8);
    progressLayout->addWidget(new Spinner, 0, Qt::AlignVCenter);
    m_progressText = makeWrapped(QString(), PanelStyles::system(12), "progressText");
    QSizePolicy progressPolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    progressPolicy.setHeightForWidth(true);
    m_progressText->setSizePolicy(progressPolicy);
    progressLayout->addWidget(m_progressText, 1, Qt::AlignVCenter);
    m_progressBox->layout()->addWidget(progressLine);
    m_column->addWidget(m_progressBox);

    m_answerBox = new PanelBox;
    m_answerBox->setObjectName(QStringLiteral("answerBox"));
    m_answerSubject = makeWrapped(QString(), PanelStyles::system(10), "answerSubject");
    m_answerBox->layout()->addWidget(m_answerSubject);
    m_answerText = makeTextView(answerHeight, "answerText", QStringLiteral("답변"));
    m_answerBox->layout()->addWidget(m_answerText);
    m_column->addWidget(m_answerBox);

    m_column->addWidget(makeSeparator());

    // Open loops: count and the briefing button, then one row per loop.
    auto *loopsHeader = new QHBoxLayout;
    m_loopsHeader = makeLabel(QString(), PanelStyles::caption(true), "loopsHeader");
    loopsHeader->addWidget(m_loopsHeader, 0, Qt::AlignVCenter);
    loopsHeader->addStretch(1);
    m_briefingButton = makeButton(briefingTitle, PanelStyles::caption(), "briefingButton");
    loopsHeader->addWidget(m_briefingButton, 0, Qt::AlignVCenter);
    m_column->addLayout(loopsHeader);

    m_loopsHint = makeHint(QStringLiteral("항목을 클릭하면 그게 무슨 맥락이었는지 찾아서 요약해줘요 · ✓는 끝냄 처리"));
    m_column->addWidget(m_loopsHint);

    m_remainder = makeHint(QString(), "remainder");
    m_column->addWidget(m_remainder);

    m_briefingBox = new PanelBox;
    m_briefingBox->setObjectName(QStringLiteral("briefingBox"));
    m_briefingBox->layout()->addWidget(makeLabel(briefingTitle, PanelStyles::caption(true), "briefingTitle"));
    m_briefingText = makeTextView(briefingHeight, "briefingText", QStringLiteral("브리핑"));
    m_briefingBox->layout()->addWidget(m_briefingText);
    m_column->addWidget(m_briefingBox);

    m_column->addWidget(makeSeparator());

    auto *footer = new QHBoxLayout;
    // Wraps rather than being cut off where the font runs wider than on macOS.
    m_footerNote = makeWrapped(QStringLiteral("매일 아침 8시 브리핑은 텔레그램·폰으로 자동 발송돼요"), PanelStyles::system(10), "footerNote");
    footer->addWidget(m_footerNote, 1, Qt::AlignVCenter);
    auto *quitButton = makeButton(quitLabel(), PanelStyles::caption(), "quitButton");
    footer->addWidget(quitButton, 0, Qt::AlignVCenter);
    m_column->addLayout(footer);
    m_scroll->setWidget(m_content);
    m_dashboardButton = dashboard;
    m_quitButton = quitButton;
    updateTabOrder();

    connect(m_question, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_q = text;
        updateAskButton();
    });
    connect(m_question, &QLineEdit::returnPressed, this, &BarView::submit);
    connect(m_askButton, &QPushButton::clicked, this, &BarView::submit);
    connect(dashboard, &QPushButton::clicked, this, &BarView::openDashboard);
    connect(m_briefingButton, &QPushButton::clicked, this, [this] { m_brain->loadBriefing(); });
    connect(quitButton, &QPushButton::clicked, this, &BarView::quit);
}

void BarView::connectBrain()
{
    connect(m_brain, &Brain::askingChanged, this, [this] {
        updateAskButton();
        updateStatus();
    });
    connect(m_brain, &Brain::answerChanged, this, &BarView::updateStatus);
    connect(m_brain, &Brain::askedAboutChanged, this, &BarView::updateStatus);
    connect(m_brain, &Brain::loopTotalChanged, this, &BarView::updateLoopCount);
    connect(m_brain, &Brain::loopsChanged, this, [this] {
        updateRows();
        updateLoopCount();
    });
    connect(m_brain, &Brain::briefingChanged, this, &BarView::updateBriefing);
    connect(m_brain, &Brain::briefingBusyChanged, this, &BarView::updateBriefing);
}

void BarView::applyTones()
{
    const QPalette base = palette();
    for (QWidget *hint : {static_cast<QWidget *>(m_questionHint), static_cast<QWidget *>(m_answerSubject),
                          static_cast<QWidget *>(m_loopsHint), static_cast<QWidget *>(m_remainder),
                          static_cast<QWidget *>(m_footerNote)})
        PanelStyles::applyTone(hint, Tone::Tertiary, base);
    PanelStyles::applyTone(m_progressText, Tone::Secondary, base);
}

void BarView::submit()
{
    // Sent as typed: a question of only spaces is still a question.
    if (m_q.isEmpty())
        return;
    if (m_brain->asking())
        return;
    m_brain->ask(m_q);
}

void BarView::openDashboard()
{
    // The base address as configured, so one ending in "/" gives "//". The
    // dashboard is a web page: any other scheme would hand a configured text
    // to some other default handler.
    const QUrl url(m_brain->server() + QStringLiteral("/"), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    m_openUrl(url);
}

void BarView::quit()
{
    m_quit();
}

void BarView::updateAskButton()
{
    const bool asking = m_brain->asking();
    m_askButton->setText(asking ? QStringLiteral("찾는 중") : QStringLiteral("질문"));
    const bool hadFocus = m_askButton->hasFocus();
    m_askButton->setEnabled(!m_q.isEmpty() && !asking);
    // Pressed from the keyboard: the focus goes back to the question rather
    // than on to the next button, where a typed space would press it.
    if (hadFocus && !m_askButton->isEnabled())
        m_question->setFocus(Qt::OtherFocusReason);
}

void BarView::updateStatus()
{
    const bool asking = m_brain->asking();
    const bool answered = !asking && !m_brain->answer().isEmpty();
    if (asking) {
        m_progressText->setText(QStringLiteral("'") + Text::leadingGraphemes(m_brain->askedAbout(), progressSubjectLength)
                                + QStringLiteral("' — 기억을 뒤지는 중… 10~30초"));
    }
    if (answered) {
        m_answerSubject->setText(QStringLiteral("💬 ") + Text::leadingGraphemes(m_brain->askedAbout(), answerSubjectLength));
        m_answerText->setReply(m_brain->answer());
    }
    m_progressBox->setVisible(asking);
    m_answerBox->setVisible(answered);
}

void BarView::updateLoopCount()
{
    const qint64 total = m_brain->loopTotal();
    m_loopsHeader->setText(QStringLiteral("⏳ 미결 ") + QString::number(total) + QStringLiteral("건"));
    const qint64 shown = m_brain->loops().size();
    if (shown < total)
        m_remainder->setText(QStringLiteral("외 ") + QString::number(total - shown)
                             + QStringLiteral("건 — 대시보드에서 전체 보기"));
    m_remainder->setVisible(shown < total);
}

void BarView::updateRows()
{
    const QList<Loop> loops = m_brain->loops();
    if (loops == m_shownLoops && m_rows.size() == loops.size())
        return;
    m_shownLoops = loops;
    // A row may be rebuilt from inside its own click, so it goes later.
    for (LoopRow *row : std::as_const(m_rows)) {
        m_column->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();
    int at = m_column->indexOf(m_loopsHint) + 1;
    for (const Loop &loop : loops) {
        auto *row = new LoopRow(loop, palette(), m_content);
        connect(row, &LoopRow::explainRequested, m_brain, &Brain::explainLoop);
        connect(row, &LoopRow::closeRequested, m_brain, &Brain::closeLoop);
        m_column->insertWidget(at++, row);
        // On screen: at once, not on the layout's next turn, so the panel never
        // shows a stale list. Hidden: left alone, so it comes up with the panel
        // (a row told to hide would stay hidden when the panel is shown again).
        if (m_content->isVisible())
            row->show();
        m_rows.append(row);
    }
    updateTabOrder();
}

void BarView::updateTabOrder()
{
    // Top to bottom, and left to right on a line; the rows come and go.
    QList<QWidget *> order{m_dashboardButton, m_question, m_askButton, m_answerText, m_briefingButton};
    for (LoopRow *row : std::as_const(m_rows))
        order << row->titleButton() << row->tickButton();
    order << m_briefingText << m_quitButton;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void BarView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        m_dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BarView::updateBriefing()
{
    const bool busy = m_brain->briefingBusy();
    m_briefingButton->setText(busy ? QStringLiteral("만드는 중…") : briefingTitle);
    m_briefingButton->setEnabled(!busy);
    const QString briefing = m_brain->briefing();
    m_briefingText->setReply(briefing);
    m_briefingBox->setVisible(busy || !briefing.isEmpty());
}

QSize BarView::sizeHint() const
{
    const int content = m_column->hasHeightForWidth() ? m_column->totalHeightForWidth(panelWidth)
                                                      : m_column->totalSizeHint().height();
    int height = content;
    if (const QScreen *shown = screen())
        height = std::min(height, shown->availableGeometry().height());
    return QSize(panelWidth, height);
}

void BarView::fitToContent()
{
    // As a window of its own the panel's height follows its content.
    if (!isWindow())
        return;
    const QSize wanted = sizeHint();
    if (wanted != size())
        resize(wanted);
}

bool BarView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::ScreenChangeInternal)
        fitToContent();
    return handled;
}

bool BarView::eventFilter(QObject *watched, QEvent *event)
{
    // A row shown or hidden changes the column's layout, not the panel's.
    if (watched == m_content && event->type() == QEvent::LayoutRequest) {
        m_column->activate();
        fitToContent();
    }
    return QWidget::eventFilter(watched, event);
}

void BarView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Every time the panel is opened, so what it lists is current. The window
    // system's own (spontaneous) show events, e.g. after un-minimising, don't
    // count: they follow an opening that already asked.
    if (event->spontaneous())
        return;
    m_brain->refreshLoops();
    // Opened to ask something: typing goes straight into the question.
    m_question->setFocus(Qt::PopupFocusReason);
}

void BarView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // The opening's refresh goes with it (the next opening asks again), so
    // refreshes held up by the server never pile up and starve a question.
    // Questions, closes and the briefing carry on.
    if (!event->spontaneous())
        m_brain->cancelRefresh();
}

void BarView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyTones();
        // The rows' dimmed colours and tick icons come from the palette.
        m_shownLoops.clear();
        updateRows();
    }
}

} // namespace Kovel::Bar
