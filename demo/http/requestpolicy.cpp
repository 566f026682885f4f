#include "demo/http/requestpolicy.h"

#include "demo/http/fieldsyntax.h"

namespace Kovel::Demo {

namespace {
// An authority (host and port) that names this server: the loopback address
// or "localhost" with this port, or without one when the port is 80.
bool isSelf(QByteArrayView authority, quint16 port)
{
    static const QByteArrayView names[] = {"127.0.0.1", "localhost", "[::1]"};
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (QByteArrayView name : names) {
        if (authority.size() == name.size() + suffix.size() && authority.endsWith(suffix)
            && equalsLower(authority.first(name.size()), name))
            return true;
        if (port == 80 && equalsLower(authority, name))
            return true;
    }
    return false;
}
}

std::optional<HttpReply> requestRefusal(const HttpRequest &request, qint64 bodyLength, quint16 port)
{
    if (!isSelf(request.header("host"), port))
        return HttpReply::error(421, QStringLiteral("127.0.0.1이나 localhost 주소로만 받아요."));
    const QByteArray &method = request.method;
    if (method == "GET" || method == "HEAD" || method == "OPTIONS")
        return std::nullopt;
    int origins = 0;
    bool foreign = false;
    for (const auto &[name, value] : request.headers) {
        if (name != "origin")
            continue;
        ++origins;
        foreign = foreign || !value.startsWith("http://") || !isSelf(QByteArrayView(value).sliced(7), port);
    }
    if (foreign || origins > 1)
        return HttpReply::error(403, QStringLiteral("다른 사이트에서 온 요청은 받지 않아요."));
    const QByteArray type = request.header("content-type");
    if (!type.isNull() || bodyLength > 0) {
        const qsizetype semicolon = type.indexOf(';');
        if (!equalsLower(trimmed(semicolon < 0 ? QByteArrayView(type) : QByteArrayView(type).first(semicolon)),
                         "application/json"))
            return HttpReply::error(415, QStringLiteral("본문은 application/json으로 보내 주세요."));
    }
    return std::nullopt;
}

} // namespace Kovel::Demo
