#pragma once
// One HTTP exchange with the brain, bounded in time and size, for both
// programs: turning "base + path" into a request address, and sending one
// request on the network manager its caller owns.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QtGlobal>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QObject;

namespace Kovel::Http {


// The address for the base followed by the path, joined as plain text, or
// nothing when that text is no URL: the strict parser refuses it, or a "?" or
// "#" in it would cut the endpoint path short, or a "." or ".." segment would
// be resolved away, so the request would go to another endpoint. What goes on
// the wire is the text's own path, a "//" right after the host included.
std::optional<QUrl> requestAddress(const QString &server, const QString &path);

// How long and how much one exchange may take before it counts as never
// answered. Each caller has its own: a question may think for minutes, a
// pairing reply is small.
struct Limits {
    int idleMs;             // silence: restarts whenever bytes arrive
    int overallMs;          // the whole exchange, redirects included, however it trickles
    qint64 maxBodyBytes;    // a larger body is abandoned while it arrives
};

struct Result {
    // Why there was no complete reply. Every kind is a transport failure;
    // they differ only for whoever reads the debug log.
    enum class Failure {
        None,
        NoReply,        // refused, reset, silent past the idle limit, a redirect that leads nowhere
        TooLarge,       // the body (or the length it announced) is beyond the limit
        TooLong,        // still not whole at the overall deadline
    };

    Failure failure = Failure::None;
    QByteArray body;    // the whole reply body, whatever the status
    QString error;      // what went wrong, for the debug log

    bool transportFailure() const { return failure != Failure::None; }
};

// Sends one request on network and calls back on the main thread once the
// reply is whole or has failed. Only the body counts: every status is a reply
// and is never looked at, so an error status with a body is as good as 200.
// A body is sent as "Content-Type: application/json"; without one no body and
// no Content-Type go out. No cookie is sent or kept, whatever network's jar
// holds. Redirects that name where to go are followed as browsers do (307
// and 308 repeat the request, the others fetch the target, never from https
// to http); a 3xx that names nowhere is the reply. The returned object is the
// request in flight, a child of owner: deleting it (or owner) abandons the
// request and then is never called. network must outlive it.
QObject *send(QNetworkAccessManager &network, QObject *owner, const QUrl &url, const QByteArray &method,
              const std::optional<QByteArray> &jsonBody, const Limits &limits,
              std::function<void(Result)> then);


} // namespace Kovel::Http
