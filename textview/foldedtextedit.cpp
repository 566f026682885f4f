#include "textview/foldedtextedit.h"

#include <QMimeData>
#include <QTextCursor>
#include <algorithm>

// `text` runs from document position `start`; the folds in it are taken out.
QString FoldedTextEdit::unfolded(const QString &text, int start) const
{
    auto fold = std::lower_bound(m_folds.cbegin(), m_folds.cend(), start);
    const auto end = std::lower_bound(fold, m_folds.cend(), start + int(text.size()));
    if (fold == end)
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (; fold != end; ++fold) {
        out.append(QStringView(text).sliced(from, *fold - start - from));
        from = *fold - start + 1;
    }
    out.append(QStringView(text).sliced(from));
    return out;
}

QString FoldedTextEdit::shownText() const
{
    return unfolded(toPlainText(), 0);
}

QMimeData *FoldedTextEdit::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const auto first = std::lower_bound(m_folds.cbegin(), m_folds.cend(), start);
    if (first == m_folds.cend() || *first >= cursor.selectionEnd())
        return QPlainTextEdit::createMimeDataFromSelection();

    // A folded line is copied as one line. Breaks and spaces as copying plain
    // text always gives them.
    QString text = unfolded(cursor.selectedText(), start);
    for (QChar &c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == QChar(0xfdd0) || c == QChar(0xfdd1))
            c = u'\n';
        else if (c == QChar::Nbsp)
            c = u' ';
    }
    auto *data = new QMimeData;
    data->setText(text);
    return data;
}
