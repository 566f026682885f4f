#include "installer/window/contentview.h"

#include "installer/core/engine.h"
#include "installer/core/installerstate.h"
#include "installer/core/role.h"
#include "installer/window/logview.h"
#include "installer/window/windowstyles.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QPointer>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace Kovel::Installer {

namespace {

QLabel *label(const QString &text, const QFont &font, bool secondary, bool wraps = false)
{
    auto *l = new QLabel(text);
    l->setFont(font);
    l->setWordWrap(wraps);
    l->setTextFormat(Qt::PlainText);
    if (secondary) WindowStyles::makeSecondary(l);
    return l;
}

QVBoxLayout *stack(QWidget *owner, int spacing)
{
    auto *v = new QVBoxLayout(owner);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(spacing);
    return v;
}

QLineEdit *field(const QString &placeholder, const char *name)
{
    auto *f = new QLineEdit;
    f->setPlaceholderText(placeholder);
    f->setObjectName(QLatin1String(name));
    return f;
}

} // namespace

ContentView::ContentView(InstallerState &state, ContentActions actions, QWidget *parent)
    : QWidget(parent), m_state(state), m_actions(std::move(actions))
{
    setMinimumSize(minimumContentSize);
    build();
    bind();
    redraw();
}

void ContentView::build()
{
    auto *column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->setContentsMargins(22, 22, 22, 22);

    // 1, 2: title and question.
    column->addWidget(label(QStringLiteral("KOVEL"), WindowStyles::title(), false));
    column->addWidget(label(QStringLiteral("이 맥을 어떤 역할로 실행할까요?"), font(), true));

    // 3: the role choice, one radio button per role in declaration order.
    m_roleChoice = new QWidget;
    m_roleChoice->setObjectName(QStringLiteral("roleChoice"));
    m_roles = new QButtonGroup(this);
    {
        auto *v = stack(m_roleChoice, 0);
        for (Role r : Role::allCases()) {
            auto *b = new QRadioButton(r.label());
            b->setObjectName(QStringLiteral("role-") + r.rawValue());
            m_roles->addButton(b, r.value());
            v->addWidget(b);
        }
    }
    column->addWidget(m_roleChoice);

    // 4: the role details, either the sensor block or the engine block.
    m_sensorBlock = new QWidget;
    m_sensorBlock->setObjectName(QStringLiteral("sensorBlock"));
    {
        auto *v = stack(m_sensorBlock, 8);
        m_serverURL = field(QStringLiteral("브레인 주소 (예: http://내서버주소:8900)"), "serverURL");
        m_pairCode = field(QStringLiteral("페어링 코드 6자리"), "pairCode");
        v->addWidget(m_serverURL);
        v->addWidget(m_pairCode);
        v->addWidget(label(QStringLiteral("코드 발급: 브레인 대시보드 우상단 [🔗 AI 연결] 버튼 → 코드가 5분간 유효해요."),
                           WindowStyles::caption(), true, true));
    }
    column->addWidget(m_sensorBlock);

    m_engineBlock = new QWidget;
    m_engineBlock->setObjectName(QStringLiteral("engineBlock"));
    m_engines = new QButtonGroup(this);
    {
        auto *v = stack(m_engineBlock, 6);
        v->addWidget(label(QStringLiteral("AI 엔진"), WindowStyles::subheadline(), true));
        auto *choice = new QWidget;
        auto *cv = stack(choice, 0);
        for (Engine e : Engine::allCases()) {
            auto *b = new QRadioButton(e.label());
            b->setObjectName(QStringLiteral("engine-") + e.rawValue());
            m_engines->addButton(b, e.value());
            cv->addWidget(b);
        }
        v->addWidget(choice);
        m_subscriptionNote = label(
            QStringLiteral("요약·질문답변은 내 구독 AI(Claude Code 또는 Codex 로그인)로, 화면 기록·검색은 이 맥에만 저장돼요. "
                           "밖으로 나가는 호출은 전부 감사 로그에 남습니다."),
            WindowStyles::caption(), true, true);
        m_subscriptionNote->setObjectName(QStringLiteral("subscriptionNote"));
        v->addWidget(m_subscriptionNote);
    }
    column->addWidget(m_engineBlock);

    // 5: the button row, buttons at the leading edge.
    {
        auto *row = new QHBoxLayout;
        m_start = new QPushButton;
        m_start->setObjectName(QStringLiteral("start"));
        // Drawn as the default button; Return is routed to it in keyPressEvent.
        m_start->setDefault(true);
        m_dashboard = new QPushButton(QStringLiteral("대시보드 열기"));
        m_dashboard->setObjectName(QStringLiteral("dashboard"));
        m_dashboard->setAutoDefault(false);
        row->addWidget(m_start);
        row->addWidget(m_dashboard);
        row->addStretch(1);
        column->addLayout(row);
    }

    // 6: divider.
    // A one-pixel line in the style's mid tone, like the desktop's dividers.
    auto *divider = new QFrame;
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    {
        QPalette p = divider->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::Mid));
        divider->setPalette(p);
    }
    column->addWidget(divider);

    // 7: the AI tools section.
    m_aiTools = new QWidget;
    m_aiTools->setObjectName(QStringLiteral("aiTools"));
    {
        auto *v = stack(m_aiTools, 8);
        v->addWidget(label(QStringLiteral("🔗 AI 도구 연결"), WindowStyles::headline(), false));
        v->addWidget(label(QStringLiteral("Claude Code·Codex·Gemini 등 이 맥의 AI 세션을 찾아 브레인으로 모으고, "
                                          "Claude Code/Codex에 recall을 등록합니다."),
                           WindowStyles::caption(), true, true));
        auto *row = new QHBoxLayout;
        m_aiPairCode = field(QStringLiteral("페어링 코드 (대시보드 '🔗 AI 연결'에서 발급)"), "aiPairCode");
        m_connect = new QPushButton(QStringLiteral("연결"));
        m_connect->setObjectName(QStringLiteral("connect"));
        m_connect->setAutoDefault(false);
        row->addWidget(m_aiPairCode, 1);
        row->addWidget(m_connect);
        v->addLayout(row);
    }
    column->addWidget(m_aiTools);

    // 8: the log, taking all the height left over.
    auto *progress = new QGroupBox(QStringLiteral("진행 상황"));
    progress->setObjectName(QStringLiteral("progress"));
    {
        auto *v = new QVBoxLayout(progress);
        v->setContentsMargins(4, 0, 4, 4);
        m_log = new LogView(m_state);
        m_log->setObjectName(QStringLiteral("log"));
        // It scrolls, so one line is enough when the window is small.
        m_log->setMinimumHeight(1 * QFontMetrics(m_log->font()).lineSpacing() + 2 * 6 + 2 * m_log->frameWidth());
        v->addWidget(m_log);
    }
    m_progress = progress;
    column->addWidget(progress, 1);
}

