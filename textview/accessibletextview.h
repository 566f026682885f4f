#pragma once

#include <QAccessibleWidget>

namespace Kovel::Text {

class TextView;

// What assistive technology sees of a TextView: read-only, selectable,
// multi-line text with a caret and one selection, in the offsets of the
// shown text. It keeps nothing of its own: every answer is read from the view
// when asked, and every change is made through the view's own selection.
class AccessibleTextView : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit AccessibleTextView(TextView *view);

    void *interface_cast(QAccessible::InterfaceType t) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    void selection(int index, int *start, int *end) const override;
    int selectionCount() const override;
    void addSelection(int start, int end) override;
    void removeSelection(int index) override;
    void setSelection(int index, int start, int end) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int start, int end) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int start, int end) override;
    QString attributes(int offset, int *start, int *end) const override;

private:
    TextView *view() const;
};

// Gives every TextView this face; installing more than once does nothing more.
void installAccessibleTextView();

} // namespace Kovel::Text
