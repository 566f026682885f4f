#include "demo/http/httpmessages.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Kovel::Demo {

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers)
        if (key == name)
            return value;
    return {};
}

HttpReply HttpReply::json(const QByteArray &body, int status)
{
    return HttpReply{status, QByteArrayLiteral("Content-Type: application/json\r\n"), body};
}

HttpReply HttpReply::error(int status, const QString &message)
{
    return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}).toJson(QJsonDocument::Compact), status);
}

QByteArray statusLine(int status)
{
    const char *text = "Error";
    switch (status) {
    case 100: text = "Continue"; break;
    case 200: text = "OK"; break;
    case 400: text = "Bad Request"; break;
    case 401: text = "Unauthorized"; break;
    case 403: text = "Forbidden"; break;
    case 404: text = "Not Found"; break;
    case 405: text = "Method Not Allowed"; break;
    case 408: text = "Request Timeout"; break;
    case 413: text = "Content Too Large"; break;
    case 415: text = "Unsupported Media Type"; break;
    case 421: text = "Misdirected Request"; break;
    case 429: text = "Too Many Requests"; break;
    case 431: text = "Request Header Fields Too Large"; break;
    case 500: text = "Internal Server Error"; break;
    case 501: text = "Not Implemented"; break;
    case 503: text = "Service Unavailable"; break;
    case 505: text = "HTTP Version Not Supported"; break;
    case 507: text = "Insufficient Storage"; break;
    }
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + text + "\r\n";
}

} // namespace Kovel::Demo