void ContentView::bind()
{
    connect(m_roles, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) m_state.setRole(Role(Role::Case(id)));
    });
    connect(m_engines, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) m_state.setEngine(Engine(Engine::Case(id)));
    });
    connect(m_serverURL, &QLineEdit::textEdited, &m_state, &InstallerState::setServerURL);
    connect(m_pairCode, &QLineEdit::textEdited, &m_state, &InstallerState::setPairCode);
    connect(m_aiPairCode, &QLineEdit::textEdited, &m_state, &InstallerState::setAiPairCode);

    connect(m_start, &QPushButton::clicked, this, [this] { if (m_actions.start) m_actions.start(); });
    connect(m_dashboard, &QPushButton::clicked, this, [this] { if (m_actions.openDashboard) m_actions.openDashboard(); });
    connect(m_connect, &QPushButton::clicked, this, [this] { if (m_actions.connectAIs) m_actions.connectAIs(); });

    const auto again = [this] { redraw(); };
    connect(&m_state, &InstallerState::roleChanged, this, again);
    connect(&m_state, &InstallerState::engineChanged, this, again);
    connect(&m_state, &InstallerState::serverURLChanged, this, again);
    connect(&m_state, &InstallerState::pairCodeChanged, this, again);
    connect(&m_state, &InstallerState::aiPairCodeChanged, this, again);
    connect(&m_state, &InstallerState::runningChanged, this, again);
    connect(&m_state, &InstallerState::doneChanged, this, again);
    connect(&m_state, &InstallerState::dashboardOfferedChanged, this, again);
}

