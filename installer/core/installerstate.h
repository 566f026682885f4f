#pragma once

#include "installer/core/engine.h"
#include "installer/core/role.h"

#include <QObject>
#include <QString>

namespace Kovel::Installer {

// Everything the installer knows while it runs. Lives on the main thread and is
// written only there; other threads hand their writes over (see appendLog).
// Each setter emits its signal only when the value changes.
class InstallerState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString serverURL READ serverURL WRITE setServerURL NOTIFY serverURLChanged)
    Q_PROPERTY(QString pairCode READ pairCode WRITE setPairCode NOTIFY pairCodeChanged)
    Q_PROPERTY(QString aiPairCode READ aiPairCode WRITE setAiPairCode NOTIFY aiPairCodeChanged)
    Q_PROPERTY(QString log READ log WRITE setLog NOTIFY logChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(bool done READ done WRITE setDone NOTIFY doneChanged)

public:
    explicit InstallerState(QObject *parent = nullptr);

    Role role() const { return m_role; }
    Engine engine() const { return m_engine; }
    QString serverURL() const { return m_serverURL; }
    QString pairCode() const { return m_pairCode; }
    QString aiPairCode() const { return m_aiPairCode; }
    const QString &log() const { return m_log; }
    bool running() const { return m_running; }
    bool done() const { return m_done; }
    // A failed run after which the dashboard button is offered all the same.
    bool dashboardOffered() const { return m_dashboardOffered; }

    void setRole(Role v);
    void setEngine(Engine v);
    void setServerURL(const QString &v);
    void setPairCode(const QString &v);
    void setAiPairCode(const QString &v);
    void setLog(const QString &v);
    // Appends on the spot. Operations go through appendLog(), which queues.
    void appendToLog(const QString &text);
    void setRunning(bool v);
    void setDone(bool v);
    void setDashboardOffered(bool v);

signals:
    void roleChanged(Role role);
    void engineChanged(Engine engine);
    void serverURLChanged(const QString &serverURL);
    void pairCodeChanged(const QString &pairCode);
    void aiPairCodeChanged(const QString &aiPairCode);
    // The whole log was replaced (a run began).
    void logChanged(const QString &log);
    // Text was added at the end; views append just that piece.
    void logAppended(const QString &piece);
    void runningChanged(bool running);
    void doneChanged(bool done);
    void dashboardOfferedChanged(bool offered);

private:
    Role m_role = Role::allInOne;
    Engine m_engine = Engine::ollama;
    QString m_serverURL;
    QString m_pairCode;
    QString m_aiPairCode;
    QString m_log;
    bool m_running = false;
    bool m_done = false;
    bool m_dashboardOffered = false;
};

} // namespace Kovel::Installer
