#include "demo/demoserver.h"

#include "demo/briefing.h"
#include "demo/dashboard.h"
#include "demo/samplenotes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

namespace Kovel::Demo {

namespace {
HttpReply jsonReply(const QJsonObject &body, int status = 200)
{
    return HttpReply::json(QJsonDocument(body).toJson(QJsonDocument::Compact), status);
}

// The body as a JSON object, or nothing when it is anything else.
std::optional<QJsonObject> objectBody(const HttpRequest &request)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

HttpReply wrongMethod(const QByteArray &allowed)
{
    HttpReply reply = HttpReply::error(405, QStringLiteral("허용되지 않는 메서드예요."));
    reply.fields += "Allow: " + allowed + "\r\n";
    return reply;
}

bool isRead(const QByteArray &method)
{
    return method == "GET" || method == "HEAD";
}

HttpReply devicesFull()
{
    return HttpReply::error(507, QStringLiteral("연결된 기기가 너무 많아요. 데모 브레인을 다시 시작하세요."));
}

QByteArray retryAfter(qint64 ms)
{
    return "Retry-After: " + QByteArray::number(qMax<qint64>(1, (ms + 999) / 1000)) + "\r\n";
}

const QByteArray closePrefix = "/api/structured/open-loops/";
const QByteArray closeSuffix = "/close";

// Guessing stays slow, about one code a second at most; a right code behind
// waiting guesses has its turn well within the minute the installer waits.
const qint64 longestGuessWaitMs = 1000;
const qint64 longestGuessTurnMs = 30000;
}

DemoServer::DemoServer(const Options &options, QObject *parent)
    : QObject(parent),
      m_options(options),
      m_codes(options.pairCodeLifetimeMs),
      m_throttle(options.guessWaitMs, qMax<qint64>(options.guessWaitMs, longestGuessWaitMs)),
      m_guesses(qMax<qint64>(options.guessWaitMs, longestGuessWaitMs), longestGuessTurnMs,
                qMax(1, options.limits.maxConnections / 4),
                [this](const GuessQueue::Guess &guess) { return lookAtGuess(guess); }),
      // Held questions keep their connections; the rest stay free for others.
      m_maxHeldChats(qBound(1, options.limits.maxConnections / 4, qMax(1, options.maxHeldChats))),
      m_http(options.limits, [this](const HttpRequest &request, HttpConnection *connection) {
          handle(request, connection);
      })
{
}

void DemoServer::handle(const HttpRequest &request, HttpConnection *connection)
{
    const QByteArray &path = request.path;
    const QByteArray &method = request.method;

    if (path == "/")
        return connection->reply(isRead(method) ? dashboardReply() : wrongMethod("GET, HEAD"));
    if (path == "/api/structured/open-loops")
        return connection->reply(isRead(method) ? loopsReply() : wrongMethod("GET, HEAD"));
    if (path == "/api/structured/briefing")
        return connection->reply(isRead(method) ? briefingReply() : wrongMethod("GET, HEAD"));
    if (path == "/api/chat") {
        if (method != "POST")
            return connection->reply(wrongMethod("POST"));
        return answerChat(request, connection);
    }
    if (path == "/api/devices/pair-code") {
        if (method != "POST")
            return connection->reply(wrongMethod("POST"));
        return connection->reply(jsonReply({{QStringLiteral("code"), m_codes.issue()},
                                            {QStringLiteral("expires_in"), m_codes.lifetimeMs() / 1000}}));
    }
    if (path == "/api/devices/pair") {
        if (method != "POST")
            return connection->reply(wrongMethod("POST"));
        return pair(request, connection);
    }
    if (path.startsWith(closePrefix) && path.endsWith(closeSuffix)
        && path.size() > closePrefix.size() + closeSuffix.size()) {
        const QByteArray raw = path.mid(closePrefix.size(), path.size() - closePrefix.size() - closeSuffix.size());
        if (!raw.contains('/')) {
            if (method != "POST")
                return connection->reply(wrongMethod("POST"));
            const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(raw));
            if (!m_loops.close(id))
                return connection->reply(HttpReply::error(404, QStringLiteral("그런 미결이 없어요.")));
            loopsChanged();
            return connection->reply(jsonReply({{QStringLiteral("closed"), id}}));
        }
    }
    connection->reply(HttpReply::error(404, QStringLiteral("없는 경로예요.")));
}

