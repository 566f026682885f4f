#include "common/boundedexchange.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace Kovel::Http {

namespace {

// As many as Qt's own redirect policy follows.
constexpr int maxRedirects = 50;
// What Qt may hold for a reply before the main thread has read it: the rest
// waits in the socket, so memory stays bounded however fast the server sends.
constexpr qint64 readBuffer = 1024 * 1024;

// Only the web: other schemes Qt knows (file:, qrc:, data:) would read local
// resources instead of asking a server.
bool isWeb(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// A complete reply is one whose status line arrived and whose only "error" is
// the HTTP status Qt translates into one (404 → ContentNotFoundError and so
// on). The status itself stays unread: 500 with a body is a reply like 200.
// A reset, a refusal, an idle timeout (OperationCanceledError) or a cut-off
// body is a transport failure even when the status line came first.
bool isCompleteReply(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError)
        return true;
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    const int code = int(error);
    const bool contentError = code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError;
    const bool serverError = code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError;
    // Qt reports a plain 400 as an invalid protocol operation, and a 407 from
    // the server itself (no proxy here) as a proxy authentication error.
    return contentError || serverError
        || error == QNetworkReply::ProtocolInvalidOperationError
        || error == QNetworkReply::ProxyAuthenticationRequiredError;
}

// One exchange from the first request to its outcome, redirects included.
class Call : public QObject
{
public:
    Call(QNetworkAccessManager &network, QObject *owner, const QUrl &url, const QByteArray &method,
         const std::optional<QByteArray> &jsonBody, const Limits &limits, std::function<void(Result)> then)
        : QObject(owner), m_network(&network), m_url(url), m_method(method), m_jsonBody(jsonBody)
        , m_limits(limits), m_then(std::move(then))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            fail(Result::Failure::TooLong, QStringLiteral("no complete reply within %1 ms").arg(m_limits.overallMs));
        });
        m_deadline.start(m_limits.overallMs);
        if (isWeb(m_url))
            start();
        else
            // Failing like a server that cannot be reached, but never before
            // the caller has the request in hand.
            QTimer::singleShot(0, this, [this] { fail(QStringLiteral("not a web address: ") + m_url.toString()); });
    }

    ~Call() override { dropReply(); }

