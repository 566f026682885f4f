#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <utility>

namespace Kovel::Demo {

// One request as the connection read it: framing checked, body whole.
struct HttpRequest {
    QByteArray method;
    QByteArray path;                                   // the target up to any "?"
    QList<std::pair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;
    QHostAddress peer;

    // The first value of a header (name in lower case), or a null array.
    QByteArray header(QByteArrayView name) const;
};

// A reply before framing: the connection adds the status line,
// Content-Length and Connection. Cheap to copy, so ready replies can be kept.
struct HttpReply {
    int status = 200;
    QByteArray fields;   // further header lines, each ending in "\r\n"
    QByteArray body;

    static HttpReply json(const QByteArray &body, int status = 200);
    // {"error": message}
    static HttpReply error(int status, const QString &message);
};

// "HTTP/1.1 404 Not Found\r\n" and the like.
QByteArray statusLine(int status);

} // namespace Kovel::Demo
