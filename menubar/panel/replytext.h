#pragma once

#include <QString>

#include "textview/textview.h"

namespace Kovel::Bar {

// Read-only, selectable text of a reply (the answer, the briefing), shown as
// given and wrapped at spaces, or anywhere in a word longer than a row; a
// reply of any size is shown without laying out more than the rows on screen.
class ReplyText : public Text::TextView
{
    Q_OBJECT
public:
    explicit ReplyText(QWidget *parent = nullptr);

    // Shows `text` from its top, unless it is already shown (the view then
    // stays as it is). A very long reply given while the view is hidden is
    // taken in when it is shown.
    void setReply(const QString &text);
    const QString &reply() const { return m_reply; }
    // The shown text as copying all of it gives it.
    QString shownText() const { return text(); }

    // Replies longer than this wait to be taken in until the view is shown.
    static constexpr qsizetype takenWhileHidden = 512 * 1024;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString m_reply;
    bool m_pending = false;   // m_reply is not in the view yet
};

} // namespace Kovel::Bar