private:
    void start()
    {
        // The manager is its owner's; one that went away mid-redirect
        // leaves nothing to ask.
        if (!m_network) {
            fail(QStringLiteral("the network manager is gone"));
            return;
        }
        QNetworkRequest request(m_url);
        request.setTransferTimeout(m_limits.idleMs);
        // Qt's own redirect handling fails a 3xx that names no target, and
        // with it a body that counts like any other; so redirects are
        // followed here, with the same rules.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        // Nothing is kept between exchanges, whatever jar the manager has: a
        // cookie the server sets is never sent back.
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        QNetworkAccessManager *network = m_network;
        if (m_jsonBody) {
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
            m_reply = m_method == "POST" ? network->post(request, *m_jsonBody)
                                         : network->sendCustomRequest(request, m_method, *m_jsonBody);
        } else if (m_method == "GET") {
            m_reply = network->get(request);
        } else {
            // No device at all: nothing to upload, so Qt invents no Content-Type
            // (its post() would, with a warning, even for an empty body).
            m_reply = network->sendCustomRequest(request, m_method);
        }
        m_reply->setParent(this);
        m_reply->setReadBufferSize(readBuffer);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
            // Again now that the HTTP side has its reply: a limit set before
            // that can be lost, and then Qt reads the socket without bound.
            m_reply->setReadBufferSize(readBuffer);
            const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > m_limits.maxBodyBytes) {
                fail(Result::Failure::TooLarge,
                     QStringLiteral("reply announces %1 bytes, more than %2").arg(length.toLongLong()).arg(m_limits.maxBodyBytes));
                return;
            }
            // Room for the announced body at once: growing it as it comes
            // copied a big body again and again on the main thread.
            if (length.isValid() && length.toLongLong() > m_received.capacity())
                m_received.reserve(qsizetype(length.toLongLong()));
        });
        connect(m_reply, &QNetworkReply::readyRead, this, &Call::take);
        connect(m_reply, &QNetworkReply::finished, this, &Call::ended);
    }

    // Reads what arrived, so Qt's buffer never holds more than a slice.
    bool take()
    {
        // A reply that failed (an idle timeout, say) is closed: nothing to read.
        // Read straight into the body, not through a copy of its own.
        const qint64 available = m_reply->isOpen() ? m_reply->bytesAvailable() : 0;
        if (available > 0) {
            const qsizetype at = m_received.size();
            m_received.resize(at + qsizetype(available));
            const qint64 got = m_reply->read(m_received.data() + at, available);
            m_received.resize(at + qsizetype(std::max<qint64>(0, got)));
        }
        if (m_received.size() <= m_limits.maxBodyBytes)
            return true;
        fail(Result::Failure::TooLarge, QStringLiteral("reply body larger than %1 bytes").arg(m_limits.maxBodyBytes));
        return false;
    }

    void ended()
    {
        if (!take())
            return;
        if (!isCompleteReply(m_reply)) {
            fail(m_reply->errorString());
            return;
        }
        const QUrl target = m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 300 && status < 400 && target.isValid() && !target.isEmpty()) {
            follow(status, m_reply->url().resolved(target));
            return;
        }
        finish(Result{Result::Failure::None, std::move(m_received), {}});
    }

    void follow(int status, const QUrl &next)
    {
        if (++m_redirects > maxRedirects) {
            fail(QStringLiteral("too many redirects"));
            return;
        }
        if (!isWeb(next)) {
            fail(QStringLiteral("redirect to a non-web address: ") + next.toString());
            return;
        }
        // Never from an encrypted exchange to a plain one.
        if (m_url.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https")) {
            fail(QStringLiteral("redirect from https to ") + next.toString());
            return;
        }
        // 307 and 308 repeat the request as it was; the others fetch the target.
        if (status != 307 && status != 308) {
            m_method = "GET";
            m_jsonBody.reset();
        }
        dropReply();
        m_url = next;
        m_received.clear();
        start();
    }

    void fail(const QString &why) { fail(Result::Failure::NoReply, why); }
    void fail(Result::Failure failure, const QString &why) { finish(Result{failure, {}, why}); }

    void finish(Result result)
    {
        dropReply();
        m_deadline.stop();
        auto then = std::move(m_then);
        deleteLater();
        if (then)
            then(std::move(result));
    }

    void dropReply()
    {
        if (!m_reply)
            return;
        disconnect(m_reply, nullptr, this, nullptr);
        if (m_reply->isRunning())
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }

    QPointer<QNetworkAccessManager> m_network;
    QUrl m_url;
    QByteArray m_method;
    std::optional<QByteArray> m_jsonBody;
    Limits m_limits;
    std::function<void(Result)> m_then;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_received;
    QTimer m_deadline;
    int m_redirects = 0;
};

} // namespace


std::optional<QUrl> requestAddress(const QString &server, const QString &path)
{
    const QUrl url(server + path, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty())
        return std::nullopt;
    if (url.hasQuery() || url.hasFragment())
        return std::nullopt;
    // Qt's HTTP layer normalises the path it writes on the request line: it
    // resolves "." and ".." segments and drops one slash of a leading "//".
    // A leading "//" (a base ending in "/") is kept by starting the path with
    // a "." segment for the normaliser to take away.
    QUrl sent = url;
    const QString wirePath = url.path(QUrl::FullyEncoded);
    if (wirePath.startsWith(QLatin1String("//")))
        sent.setPath(QStringLiteral("/.") + wirePath, QUrl::StrictMode);
    // Anything else the normaliser changes is a "." or ".." of the text
    // itself: an id ".." would close "/api/structured/close" instead. Such
    // text makes no address.
    if (sent.adjusted(QUrl::NormalizePathSegments).path(QUrl::FullyEncoded) != wirePath)
        return std::nullopt;
    return sent;
}

QObject *send(QNetworkAccessManager &network, QObject *owner, const QUrl &url, const QByteArray &method,
              const std::optional<QByteArray> &jsonBody, const Limits &limits,
              std::function<void(Result)> then)
{
    return new Call(network, owner, url, method, jsonBody, limits, std::move(then));
}


} // namespace Kovel::Http
