#pragma once
// How header fields are written: names are tokens, values may have blanks
// around them, lists are comma-separated.

#include <QByteArrayView>
#include <cstring>

namespace Kovel::Demo {

inline bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c && std::strchr("!#$%&'*+-.^_`|~", c);
}

inline bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

// Without the spaces and tabs at either end; other control characters stay, to be refused.
inline QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// Comma-separated list items, each trimmed, empty ones skipped.
template<typename F>
void forEachItem(QByteArrayView list, F f)
{
    while (!list.isEmpty()) {
        const qsizetype comma = list.indexOf(',');
        const QByteArrayView item = trimmed(comma < 0 ? list : list.first(comma));
        if (!item.isEmpty())
            f(item);
        list = comma < 0 ? QByteArrayView() : list.sliced(comma + 1);
    }
}

inline bool equalsLower(QByteArrayView text, QByteArrayView lower)
{
    return text.compare(lower, Qt::CaseInsensitive) == 0;
}

} // namespace Kovel::Demo
