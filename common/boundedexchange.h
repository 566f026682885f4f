#pragma once
// The HTTP side of the brain client: turning "base + path" into a request
// address, and sending one request on the process's shared network manager.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QObject;

namespace Kovel::Http {


// The address for the base followed by the path, joined as plain text, or
// nothing when that text is no URL: the strict parser refuses it, or a "?" or
// "#" in it would cut the endpoint path short, or a "." or ".." segment would
// be resolved away, so the request would go to another endpoint. What goes on
// the wire is the text's own path, a "//" right after the host included.
std::optional<QUrl> requestAddress(const QString &server, const QString &path);

// The most a reply body may hold; a larger one is abandoned while it arrives.
constexpr qsizetype replyLimit = 32 * 1024 * 1024;
// However busy the server keeps a request, it ends after this many idle limits.
constexpr int deadlineIdleLimits = 4;

struct Result {
    bool transportFailure = false;  // no complete reply: refused, reset, silent too long
    QByteArray body;                // the whole reply body, whatever the status
    QString error;                  // why there was no complete reply, for the debug log
};

// Sends one request and calls back on the main thread once the reply is whole
// or has failed. idleSeconds is an idle limit: it restarts whenever bytes
// arrive; the whole exchange, redirects included, ends as a transport failure
// after deadlineIdleLimits of them, and so does a body beyond replyLimit.
// A body is sent as "Content-Type: application/json"; without one no body and
// no Content-Type go out. Redirects that name where to go are followed; any
// other reply, 3xx included, is the reply. The returned object is the request
// in flight, a child of owner: deleting it (or owner) abandons the request
// and then is never called.
QObject *send(QObject *owner, const QUrl &url, const QByteArray &method,
              const std::optional<QByteArray> &jsonBody, int idleSeconds,
              std::function<void(Result)> then);

// For tests only: how many milliseconds one second of idle limit (and so of
// the overall deadline) lasts, so a test can watch a 15 s limit pass in a
// fraction of a second. 0 restores 1000.
void setIdleSecondForTests(int milliseconds);


} // namespace Kovel::Http
