#include "demo/demoserver.h"

#include "demo/briefing.h"
#include "demo/dashboard.h"
#include "demo/limitedtcpserver.h"
#include "demo/samplenotes.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

using Method = QHttpServerRequest::Method;
using Status = QHttpServerResponder::StatusCode;

namespace {
const QByteArray jsonType = "application/json";

void writeJSON(QHttpServerResponder &responder, const QJsonObject &body, Status status = Status::Ok)
{
    responder.write(QJsonDocument(body).toJson(QJsonDocument::Compact), jsonType, status);
}

void writeError(QHttpServerResponder &responder, Status status, const QString &message)
{
    writeJSON(responder, QJsonObject{{QStringLiteral("error"), message}}, status);
}

// The body as a JSON object, or nothing when it is anything else.
std::optional<QJsonObject> objectBody(const QHttpServerRequest &request)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

void wrongMethod(QHttpServerResponder &responder, const QByteArray &allowed)
{
    responder.write(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("허용되지 않는 메서드예요.")}})
                        .toJson(QJsonDocument::Compact),
                    {{"Content-Type", jsonType}, {"Allow", allowed}}, Status::MethodNotAllowed);
}
}

DemoServer::DemoServer(const Options &options, QObject *parent)
    : QAbstractHttpServer(parent), m_options(options), m_codes(options.pairCodeLifetimeMs)
{
}

quint16 DemoServer::listenLocal(quint16 port)
{
    m_listener = new LimitedTcpServer(m_options.maxRequestBytes, this);
    if (!m_listener->listen(QHostAddress::LocalHost, port))
        return 0;
    bind(m_listener);
    return m_listener->serverPort();
}

bool DemoServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    if (request.url().path() == QLatin1String("/api/chat") && request.method() == Method::Post) {
        answerChat(request, std::move(responder));
        return true;
    }
    route(request, responder);
    return true;
}

void DemoServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    writeError(responder, Status::NotFound, QStringLiteral("없는 경로예요."));
}

void DemoServer::route(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    static const QRegularExpression closePath(QStringLiteral("^/api/structured/open-loops/([^/]+)/close$"));
    const QString path = request.url().path();
    const Method method = request.method();

    if (path == QLatin1String("/")) {
        if (method != Method::Get)
            return wrongMethod(responder, "GET");
        responder.write(dashboardPage(m_loops, m_codes.pairedCount(), m_codes.lifetimeMs()),
                        "text/html; charset=utf-8");
        return;
    }
    if (path == QLatin1String("/api/structured/open-loops")) {
        if (method != Method::Get)
            return wrongMethod(responder, "GET");
        QJsonArray loops;
        for (const auto &loop : m_loops.items())
            loops.append(QJsonObject{{QStringLiteral("id"), loop.id}, {QStringLiteral("title"), loop.title}});
        return writeJSON(responder, QJsonObject{{QStringLiteral("loops"), loops}});
    }
    if (const auto match = closePath.match(path); match.hasMatch()) {
        if (method != Method::Post)
            return wrongMethod(responder, "POST");
        const QString id = match.captured(1);
        if (!m_loops.close(id))
            return writeError(responder, Status::NotFound, QStringLiteral("그런 미결이 없어요."));
        return writeJSON(responder, QJsonObject{{QStringLiteral("closed"), id}});
    }
    if (path == QLatin1String("/api/structured/briefing")) {
        if (method != Method::Get)
            return wrongMethod(responder, "GET");
        return writeJSON(responder, QJsonObject{{QStringLiteral("briefing"), composeBriefing(m_loops)}});
    }
    if (path == QLatin1String("/api/chat"))
        return wrongMethod(responder, "POST");
    if (path == QLatin1String("/api/devices/pair-code")) {
        if (method != Method::Post)
            return wrongMethod(responder, "POST");
        return writeJSON(responder, QJsonObject{{QStringLiteral("code"), m_codes.issue()},
                                                {QStringLiteral("expires_in"), m_codes.lifetimeMs() / 1000}});
    }
    if (path == QLatin1String("/api/devices/pair")) {
        if (method != Method::Post)
            return wrongMethod(responder, "POST");
        return pair(request, responder);
    }
    writeError(responder, Status::NotFound, QStringLiteral("없는 경로예요."));
}

void DemoServer::answerChat(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    const auto body = objectBody(request);
    if (!body || !body->value(QStringLiteral("message")).isString())
        return writeError(responder, Status::BadRequest,
                          QStringLiteral("\"message\" 문자열이 든 JSON 객체를 보내 주세요."));
    const QString answer = answerFromNotes(body->value(QStringLiteral("message")).toString());

    // A real brain takes a while to answer; other requests go on meanwhile.
    // The client may hang up before the answer is ready: the responder holds
    // a plain pointer to its socket, so check the socket still exists first.
    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = held->socket();
    QTimer::singleShot(m_options.chatDelayMs, this, [held, socket, answer] {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        writeJSON(*held, QJsonObject{{QStringLiteral("response"), answer}});
    });
}

void DemoServer::pair(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const auto body = objectBody(request);
    if (!body || !body->value(QStringLiteral("code")).isString())
        return writeError(responder, Status::BadRequest, QStringLiteral("\"code\" 문자열이 든 JSON 객체를 보내 주세요."));
    const QString name = body->value(QStringLiteral("name")).toString();
    const auto device = m_codes.redeem(body->value(QStringLiteral("code")).toString(), name);
    if (!device)
        return writeError(responder, Status::Unauthorized,
                          QStringLiteral("연결 코드가 맞지 않거나 만료되었어요. 대시보드에서 새 코드를 받으세요."));
    writeJSON(responder, QJsonObject{{QStringLiteral("device_id"), device->deviceID},
                                     {QStringLiteral("api_key"), device->apiKey}});
}
