#include "menubar/panel/replytext.h"

namespace Kovel::Bar {

ReplyText::ReplyText(QWidget *parent) : Text::TextView(parent)
{
    setWrap(Wrap::AtSpaceOrAnywhere);
    // A caret in a text that cannot be edited only misleads.
    setShowsCaret(false);
}

void ReplyText::setReply(const QString &text)
{
    if (text == m_reply)
        return;
    m_reply = text;
    // Taken in while hidden, a long reply was folded at the hidden view's
    // width and folded again once shown (the panel shows the answer's box
    // right after giving it the answer); the first fold is all waste.
    m_pending = !isVisible() && m_reply.size() > takenWhileHidden;
    setPlainText(m_pending ? QString() : m_reply);
}

void ReplyText::showEvent(QShowEvent *event)
{
    Text::TextView::showEvent(event);
    if (!m_pending)
        return;
    m_pending = false;
    setPlainText(m_reply);
}

} // namespace Kovel::Bar
