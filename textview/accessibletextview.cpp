#include "textview/accessibletextview.h"

#include "textview/textview.h"

namespace Kovel::Text {

namespace {

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (object && object->isWidgetType() && qobject_cast<TextView *>(object) && className.size())
        return new AccessibleTextView(static_cast<TextView *>(object));
    return nullptr;
}

} // namespace

void installAccessibleTextView()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

AccessibleTextView::AccessibleTextView(TextView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}

TextView *AccessibleTextView::view() const
{
    return static_cast<TextView *>(widget());
}

void *AccessibleTextView::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

QAccessible::State AccessibleTextView::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.selectableText = true;
    s.multiLine = true;
    return s;
}

QString AccessibleTextView::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return view()->text();
    if (t == QAccessible::Name && view()->accessibleName().isEmpty() && view()->isEmpty())
        return view()->placeholderText();
    return QAccessibleWidget::text(t);
}

void AccessibleTextView::selection(int index, int *start, int *end) const
{
    *start = *end = 0;
    if (index == 0 && view()->selectionStart() != view()->selectionEnd()) {
        *start = int(view()->selectionStart());
        *end = int(view()->selectionEnd());
    }
}

int AccessibleTextView::selectionCount() const
{
    return view()->selectionStart() != view()->selectionEnd() ? 1 : 0;
}

void AccessibleTextView::addSelection(int start, int end)
{
    view()->setSelection(start, end);
}

void AccessibleTextView::removeSelection(int)
{
    view()->setSelection(view()->position(), view()->position());
}

void AccessibleTextView::setSelection(int, int start, int end)
{
    view()->setSelection(start, end);
}

int AccessibleTextView::cursorPosition() const
{
    return int(view()->position());
}

void AccessibleTextView::setCursorPosition(int position)
{
    view()->setSelection(position, position);
}

QString AccessibleTextView::text(int start, int end) const
{
    return view()->textRange(start, end);
}

int AccessibleTextView::characterCount() const
{
    return int(view()->length());
}

QRect AccessibleTextView::characterRect(int offset) const
{
    const QRect r = view()->characterRect(offset);
    return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int AccessibleTextView::offsetAtPoint(const QPoint &point) const
{
    return int(view()->offsetAt(view()->viewport()->mapFromGlobal(point)));
}

void AccessibleTextView::scrollToSubstring(int start, int)
{
    view()->setSelection(start, start);
}

QString AccessibleTextView::attributes(int offset, int *start, int *end) const
{
    *start = offset;
    *end = offset + 1;
    return QString();
}

} // namespace Kovel::Text
