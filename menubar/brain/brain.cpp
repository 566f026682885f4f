#include "menubar/brain/brain.h"

#include "common/boundedexchange.h"
#include "common/jsonvalues.h"
#include "menubar/brain/barlog.h"
#include "menubar/brain/brainconfig.h"

#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace Kovel::Bar {

namespace {
// How many open loops the panel shows.
constexpr qsizetype shownLoops = 5;
// Smaller replies are read on the spot: cheaper than a trip to a worker, and
// far below what would hold up a frame.
constexpr qsizetype readOnWorkerFrom = 64 * 1024;

// What a refresh got back: the loops, or why there was nothing usable.
struct LoopsReading {
    std::optional<QList<Loop>> loops;
    qint64 total = 0;
    QString unusable;
};

LoopsReading readLoops(const Http::Result &result)
{
    if (result.transportFailure())
        return {std::nullopt, 0, QStringLiteral("no reply: ") + result.error};
    const std::optional<QJsonObject> reply = Json::object(result.body);
    if (!reply)
        return {std::nullopt, 0, QStringLiteral("the reply is not a JSON object")};
    std::optional<QJsonArray> entries = Json::listOfObjects(*reply, QStringLiteral("loops"));
    if (!entries)
        entries = Json::listOfObjects(*reply, QStringLiteral("open_loops"));
    if (!entries)
        return {std::nullopt, 0, QStringLiteral("neither \"loops\" nor \"open_loops\" is a list of objects")};
    QList<Loop> made;
    // An entry without a text title is left out, not replaced by a later one.
    for (qsizetype i = 0; i < std::min(shownLoops, entries->size()); ++i) {
        const QJsonObject entry = entries->at(i).toObject();
        const std::optional<QString> title = Json::text(entry, QStringLiteral("title"));
        if (!title)
            continue;
        const std::optional<QString> id = Json::text(entry, QStringLiteral("id"));
        made.append(Loop{id.value_or(*title), *title});
    }
    return {made, entries->size(), {}};
}

// What a briefing or a question got back.
struct TextReading {
    enum Kind { NoReply, NotAnObject, NoText, Text } kind = NoReply;
    QString text;
};

// The first of the keys whose value is a JSON string.
TextReading readText(const Http::Result &result, std::initializer_list<const char *> keys)
{
    if (result.transportFailure())
        return {};
    const std::optional<QJsonObject> reply = Json::object(result.body);
    if (!reply)
        return {TextReading::NotAnObject, {}};
    for (const char *key : keys)
        if (const std::optional<QString> text = Json::text(*reply, QString::fromLatin1(key)))
            return {TextReading::Text, *text};
    return {TextReading::NoText, {}};
}

TextReading readBriefing(const Http::Result &result) { return readText(result, {"briefing"}); }
TextReading readAnswer(const Http::Result &result) { return readText(result, {"response", "answer", "message"}); }
// A close's reply is never read.
bool readNothing(const Http::Result &) { return true; }

} // namespace

struct Brain::Flight {
    QPointer<QObject> call;      // the request while it is out
    QPointer<QObject> reading;   // the worker's watcher while it reads the reply
    std::function<void()> write; // the field writes, once read
    bool ready = false;
    bool dropped = false;
    bool landed = false;
};

Brain::Brain(QObject *parent)
    : Brain(BrainConfig::serverURL(), nullptr, BrainLimits{}, parent)
{
}

Brain::Brain(const QString &server, QObject *parent)
    : Brain(server, nullptr, BrainLimits{}, parent)
{
}

Brain::Brain(const QString &server, QNetworkAccessManager *network, const BrainLimits &limits, QObject *parent)
    : QObject(parent), m_server(server), m_limits(limits)
    , m_ownNetwork(network ? nullptr : std::make_unique<QNetworkAccessManager>())
    , m_network(network ? network : m_ownNetwork.get())
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

template<class T>
std::shared_ptr<Brain::Flight> Brain::exchange(const QString &path, const QByteArray &method,
                                               const std::optional<QJsonObject> &body, int idleMs,
                                               T (*read)(const Http::Result &), std::function<void(T)> write)
{
    const std::optional<QUrl> url = Http::requestAddress(m_server, path);
    if (!url)
        return nullptr;
    std::optional<QByteArray> bytes;
    if (body)
        bytes = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    auto flight = std::make_shared<Flight>();
    const Http::Limits limits{idleMs, m_limits.deadlineIdleLimits * idleMs, m_limits.maxReplyBytes};
    flight->call = Http::send(*m_network, &m_requests, *url, method, bytes, limits,
                              [this, flight, read, write = std::move(write)](Http::Result result) {
        m_arrivals.append(flight);
        if (result.body.size() < readOnWorkerFrom) {
            flight->write = [write, value = read(result)] { write(value); };
            flight->ready = true;
            land();
            return;
        }
        // The watcher is this model's: if the model goes first, the worker's
        // result is dropped with it.
        auto *watcher = new QFutureWatcher<T>(this);
        flight->reading = watcher;
        connect(watcher, &QFutureWatcherBase::finished, this, [this, flight, watcher, write] {
            watcher->deleteLater();
            flight->reading = nullptr;
            flight->write = [write, value = watcher->result()] { write(value); };
            flight->ready = true;
            land();
        });
        watcher->setFuture(QtConcurrent::run(read, std::move(result)));
    });
    return flight;
}

