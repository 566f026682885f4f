#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QElapsedTimer>
#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

class QTextLayout;

namespace Kovel::Text {

// A read-only, selectable view of plain text that keeps no document: lines
// are ranges of a text it is given (or, for a line that was rewritten, of a
// small text of its own), and an index of where each line's rows begin. Rows
// are laid out and painted only while they are on screen, so the cost of
// showing text does not grow with its size. Lines are folded into rows at the
// view's width, between whole characters (never inside a Hangul syllable, an
// emoji sequence or a base and its marks); copying gives them unfolded.
//
// Offsets are in the shown text as text() gives it: lines joined by "\n".
class TextView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    enum class Wrap { Anywhere, AtSpaceOrAnywhere };

    explicit TextView(QWidget *parent = nullptr);
    ~TextView() override;

    // Shows `text` (its own copy, shared), line breaks of any convention as
    // one break.
    void setPlainText(const QString &text);

    QString text() const;
    QString toPlainText() const { return text(); }
    QString textRange(qsizetype from, qsizetype to) const;
    qsizetype length() const;
    bool isEmpty() const { return m_lines.size() == 1 && m_lines.front().length == 0; }
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    qsizetype rowCount() const { return m_lines.back().row + qsizetype(m_lastStarts.size()); }
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

signals:
    void selectionChanged();

protected:
    // What subclasses build the shown text with. Reference lines are ranges
    // of `source` (set with setSource); the last line may instead hold text of
    // its own, which is rewritten in place.
    void setSource(const QString *source) { m_source = source; }
    void clearLines();
    // The last line grows by `count` characters of the source that follow it.
    // Returns false if it cannot (it is not a reference line ending there).
    bool extendLast(qsizetype sourceFrom, qsizetype count);
    // The last line's text from `at`, `remove` characters long, is replaced by
    // `insert`; the line then holds its own text.
    void replaceInLast(qsizetype at, qsizetype remove, QStringView insert);
    void newLine();
    QStringView lineText(qsizetype line) const;
    qsizetype lastLength() const { return m_lines.back().length; }
    bool lastOwned() const { return m_lines.back().owned; }
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
    struct Line {
        qsizetype from = 0;     // in the source, or in m_own when owned
        qsizetype offset = 0;   // shown characters before it, a break counting one
        qsizetype row = 0;      // rows before it
        quint32 length : 31 = 0;
        quint32 owned : 1 = 0;
    };

    qreal advance(QStringView s, qsizetype i, qsizetype end, qreal x) const;
    qsizetype wrapFrom(QStringView s, qsizetype from, QList<qsizetype> *starts) const;
    QList<qsizetype> rowStarts(qsizetype line) const;
    void rewrapLast(qsizetype from);
    void foldLast(qsizetype until);
    void finishLastFold();
    void relayout();
    void foldSome(qsizetype topOffset, qint64 budgetNs);
    void measureFont();
    qreal available() const;
    qsizetype lineOfOffset(qsizetype offset) const;
    qsizetype lineOfRow(qsizetype row) const;
    qsizetype rowOfOffset(qsizetype offset) const;
    qsizetype rowStartOffset(qsizetype row, qsizetype *rowLength = nullptr) const;
    QStringView rowView(qsizetype row, qsizetype *rowOffset) const;
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
    const QString *m_source = &m_text;
    QString m_own;           // text of rewritten lines
    std::deque<Line> m_lines;   // grows without moving what it holds
    QList<qsizetype> m_lastStarts{0};          // row starts of the last line
    qsizetype m_lastFolded = -1;   // the last line is folded this far; -1 all of it
    mutable QHash<qsizetype, QList<qsizetype>> m_wraps;   // row starts of long lines
    // The rows last painted, laid out: a view that follows new output moves
    // by a few rows a frame and lays out only those.
    struct PaintedRow {
        qsizetype offset = 0;
        std::shared_ptr<QTextLayout> layout;
    };
    QHash<qsizetype, PaintedRow> m_painted;
    Wrap m_wrap = Wrap::Anywhere;
    int m_margin = 0;
    QString m_placeholder;

    // Measures of the font.
    mutable std::vector<float> m_advances;      // per UTF-16 unit; < 0 unknown
    mutable QHash<QString, qreal> m_clusters;   // advance of longer clusters
    mutable QHash<char32_t, qreal> m_wide;      // advance of characters beyond the first plane
    qreal m_tab = 0;
    int m_rowHeight = 1;
    qreal m_ascent = 0;
    qreal m_width = -1;      // the width rows were folded at

    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    bool m_dragging = false;
    qreal m_wantedX = -1;    // where up and down keep the caret

    QTimer m_refresh;
    QTimer m_fold;
    qsizetype m_unfolded = 0;   // lines before it are folded at m_width
    QElapsedTimer m_lastRefresh;
    bool m_refreshDue = false;
    bool m_atEnd = true;
    bool m_follow = false;
    bool m_showsCaret = true;
};

} // namespace Kovel::Text
