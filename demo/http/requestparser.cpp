#include "demo/http/requestparser.h"

#include "demo/http/fieldsyntax.h"

#include <limits>

namespace Kovel::Demo {

namespace {
const int maxHeaderLines = 100;

HttpReply badRequest()
{
    return HttpReply::error(400, QStringLiteral("요청 형식이 올바르지 않아요."));
}
}

RequestHead parseRequestHead(QByteArrayView head)
{
    // Every way out returns this one head, so it is built in place.
    RequestHead out;
    HttpRequest &request = out.request;

    const qsizetype lineEnd = head.indexOf("\r\n");
    const QByteArrayView requestLine = head.first(lineEnd);
    head = head.sliced(lineEnd + 2);
    const qsizetype firstSpace = requestLine.indexOf(' ');
    const qsizetype lastSpace = requestLine.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace == firstSpace) {
        out.refusal = badRequest();
        return out;
    }
    const QByteArrayView method = requestLine.first(firstSpace);
    const QByteArrayView target = requestLine.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = requestLine.sliced(lastSpace + 1);
    bool targetOk = target.startsWith('/');
    for (char c : target)
        targetOk = targetOk && c > 0x20 && c < 0x7f;
    if (!isToken(method) || !targetOk || !version.startsWith("HTTP/")) {
        out.refusal = badRequest();
        return out;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        out.refusal = HttpReply::error(505, QStringLiteral("HTTP/1.1로 보내 주세요."));
        return out;
    }
    out.http10 = version == "HTTP/1.0";
    request.method = method.toByteArray();
    const qsizetype query = target.indexOf('?');
    request.path = (query < 0 ? target : target.first(query)).toByteArray();

    // Header fields: "name: value", no white space before the colon, no folded lines.
    int lines = 0;
    while (!head.isEmpty()) {
        const qsizetype eol = head.indexOf("\r\n");
        const QByteArrayView line = head.first(eol);
        head = head.sliced(eol + 2);
        const qsizetype colon = line.indexOf(':');
        bool ok = ++lines <= maxHeaderLines && colon > 0 && isToken(line.first(colon));
        const QByteArrayView value = ok ? trimmed(line.sliced(colon + 1)) : QByteArrayView();
        for (char c : value)
            ok = ok && (uchar(c) >= 0x20 || c == '\t') && c != 0x7f;
        if (!ok) {
            out.refusal = badRequest();
            return out;
        }
        request.headers.append({line.first(colon).toByteArray().toLower(), value.toByteArray()});
    }

    // Framing: one body length, known in advance. Two lengths that disagree,
    // or a length beside a transfer coding, could be read two ways.
    qint64 length = 0;
    bool haveLength = false, lengthOk = true, chunked = false;
    int hosts = 0;
    bool sawClose = false, sawKeepAlive = false;
    for (const auto &[name, value] : request.headers) {
        if (name == "content-length") {
            // Empty items between lengths are allowed; a field with no length at all is not.
            bool any = false;
            forEachItem(value, [&](QByteArrayView item) {
                any = true;
                bool digits = true;
                for (char c : item)
                    digits = digits && c >= '0' && c <= '9';
                if (!digits) {
                    lengthOk = false;
                    return;
                }
                const qint64 n = item.size() > 18 ? std::numeric_limits<qint64>::max() : item.toLongLong();
                if (haveLength && n != length)
                    lengthOk = false;
                length = n;
                haveLength = true;
            });
            if (!any)
                lengthOk = false;
        } else if (name == "transfer-encoding") {
            chunked = true;
        } else if (name == "host") {
            ++hosts;
        } else if (name == "connection") {
            forEachItem(value, [&](QByteArrayView item) {
                sawClose = sawClose || equalsLower(item, "close");
                sawKeepAlive = sawKeepAlive || equalsLower(item, "keep-alive");
            });
        } else if (name == "expect") {
            out.expectContinue = equalsLower(value, "100-continue");
        }
    }
    out.keepAlive = out.http10 ? sawKeepAlive && !sawClose : !sawClose;
    if (!lengthOk || (chunked && haveLength) || hosts != 1)
        out.refusal = badRequest();
    else if (chunked)
        out.refusal = HttpReply::error(501, QStringLiteral("본문은 Content-Length와 함께 보내 주세요."));
    else
        out.bodyLength = length;
    return out;
}

} // namespace Kovel::Demo