const HttpReply &DemoServer::loopsReply()
{
    if (!m_loopsReply) {
        QJsonArray loops;
        for (const auto &loop : m_loops.items())
            loops.append(QJsonObject{{QStringLiteral("id"), loop.id}, {QStringLiteral("title"), loop.title}});
        m_loopsReply = jsonReply({{QStringLiteral("loops"), loops}});
    }
    return *m_loopsReply;
}

const HttpReply &DemoServer::briefingReply()
{
    if (!m_briefingReply)
        m_briefingReply = jsonReply({{QStringLiteral("briefing"), composeBriefing(m_loops)}});
    return *m_briefingReply;
}

const HttpReply &DemoServer::dashboardReply()
{
    if (!m_dashboardReply)
        m_dashboardReply = HttpReply{200, dashboardFields(),
                                     dashboardPage(m_loops, m_codes.pairedCount(), m_codes.lifetimeMs())};
    return *m_dashboardReply;
}

void DemoServer::loopsChanged()
{
    m_loopsReply.reset();
    m_briefingReply.reset();
    m_dashboardReply.reset();
}

void DemoServer::answerChat(const HttpRequest &request, HttpConnection *connection)
{
    const auto body = objectBody(request);
    if (!body || !body->value(QStringLiteral("message")).isString())
        return connection->reply(HttpReply::error(400, QStringLiteral("\"message\" 문자열이 든 JSON 객체를 보내 주세요.")));
    // Held questions are bounded, so a flood of them cannot take every connection.
    if (m_heldChats >= m_maxHeldChats) {
        HttpReply busy = HttpReply::error(503, QStringLiteral("지금은 밀린 질문이 너무 많아요. 잠시 뒤에 다시 물어보세요."));
        busy.fields += retryAfter(m_options.chatDelayMs);
        return connection->reply(busy);
    }
    const QString answer = answerFromNotes(body->value(QStringLiteral("message")).toString());

    // A real brain takes a while to answer; other requests go on meanwhile.
    // The client may hang up first, and its connection go with it.
    ++m_heldChats;
    QPointer<HttpConnection> held = connection;
    QTimer::singleShot(m_options.chatDelayMs, this, [this, held, answer] {
        --m_heldChats;
        if (held)
            held->reply(jsonReply({{QStringLiteral("response"), answer}}));
    });
}

void DemoServer::pair(const HttpRequest &request, HttpConnection *connection)
{
    const auto body = objectBody(request);
    if (!body || !body->value(QStringLiteral("code")).isString())
        return connection->reply(HttpReply::error(400, QStringLiteral("\"code\" 문자열이 든 JSON 객체를 보내 주세요.")));
    const QString name = body->value(QStringLiteral("name")).toString();
    if (name.size() > PairingCodes::maxNameLength)
        return connection->reply(HttpReply::error(400, QStringLiteral("기기 이름이 너무 길어요.")));
    if (m_codes.devicesFull())
        return connection->reply(devicesFull());

    // Codes are looked at in turn; one whose turn would come too late is not looked at.
    const qint64 wait = m_guesses.offer({connection, request.peer, body->value(QStringLiteral("code")).toString(), name});
    if (wait > 0) {
        HttpReply reply = HttpReply::error(429, QStringLiteral("연결 코드가 여러 번 틀렸어요. 잠시 뒤에 다시 해 보세요."));
        reply.fields += retryAfter(wait);
        connection->reply(reply);
    }
}

qint64 DemoServer::lookAtGuess(const GuessQueue::Guess &guess)
{
    if (m_codes.devicesFull()) {
        guess.connection->reply(devicesFull());
        return 0;
    }
    const auto device = m_codes.redeem(guess.code, guess.name);
    if (!device) {
        // The answer to a wrong code is held back as long as the next guess
        // must wait, so one that asks in turn is slowed down as well.
        const qint64 delay = m_throttle.wrongGuess(guess.client);
        QPointer<HttpConnection> held = guess.connection;
        QTimer::singleShot(delay, Qt::PreciseTimer, this, [held] {
            if (held)
                held->reply(HttpReply::error(401, QStringLiteral("연결 코드가 맞지 않거나 만료되었어요. 대시보드에서 새 코드를 받으세요.")));
        });
        return delay;
    }
    m_throttle.rightGuess(guess.client);
    m_dashboardReply.reset();   // it shows how many devices are paired
    guess.connection->reply(jsonReply({{QStringLiteral("device_id"), device->deviceID},
                                       {QStringLiteral("api_key"), device->apiKey}}));
    return 0;
}

} // namespace Kovel::Demo
