#include "installer/window/logview.h"

#include "installer/core/installerstate.h"
#include "installer/window/windowstyles.h"

#include <algorithm>

namespace Kovel::Installer {

LogView::LogView(InstallerState &state, QWidget *parent) : Text::TextView(parent), m_state(state)
{
    setFont(WindowStyles::monospacedCaption());
    setMargin(6);
    setFollowsEnd(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setPlaceholderText(QStringLiteral("역할을 고르고 [시작]을 누르세요."));

    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &LogView::flush);

    // The log itself is the queue: what is not taken in yet is its tail.
    connect(&state, &InstallerState::logAppended, this, &LogView::schedule);
    connect(&state, &InstallerState::logChanged, this, &LogView::restart);
    restart();
}

bool LogView::hasPending() const
{
    return m_state.log().size() > m_stream.read() || refreshPending();
}

void LogView::schedule()
{
    if (m_state.log().size() > m_stream.read() && !m_frame.isActive())
        m_frame.start(0);
}

void LogView::restart()
{
    m_frame.stop();
    // The log may have been replaced by a new text: its lines point there.
    m_stream.restart(&m_state.log());
    schedule();
}

void LogView::flush()
{
    m_stream.readTo(m_stream.read() + sliceChars);
    textChanged();
    if (m_state.log().size() > m_stream.read())
        m_frame.start(0);   // the rest at the next turn, after input and painting
}

void LogView::refreshed()
{
    if (!hasPending())
        emit caughtUp();
}

} // namespace Kovel::Installer
