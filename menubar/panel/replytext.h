#pragma once

#include <QString>

#include "textview/textview.h"

// Read-only, selectable text of a reply (the answer, the briefing), shown as
// given and wrapped at spaces, or anywhere in a word longer than a row; a
// reply of any size is shown without laying out more than the rows on screen.
class ReplyText : public TextView
{
    Q_OBJECT
public:
    explicit ReplyText(QWidget *parent = nullptr);

    // Shows `text` from its top, unless it is already shown (the view then
    // stays as it is).
    void setReply(const QString &text);
    const QString &reply() const { return m_reply; }
    // The shown text as copying all of it gives it.
    QString shownText() const { return text(); }

private:
    QString m_reply;
};
