#include "menubar/brain/exchange.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace {

int idleSecondMs = 1000;

// Nothing is kept between exchanges: a cookie the server sets is not sent back.
class NoCookies : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// One manager for the whole process, like a shared HTTP session: it pools
// connections for every Brain. It lives on the main thread and goes with the
// application object, before Qt's own teardown.
QNetworkAccessManager *sharedNetwork()
{
    static QPointer<QNetworkAccessManager> network;
    if (!network) {
        network = new QNetworkAccessManager(QCoreApplication::instance());
        network->setCookieJar(new NoCookies(network));
    }
    return network;
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

} // namespace

namespace Exchange {

std::optional<QUrl> requestAddress(const QString &server, const QString &path)
{
    const QUrl url(server + path, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty())
        return std::nullopt;
    if (url.hasQuery() || url.hasFragment())
        return std::nullopt;
    // Qt resolves "." and ".." segments before sending: an id ".." would
    // close "/api/structured/close" instead. Such text makes no address.
    if (url.adjusted(QUrl::NormalizePathSegments) != url)
        return std::nullopt;
    return url;
}

void send(QObject *owner, const QUrl &url, const QByteArray &method,
          const std::optional<QByteArray> &jsonBody, int idleSeconds,
          std::function<void(Result)> then)
{
    // Only the web: other schemes Qt knows (file:, qrc:, data:) would read
    // local resources instead of asking a server. Failing them like a server
    // that cannot be reached is what any unsupported address gives.
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        QTimer::singleShot(0, owner, [then = std::move(then)] { then(Result{true, {}}); });
        return;
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(idleSeconds * idleSecondMs);
    QNetworkAccessManager *network = sharedNetwork();
    QNetworkReply *reply;
    if (jsonBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        reply = method == "POST" ? network->post(request, *jsonBody)
                                 : network->sendCustomRequest(request, method, *jsonBody);
    } else if (method == "GET") {
        reply = network->get(request);
    } else {
        // No device at all: nothing to upload, so Qt invents no Content-Type
        // (its post() would, with a warning, even for an empty body).
        reply = network->sendCustomRequest(request, method);
    }
    // The request is the owner's: if it goes first, the reply is aborted with it.
    reply->setParent(owner);
    QObject::connect(reply, &QNetworkReply::finished, owner, [reply, then = std::move(then)] {
        reply->deleteLater();
        if (!isCompleteReply(reply))
            then(Result{true, {}});
        else
            then(Result{false, reply->readAll()});
    });
}

void setIdleSecondForTests(int milliseconds)
{
    idleSecondMs = milliseconds > 0 ? milliseconds : 1000;
}

} // namespace Exchange
