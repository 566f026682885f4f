#pragma once

#include "textview/fontmeasures.h"
#include "textview/linestore.h"
#include "textview/rowfolding.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <memory>

class QTextLayout;

namespace Kovel::Text {

// A read-only, selectable view of plain text that keeps no document: its
// lines (LineStore) are ranges of a text it is given, folded into rows at
// the view's width (RowFolding) with what the font measures (FontMeasures).
// Rows are laid out and painted only while they are on screen, so the cost
// of showing text does not grow with its size. Rows break between whole
// characters (graphemes.h); copying gives lines unfolded.
//
// Offsets are in the shown text as text() gives it: lines joined by "\n".
//
// Invariants:
// - The anchor and the position (the caret) lie in [0, length()].
// - The scroll bar's value is the top row; while the view follows the end
//   and is at it, new text keeps the end in view.
// - The screen shows every change at most one frame late; the rows it
//   shows are always folded, whatever is still being folded elsewhere.
// - Rows laid out for painting are kept only while they are on screen.
class TextView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    using Wrap = Text::Wrap;

    explicit TextView(QWidget *parent = nullptr);
    ~TextView() override;

    // Shows `text` (its own copy, shared), line breaks of any convention as
    // one break.
    void setPlainText(const QString &text);

    QString text() const { return textRange(0, length()); }
    QString toPlainText() const { return text(); }
    QString textRange(qsizetype from, qsizetype to) const { return m_lines.textRange(from, to); }
    qsizetype length() const { return m_lines.length(); }
    bool isEmpty() const { return m_lines.isEmpty(); }
    qsizetype lineCount() const { return m_lines.count(); }
    qsizetype rowCount() const { return m_rows.rowCount(); }
    // True while long text is still being folded into rows, a part a turn
    // (the rows on screen are always final).
    bool isFolding() const { return m_fold.isActive(); }

    QString placeholderText() const { return m_placeholder; }
    void setPlaceholderText(const QString &text);
    int margin() const { return m_margin; }
    void setMargin(int margin);
    void setWrap(Wrap wrap);
    // Whether new text keeps the end in view while the view is at its end.
    void setFollowsEnd(bool follows) { m_follow = follows; }
    // Whether a focused view draws its caret (keyboard selection needs one).
    void setShowsCaret(bool shows) { m_showsCaret = shows; }
    bool isReadOnly() const { return true; }
    Qt::TextInteractionFlags textInteractionFlags() const { return Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard; }

    // The selection runs from the anchor to the position (the caret).
    void setSelection(qsizetype anchor, qsizetype position);
    qsizetype anchor() const { return m_anchor; }
    qsizetype position() const { return m_position; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_position); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_position); }
    QString selectedText() const { return textRange(selectionStart(), selectionEnd()); }
    void selectAll();
    void copy() const;

    // Where `offset` is on screen: the rectangle of the character there, in
    // viewport coordinates (for accessibility and tests).
    QRect characterRect(qsizetype offset) const;
    // The text of one row as painted (tests look at the folding with it).
    QString rowText(qsizetype row) const;
    qsizetype offsetAt(const QPoint &viewportPoint) const;

    // Building the shown text line by line, as a stream of output does.
    // Lines are ranges of `source`, which must outlive them and only grow;
    // the last line may instead hold text of its own, rewritten in place.
    // Empties the view; its lines are to be made of `source`.
    void clearLines(const QString *source);
    // The last line grows by `count` characters of the source from
    // `sourceFrom`. False if it cannot (it is not a reference line ending
    // there).
    bool extendLast(qsizetype sourceFrom, qsizetype count);
    // The last line's text from `at`, `remove` characters long, is replaced by
    // `insert`; the line then holds its own text.
    void replaceInLast(qsizetype at, qsizetype remove, QStringView insert);
    void newLine();
    QStringView lineText(qsizetype line) const { return m_lines.text(line); }
    qsizetype lastLength() const { return m_lines.last().length; }

signals:
    void selectionChanged();

protected:
    // The shown text changed: scroll bars and the screen follow, at most once
    // a frame. While at its end, the view keeps the end in view.
    void textChanged();
    // True until the screen shows every change made so far.
    bool refreshPending() const { return m_refresh.isActive() || m_refreshDue; }
    // Called after a refresh that left nothing pending.
    virtual void refreshed() {}

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    QSize sizeHint() const override;

private:
    qreal available() const;
    void refoldLater() { m_rows.invalidate(available()); }
    void showScrollBarFirst();
    void relayout();
    void foldSome(qsizetype topOffset, qint64 budgetNs);
    void layoutRow(QTextLayout &layout, qsizetype row, qsizetype *rowOffset) const;
    const QTextLayout &paintedRow(qsizetype row, qsizetype *rowOffset);
    int visibleRows() const;
    void refreshNow();
    void updateRange();
    void ensureVisible(qsizetype offset);
    void moveTo(qsizetype offset, bool keepAnchor);
    qsizetype rowMove(qsizetype offset, qsizetype rows) const;
    qsizetype previousCluster(qsizetype offset) const;
    qsizetype nextCluster(qsizetype offset) const;

    QString m_text;          // what setPlainText was given
    LineStore m_lines;
    FontMeasures m_measures;
    RowFolding m_rows{m_lines, m_measures};
    // The rows last painted, laid out: a view that follows new output moves
    // by a few rows a frame and lays out only those.
    struct PaintedRow {
        qsizetype offset = 0;
        std::shared_ptr<QTextLayout> layout;
    };
    QHash<qsizetype, PaintedRow> m_painted;
    int m_margin = 0;
    QString m_placeholder;

    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    bool m_dragging = false;
    qreal m_wantedX = -1;    // where up and down keep the caret

    QTimer m_refresh;
    QTimer m_fold;
    QElapsedTimer m_lastRefresh;
    bool m_refreshDue = false;
    bool m_atEnd = true;
    bool m_follow = false;
    bool m_showsCaret = true;
};

} // namespace Kovel::Text
