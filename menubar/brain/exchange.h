#pragma once
// The HTTP side of the brain client: turning "base + path" into a request
// address, and sending one request on the process's shared network manager.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QObject;

namespace Exchange {

// The address for the base followed by the path, joined as plain text, or
// nothing when that text is no URL: the strict parser refuses it, or a "?" or
// "#" in it would cut the endpoint path short, or a "." or ".." segment would
// be resolved away, so the request would go to another endpoint.
std::optional<QUrl> requestAddress(const QString &server, const QString &path);

struct Result {
    bool transportFailure = false;  // no complete reply: refused, reset, silent too long
    QByteArray body;                // the whole reply body, whatever the status
};

// Sends one request and calls back on the main thread once the reply is whole
// or has failed. idleSeconds is an idle limit: it restarts whenever bytes
// arrive. A body is sent as "Content-Type: application/json"; without one no
// body and no Content-Type go out. The request belongs to owner: destroying
// owner abandons it and then is never called.
void send(QObject *owner, const QUrl &url, const QByteArray &method,
          const std::optional<QByteArray> &jsonBody, int idleSeconds,
          std::function<void(Result)> then);

// For tests only: how many milliseconds one second of idle limit lasts, so a
// test can watch a 15 s limit pass in a fraction of a second. 0 restores 1000.
void setIdleSecondForTests(int milliseconds);

} // namespace Exchange
