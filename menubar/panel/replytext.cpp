#include "menubar/panel/replytext.h"

#include <QScrollBar>

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
    if (m_pending)
        setPlainText(QString());
    else
        takeIn();
}

void ReplyText::showEvent(QShowEvent *event)
{
    Text::TextView::showEvent(event);
    if (!m_pending)
        return;
    m_pending = false;
    takeIn();
}

void ReplyText::takeIn()
{
    // A reply this long needs the scroll bar whatever the width: given the
    // bar first, it is folded once, at the width it keeps. The bar coming up
    // after it made the view fold all of it again, narrower.
    if (m_reply.size() > takenWhileHidden && isVisible() && verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded
        && !verticalScrollBar()->isVisible()) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setPlainText(m_reply);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return;
    }
    setPlainText(m_reply);
}

} // namespace Kovel::Bar
