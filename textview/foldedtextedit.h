#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QString>

// A read-only text view that may show some very long lines folded into rows,
// so the text document never has to lay out one huge row. It remembers where
// it put the folding breaks, and copying, like shownText(), takes them out:
// what leaves the view is the text as it was given.
class FoldedTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

    // The shown text as copying all of it gives it: folded lines unfolded.
    QString shownText() const;

protected:
    QMimeData *createMimeDataFromSelection() const override;

    void clearFolds() { m_folds.clear(); }
    // A break the view put in at this document position; positions ascend.
    void addFold(int position) { m_folds.append(position); }

private:
    QString unfolded(const QString &text, int start) const;

    QList<int> m_folds;
};
