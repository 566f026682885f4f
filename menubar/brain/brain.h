#pragma once

#include "menubar/brain/loop.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

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
    // Reads the configuration for the server address; makes no request.
    explicit Brain(QObject *parent = nullptr);
    // Same, with the server address given (for hosts and tests that know it).
    explicit Brain(const QString &server, QObject *parent = nullptr);
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
    struct PostOutcome {
        enum Kind { NoRequest, TransportFailure, Reply } kind;
        QByteArray body;
    };
    // The read exchange: a GET whose reply is a JSON object, or nothing.
    void getJSON(const QString &path, std::function<void(std::optional<QJsonObject>)> then);
    // The write exchange: a POST with an optional JSON body of text values.
    void post(const QString &path, const std::optional<QJsonObject> &body, int timeoutSeconds,
              std::function<void(PostOutcome)> then);

    QString m_briefing;
    QList<Loop> m_loops;
    qint64 m_loopTotal = 0;
    QString m_answer;
    QString m_askedAbout;
    bool m_asking = false;
    bool m_briefingBusy = false;
    QString m_server;
};
