#pragma once

#include "menubar/brain/loop.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace Kovel::Http { struct Result; }

namespace Kovel::Bar {

// How long the Brain waits for the server and how much it takes from it. The
// idle limits end a request after that much silence; a server that keeps a
// request busy without finishing it is cut off after deadlineIdleLimits of
// its idle limit.
struct BrainLimits {
    int readIdleMs = 90 * 1000;         // the open loops and the briefing
    int chatIdleMs = 120 * 1000;        // a question: the brain may think for half a minute
    int closeIdleMs = 15 * 1000;
    int deadlineIdleLimits = 4;
    qint64 maxReplyBytes = 32 * 1024 * 1024;
};

// The menu bar client's model: everything the panel shows about the brain
// server. Operations return nothing; their outcome is written to the fields.
// Every assignment to a published field emits its change signal (even when the
// value is the same), then changed().
class Brain : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString briefing READ briefing WRITE setBriefing NOTIFY briefingChanged)
    Q_PROPERTY(QList<Loop> loops READ loops WRITE setLoops NOTIFY loopsChanged)
    Q_PROPERTY(qint64 loopTotal READ loopTotal WRITE setLoopTotal NOTIFY loopTotalChanged)
    Q_PROPERTY(QString answer READ answer WRITE setAnswer NOTIFY answerChanged)
    Q_PROPERTY(QString askedAbout READ askedAbout WRITE setAskedAbout NOTIFY askedAboutChanged)
    Q_PROPERTY(bool asking READ asking WRITE setAsking NOTIFY askingChanged)
    Q_PROPERTY(bool briefingBusy READ briefingBusy WRITE setBriefingBusy NOTIFY briefingBusyChanged)
    Q_PROPERTY(QString server READ server CONSTANT)

public:
    // Reads the configuration for the server address; makes no request. The
    // Brain keeps a network manager of its own and waits as long as a real
    // brain may take.
    explicit Brain(QObject *parent = nullptr);
    // Same, with the server address given (for hosts and tests that know it).
    explicit Brain(const QString &server, QObject *parent = nullptr);
    // Requests go out on network, which must outlive the Brain (none: the
    // Brain keeps its own), within limits.
    Brain(const QString &server, QNetworkAccessManager *network, const BrainLimits &limits = {},
          QObject *parent = nullptr);
    ~Brain() override;

    QString briefing() const { return m_briefing; }
    QList<Loop> loops() const { return m_loops; }
    qint64 loopTotal() const { return m_loopTotal; }
    QString answer() const { return m_answer; }
    QString askedAbout() const { return m_askedAbout; }
    bool asking() const { return m_asking; }
    bool briefingBusy() const { return m_briefingBusy; }
    QString server() const { return m_server; }

    void setBriefing(const QString &v);
    void setLoops(const QList<Loop> &v);
    void setLoopTotal(qint64 v);
    void setAnswer(const QString &v);
    void setAskedAbout(const QString &v);
    void setAsking(bool v);
    void setBriefingBusy(bool v);

    void refreshLoops();
    // Abandons every open-loops refresh still out: none of them writes a
    // field, and each still emits refreshEnded(), at once.
    void cancelRefresh();
    // A loop whose close is still out ignores further closes.
    void closeLoop(const Loop &loop);
    void loadBriefing();
    void ask(const QString &question, const std::optional<QString> &label = std::nullopt);
    void explainLoop(const Loop &loop);

signals:
    void briefingChanged(const QString &briefing);
    void loopsChanged(const QList<Loop> &loops);
    void loopTotalChanged(qint64 loopTotal);
    void answerChanged(const QString &answer);
    void askedAboutChanged(const QString &askedAbout);
    void askingChanged(bool asking);
    void briefingBusyChanged(bool briefingBusy);
    // After any published field was assigned.
    void changed();

    // Each operation's end, after its last field write, so callers can wait.
    void refreshEnded();
    void closeEnded(const Loop &loop);
    void briefingEnded();
    void askEnded();

private:
    struct Flight;
    // One exchange from its request to its field writes. read turns what
    // came back into a value without touching the model (on a worker when the
    // body is big); write applies that value on the main thread. Outcomes are
    // applied in the order the exchanges ended, however long each took to read.
    // Nothing when the address makes no request.
    template<class T>
    std::shared_ptr<Flight> exchange(const QString &path, const QByteArray &method,
                                     const std::optional<QJsonObject> &body, int idleMs,
                                     T (*read)(const Http::Result &), std::function<void(T)> write);
    void land();
    void drop(const std::shared_ptr<Flight> &flight);

    QString m_briefing;
    QList<Loop> m_loops;
    qint64 m_loopTotal = 0;
    QString m_answer;
    QString m_askedAbout;
    bool m_asking = false;
    bool m_briefingBusy = false;
    QString m_server;
    BrainLimits m_limits;
    std::unique_ptr<QNetworkAccessManager> m_ownNetwork;
    QNetworkAccessManager *m_network;
    // Parent of every request in flight: declared after the manager, so the
    // requests are given up before the manager they run on goes.
    QObject m_requests;

    // Ended exchanges waiting for their turn to write, oldest first.
    QList<std::shared_ptr<Flight>> m_arrivals;
    bool m_landing = false;
    QList<std::shared_ptr<Flight>> m_refreshes;
    QSet<QString> m_closing;
};

} // namespace Kovel::Bar
