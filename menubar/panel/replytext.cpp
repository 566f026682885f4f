#include "menubar/panel/replytext.h"

#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <algorithm>

namespace {

// How far back a fold looks for a place where the line may break.
constexpr qsizetype foldLookBack = 64;

// What QTextCursor::insertText turns into a new block.
bool isBlockBreak(QChar c)
{
    return c == QChar::ParagraphSeparator || c == QChar(0xfdd0) || c == QChar(0xfdd1);
}

// Where to fold the row that ends at the end of `out` and began at `rowStart`:
// after the last line-break opportunity not too far back, else between two
// whole characters; `next` is the text that follows.
qsizetype foldPoint(const QString &out, qsizetype rowStart, QStringView next)
{
    const qsizetype at = out.size();
    const qsizetype from = std::max(rowStart, at - foldLookBack);
    QString window = QStringView(out).sliced(from, at - from).toString();
    window.append(next.first(std::min<qsizetype>(8, next.size())));
    for (const auto type : {QTextBoundaryFinder::Line, QTextBoundaryFinder::Grapheme}) {
        QTextBoundaryFinder finder(type, window);
        finder.setPosition(int(at - from));
        if (finder.isAtBoundary())
            return at;
        const qsizetype back = finder.toPreviousBoundary();
        if (back > 0)
            return from + back;
    }
    return at;
}

} // namespace

ReplyText::ReplyText(QWidget *parent) : FoldedTextEdit(parent) {}

void ReplyText::setReply(const QString &text)
{
    if (text == m_reply)
        return;
    m_reply = text;
    clearFolds();
    if (text.size() <= groupChars) {
        setPlainText(text);
        return;
    }

    // Line breaks of any convention become one line separator (shown and
    // given back as a line break), and one in a while a block break. Runs
    // between breaks are copied whole.
    QString out;
    out.reserve(text.size() + text.size() / foldChars + 1);
    qsizetype block = 0;      // characters in the current block
    qsizetype row = 0;        // characters since the last break of any kind
    const QChar *chars = text.constData();
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        qsizetype j = i;
        while (j < size) {
            const char16_t c = chars[j].unicode();
            if (c == u'\r' || c == u'\n' || c == QChar::LineSeparator || isBlockBreak(chars[j]))
                break;
            ++j;
        }
        // The run [i, j), folded where its row grows past foldChars.
        while (row + (j - i) > foldChars) {
            const qsizetype take = foldChars - row;
            out.append(QStringView(text).sliced(i, take));
            const qsizetype rowStart = out.size() - foldChars;
            const qsizetype fold = foldPoint(out, rowStart, QStringView(text).sliced(i + take));
            out.insert(fold, QChar(u'\n'));
            addFold(int(fold));
            i += take;
            row = block = out.size() - (fold + 1);
        }
        out.append(QStringView(text).sliced(i, j - i));
        row += j - i;
        block += j - i;
        if (j == size)
            break;
        const QChar c = chars[j];
        i = j + 1;
        if (c == u'\r' && i < size && chars[i] == u'\n')
            ++i;
        row = 0;
        if (c == u'\r' || c == u'\n') {
            const bool ends = block >= blockChars;
            out.append(ends ? QChar(u'\n') : QChar(QChar::LineSeparator));
            block = ends ? 0 : block + 1;
        } else {
            out.append(c);
            block = c == QChar::LineSeparator ? block + 1 : 0;
        }
    }
    setPlainText(out);
}
