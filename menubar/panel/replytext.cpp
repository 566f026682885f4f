#include "menubar/panel/replytext.h"

ReplyText::ReplyText(QWidget *parent) : TextView(parent)
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
    setPlainText(text);
}
