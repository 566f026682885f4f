#pragma once
// Where the built bundle keeps the demo brain and the setup script, and a
// demo brain started for one test on an ephemeral port.

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTest>
#include <memory>

namespace DemoBundle {

inline QString resources()
{
    QString bundle = qEnvironmentVariable("KOVEL_TEST_BUNDLE");
    if (bundle.isEmpty())
        bundle = QStringLiteral(KOVEL_TEST_BUNDLE_DEFAULT);
    return bundle + QStringLiteral("/Contents/Resources");
}
inline QString brainProgram() { return resources() + QStringLiteral("/brain/kovel-demo-brain"); }
inline QString setupScript() { return resources() + QStringLiteral("/bootstrap.sh"); }

// A running demo brain; stopped when this goes away.
class RunningBrain
{
public:
    explicit RunningBrain(const QStringList &extraArguments = {})
    {
        m_process.setProgram(brainProgram());
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        // glibc scribbles over what the brain frees, so a read after free
        // shows up as wrong bytes in a reply instead of passing unseen.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MALLOC_PERTURB_"), QStringLiteral("165"));
        environment.insert(QStringLiteral("GLIBC_TUNABLES"), QStringLiteral("glibc.malloc.tcache_count=0"));
        m_process.setProcessEnvironment(environment);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return;
        // The first line of its output is the port it picked.
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QSignalSpy output(&m_process, &QProcess::readyReadStandardOutput);
            output.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        if (m_process.canReadLine())
            m_port = m_process.readLine().trimmed().toUShort();
    }
    ~RunningBrain()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    RunningBrain(const RunningBrain &) = delete;
    RunningBrain &operator=(const RunningBrain &) = delete;

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace DemoBundle