// Writes every outcome whose turn has come: a reply still being read holds
// back the ones that ended after it, so fields change in the order the
// exchanges ended, as if each had been read on the spot.
void Brain::land()
{
    if (m_landing)
        return;
    m_landing = true;
    const QPointer<Brain> alive(this);
    while (!m_arrivals.isEmpty()) {
        const std::shared_ptr<Flight> next = m_arrivals.first();
        if (next->dropped) {
            m_arrivals.removeFirst();
            continue;
        }
        if (!next->ready)
            break;
        m_arrivals.removeFirst();
        next->landed = true;
        const std::function<void()> write = std::move(next->write);
        write();
        // An observer may have let the model go.
        if (!alive)
            return;
    }
    m_landing = false;
}

// Abandons an exchange wherever it is: on the network, on a worker, or
// waiting for its turn. It writes nothing.
void Brain::drop(const std::shared_ptr<Flight> &flight)
{
    flight->dropped = true;
    flight->write = nullptr;
    delete flight->call.data();
    delete flight->reading.data();
}

void Brain::refreshLoops()
{
    m_refreshes.removeIf([](const std::shared_ptr<Flight> &f) { return f->landed; });
    const QString path = QStringLiteral("/api/structured/open-loops");
    const std::shared_ptr<Flight> flight = exchange<LoopsReading>(
        path, "GET", std::nullopt, m_limits.readIdleMs, &readLoops, [this](LoopsReading reading) {
            m_refreshes.removeIf([](const std::shared_ptr<Flight> &f) { return f->landed; });
            // The panel keeps what it showed; whoever debugs hears why.
            if (!reading.loops) {
                qCWarning(barLog).noquote() << "open loops not refreshed from" << m_server << "-" << reading.unusable;
                emit refreshEnded();
                return;
            }
            setLoopTotal(reading.total);
            setLoops(*reading.loops);
            emit refreshEnded();
        });
    if (!flight) {
        qCWarning(barLog).noquote() << "open loops not refreshed: no request address in" << m_server + path;
        emit refreshEnded();
        return;
    }
    m_refreshes.append(flight);
}

void Brain::cancelRefresh()
{
    const QList<std::shared_ptr<Flight>> refreshes = std::exchange(m_refreshes, {});
    const QPointer<Brain> alive(this);
    for (const std::shared_ptr<Flight> &flight : refreshes) {
        if (flight->landed)
            continue;
        drop(flight);
        emit refreshEnded();
        if (!alive)
            return;
    }
    // Outcomes that waited behind a dropped read may write now.
    land();
}

void Brain::closeLoop(const Loop &loop)
{
    // One close per loop at a time: a second tick would lower the count twice.
    if (m_closing.contains(loop.id)) {
        emit closeEnded(loop);
        return;
    }
    // The id goes in as it is: the address class alone encodes what it must.
    const QString path = QStringLiteral("/api/structured/open-loops/") + loop.id + QStringLiteral("/close");
    const std::shared_ptr<Flight> flight = exchange<bool>(
        path, "POST", std::nullopt, m_limits.closeIdleMs, &readNothing, [this, loop](bool) {
            m_closing.remove(loop.id);
            // Closed as far as this client goes, whatever the server said or
            // whether it answered at all.
            QList<Loop> kept = m_loops;
            kept.removeIf([&loop](const Loop &l) { return l == loop; });
            setLoops(kept);
            setLoopTotal(std::max<qint64>(0, m_loopTotal - 1));
            emit closeEnded(loop);
        });
    if (!flight) {
        emit closeEnded(loop);
        return;
    }
    m_closing.insert(loop.id);
}

void Brain::loadBriefing()
{
    setBriefingBusy(true);
    setBriefing(QStringLiteral("브리핑을 만드는 중… (일정·미결·어제 맥락을 종합해요)"));
    const auto write = [this](TextReading reading) {
        switch (reading.kind) {
        case TextReading::NoReply:
        case TextReading::NotAnObject:
            // Names the address in use, so a wrong configuration shows.
            setBriefing(QStringLiteral("브레인에 연결할 수 없어요 — ") + m_server);
            break;
        case TextReading::NoText:
            setBriefing(QStringLiteral("오늘은 브리핑할 게 없어요 — 놓친 것도 급한 것도 없다는 뜻!"));
            break;
        case TextReading::Text:
            setBriefing(reading.text);
            break;
        }
        setBriefingBusy(false);
        emit briefingEnded();
    };
    if (!exchange<TextReading>(QStringLiteral("/api/structured/briefing"), "GET", std::nullopt, m_limits.readIdleMs,
                               &readBriefing, write))
        write(TextReading{});
}

void Brain::ask(const QString &question, const std::optional<QString> &label)
{
    setAsking(true);
    setAnswer(QString());
    setAskedAbout(label.value_or(question));
    const QJsonObject body{{QStringLiteral("message"), question}};
    const auto write = [this](TextReading reading) {
        switch (reading.kind) {
        case TextReading::NoReply:
        case TextReading::NotAnObject:
            setAnswer(QStringLiteral("브레인에 연결할 수 없어요."));
            break;
        case TextReading::NoText:
            setAnswer(QStringLiteral("(응답 형식을 읽지 못했어요)"));
            break;
        case TextReading::Text:
            setAnswer(reading.text);
            break;
        }
        setAsking(false);
        emit askEnded();
    };
    // No address, no request: the answer stays empty.
    if (!exchange<TextReading>(QStringLiteral("/api/chat"), "POST", body, m_limits.chatIdleMs, &readAnswer, write)) {
        setAsking(false);
        emit askEnded();
    }
}

void Brain::explainLoop(const Loop &loop)
{
    const QString question = QStringLiteral("'") + loop.title
        + QStringLiteral("' — 이 미결이 무슨 맥락인지 관련 기록을 찾아 요약해주고, ")
        + QStringLiteral("다음 행동 하나를 제안해줘.");
    ask(question, loop.title);
}

} // namespace Kovel::Bar