void ContentView::redraw()
{
    const bool running = m_state.running();
    const bool sensor = m_state.role() == Role::sensor;

    if (auto *b = m_roles->button(m_state.role().value()); !b->isChecked()) b->setChecked(true);
    if (auto *b = m_engines->button(m_state.engine().value()); !b->isChecked()) b->setChecked(true);
    // Written back only when different, so typing keeps its cursor.
    if (m_serverURL->text() != m_state.serverURL()) m_serverURL->setText(m_state.serverURL());
    if (m_pairCode->text() != m_state.pairCode()) m_pairCode->setText(m_state.pairCode());
    if (m_aiPairCode->text() != m_state.aiPairCode()) m_aiPairCode->setText(m_state.aiPairCode());

    m_sensorBlock->setVisible(sensor);
    m_engineBlock->setVisible(!sensor);
    m_subscriptionNote->setVisible(m_state.engine() == Engine::subscription);

    m_roleChoice->setEnabled(!running);
    m_sensorBlock->setEnabled(!running);
    m_engineBlock->setEnabled(!running);
    m_aiTools->setEnabled(!running);

    // Blanks count as content: the code is tested as typed.
    m_start->setText(running ? QStringLiteral("실행 중…") : QStringLiteral("시작"));
    m_start->setEnabled(!running && !(sensor && m_state.pairCode().isEmpty()));
    m_dashboard->setVisible(!running && (m_state.done() || m_state.dashboardOffered()));
    m_connect->setEnabled(!running && !m_state.aiPairCode().isEmpty());
    keepEverythingInView();
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    keepEverythingInView();   // wrapped texts need more height when narrower
}

void ContentView::keepEverythingInView()
{
    // Everything above the log gets its natural height; the log takes what is
    // left, down to a few lines. Where that does not fit in the minimum size
    // (the subscription note on a large font), the window may not get smaller
    // than what does fit: nothing is ever cut off.
    auto *column = layout();
    column->activate();
    const QMargins m = column->contentsMargins();
    const int inner = width() - m.left() - m.right();
    int needed = m.top() + m.bottom();
    int shown = 0;
    for (int i = 0; i < column->count(); ++i) {
        QLayoutItem *item = column->itemAt(i);
        if (item->isEmpty()) continue;
        ++shown;
        if (item->widget() == m_progress)
            needed += item->minimumSize().height();
        else
            needed += item->hasHeightForWidth() ? item->heightForWidth(inner) : item->sizeHint().height();
    }
    needed += column->spacing() * qMax(0, shown - 1);
    const QSize minimum(minimumContentSize.width(), qMax(minimumContentSize.height(), needed));
    if (minimumSize() != minimum) setMinimumSize(minimum);
}

void ContentView::closeEvent(QCloseEvent *event)
{
    // A child still running would be killed outright with the window, and
    // only it, not what it started: it is ended first, out of sight.
    QPointer<ContentView> self(this);
    if (m_actions.endRuns && m_actions.endRuns([self] { if (self) self->close(); })) {
        event->ignore();
        hide();
        return;
    }
    QWidget::closeEvent(event);
    emit closed();
}

void ContentView::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && mods == Qt::NoModifier) {
        // In the AI code field (and on its button) Return is the connect
        // button's; it never starts the setup from there. Anywhere else it is
        // the start button's, while that is enabled.
        QWidget *focus = focusWidget();
        QPushButton *target = focus == m_aiPairCode || focus == m_connect ? m_connect : m_start;
        if (target->isEnabled()) target->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace Kovel::Installer
