#include "menubar/brain/brain.h"

#include "menubar/brain/brainconfig.h"
#include "menubar/brain/exchange.h"
#include "menubar/brain/jsonvalues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace {
// Idle limits, in seconds of silence from the server.
constexpr int readTimeout = 90;
constexpr int chatTimeout = 120;
constexpr int closeTimeout = 15;
// How many open loops the panel shows.
constexpr qsizetype shownLoops = 5;
}

Brain::Brain(QObject *parent)
    : QObject(parent), m_server(BrainConfig::serverURL())
{
}

Brain::Brain(const QString &server, QObject *parent)
    : QObject(parent), m_server(server)
{
}

Brain::~Brain() = default;

// Every assignment notifies, even with the same value: observers redraw on it.
void Brain::setBriefing(const QString &v) { m_briefing = v; emit briefingChanged(m_briefing); emit changed(); }
void Brain::setLoops(const QList<Loop> &v) { m_loops = v; emit loopsChanged(m_loops); emit changed(); }
void Brain::setLoopTotal(qint64 v) { m_loopTotal = v; emit loopTotalChanged(m_loopTotal); emit changed(); }
void Brain::setAnswer(const QString &v) { m_answer = v; emit answerChanged(m_answer); emit changed(); }
void Brain::setAskedAbout(const QString &v) { m_askedAbout = v; emit askedAboutChanged(m_askedAbout); emit changed(); }
void Brain::setAsking(bool v) { m_asking = v; emit askingChanged(m_asking); emit changed(); }
void Brain::setBriefingBusy(bool v) { m_briefingBusy = v; emit briefingBusyChanged(m_briefingBusy); emit changed(); }

void Brain::getJSON(const QString &path, std::function<void(std::optional<QJsonObject>)> then)
{
    const std::optional<QUrl> url = Exchange::requestAddress(m_server, path);
    if (!url) {
        then(std::nullopt);
        return;
    }
    Exchange::send(this, *url, "GET", std::nullopt, readTimeout, [then = std::move(then)](Exchange::Result result) {
        if (result.transportFailure)
            then(std::nullopt);
        else
            then(JsonValues::object(result.body));
    });
}

void Brain::post(const QString &path, const std::optional<QJsonObject> &body, int timeoutSeconds,
                 std::function<void(PostOutcome)> then)
{
    const std::optional<QUrl> url = Exchange::requestAddress(m_server, path);
    if (!url) {
        then(PostOutcome{PostOutcome::NoRequest, {}});
        return;
    }
    std::optional<QByteArray> bytes;
    if (body)
        bytes = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    Exchange::send(this, *url, "POST", bytes, timeoutSeconds, [then = std::move(then)](Exchange::Result result) {
        if (result.transportFailure)
            then(PostOutcome{PostOutcome::TransportFailure, {}});
        else
            then(PostOutcome{PostOutcome::Reply, result.body});
    });
}

void Brain::refreshLoops()
{
    getJSON(QStringLiteral("/api/structured/open-loops"), [this](std::optional<QJsonObject> reply) {
        if (!reply) {
            emit refreshEnded();
            return;
        }
        std::optional<QJsonArray> entries = JsonValues::listOfObjects(*reply, QStringLiteral("loops"));
        if (!entries)
            entries = JsonValues::listOfObjects(*reply, QStringLiteral("open_loops"));
        if (!entries) {
            emit refreshEnded();
            return;
        }
        QList<Loop> made;
        // An entry without a text title is left out, not replaced by a later one.
        for (qsizetype i = 0; i < std::min(shownLoops, entries->size()); ++i) {
            const QJsonObject entry = entries->at(i).toObject();
            const std::optional<QString> title = JsonValues::text(entry, QStringLiteral("title"));
            if (!title)
                continue;
            const std::optional<QString> id = JsonValues::text(entry, QStringLiteral("id"));
            made.append(Loop{id.value_or(*title), *title});
        }
        setLoopTotal(entries->size());
        setLoops(made);
        emit refreshEnded();
    });
}

void Brain::closeLoop(const Loop &loop)
{
    // The id goes in as it is: the address class alone encodes what it must.
    const QString path = QStringLiteral("/api/structured/open-loops/") + loop.id + QStringLiteral("/close");
    post(path, std::nullopt, closeTimeout, [this, loop](PostOutcome outcome) {
        if (outcome.kind != PostOutcome::NoRequest) {
            // Closed as far as this client goes, whatever the server said or
            // whether it answered at all.
            QList<Loop> kept = m_loops;
            kept.removeIf([&loop](const Loop &l) { return l == loop; });
            setLoops(kept);
            setLoopTotal(std::max<qint64>(0, m_loopTotal - 1));
        }
        emit closeEnded(loop);
    });
}

void Brain::loadBriefing()
{
    setBriefingBusy(true);
    setBriefing(QStringLiteral("브리핑을 만드는 중… (일정·미결·어제 맥락을 종합해요)"));
    getJSON(QStringLiteral("/api/structured/briefing"), [this](std::optional<QJsonObject> reply) {
        if (!reply) {
            // Names the address in use, so a wrong configuration shows.
            setBriefing(QStringLiteral("브레인에 연결할 수 없어요 — ") + m_server);
        } else {
            const std::optional<QString> text = JsonValues::text(*reply, QStringLiteral("briefing"));
            setBriefing(text.value_or(QStringLiteral("오늘은 브리핑할 게 없어요 — 놓친 것도 급한 것도 없다는 뜻!")));
        }
        setBriefingBusy(false);
        emit briefingEnded();
    });
}

void Brain::ask(const QString &question, const std::optional<QString> &label)
{
    setAsking(true);
    setAnswer(QString());
    setAskedAbout(label.value_or(question));
    const QJsonObject body{{QStringLiteral("message"), question}};
    post(QStringLiteral("/api/chat"), body, chatTimeout, [this](PostOutcome outcome) {
        const QString unreachable = QStringLiteral("브레인에 연결할 수 없어요.");
        switch (outcome.kind) {
        case PostOutcome::NoRequest:
            break;
        case PostOutcome::TransportFailure:
            setAnswer(unreachable);
            break;
        case PostOutcome::Reply: {
            const std::optional<QJsonObject> reply = JsonValues::object(outcome.body);
            if (!reply) {
                setAnswer(unreachable);
                break;
            }
            std::optional<QString> text;
            for (const char *key : {"response", "answer", "message"}) {
                text = JsonValues::text(*reply, QString::fromLatin1(key));
                if (text)
                    break;
            }
            setAnswer(text.value_or(QStringLiteral("(응답 형식을 읽지 못했어요)")));
            break;
        }
        }
        setAsking(false);
        emit askEnded();
    });
}

void Brain::explainLoop(const Loop &loop)
{
    const QString question = QStringLiteral("'") + loop.title
        + QStringLiteral("' — 이 미결이 무슨 맥락인지 관련 기록을 찾아 요약해주고, ")
        + QStringLiteral("다음 행동 하나를 제안해줘.");
    ask(question, loop.title);
}
