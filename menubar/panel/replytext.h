#pragma once

#include <QList>
#include <QString>

#include "textview/foldedtextedit.h"

// Read-only, selectable text of a reply (the answer, the briefing), shown as
// given: toPlainText() gives it back. A text document costs a few microseconds
// for every block it is given and lays a block out whole (a colour emoji alone
// about 0.1 ms), so a reply longer than groupChars is shown with its lines
// gathered into blocks of about blockChars (they still break where the reply
// breaks), and in such a reply a paragraph longer than foldChars is folded at
// a line-break opportunity every foldChars characters; copying gives it
// unfolded.
class ReplyText : public FoldedTextEdit
{
    Q_OBJECT
public:
    explicit ReplyText(QWidget *parent = nullptr);

    // Shows `text`, unless it is already shown (the view then stays as it is).
    void setReply(const QString &text);
    const QString &reply() const { return m_reply; }

    static constexpr qsizetype groupChars = 64 * 1024;
    static constexpr qsizetype blockChars = 1024;
    static constexpr qsizetype foldChars = 2048;

private:
    QString m_reply;
};
