// Closing the installer mid-run: the runs under way, and how their children
// and everything they started are ended.

#include "installer/runs/runner.h"
#include "installer/runs/runregistry.h"
#include "tests/support/installerrig.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Kovel::Installer;

namespace {

// No such process any more, or only its zombie (reaped by whoever adopted it).
bool gone(int pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

} // namespace

class TestRunRegistry : public QObject
{
    Q_OBJECT

private slots:
    // Closing mid-run: the child and all it started end (TERM, then KILL for
    // what ignores it), and the run ends with nothing more done, even when
    // the child exits 0 on the signal.
    void endRunsEndsTheGroup_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("ends on TERM") << "sleep 60 & echo $! > \"$PIDS\"; echo ready; wait";
        QTest::newRow("exits 0 on TERM") << "trap 'exit 0' TERM; sleep 60 & echo $! > \"$PIDS\"; echo ready; wait";
        QTest::newRow("ignores TERM") << "trap '' TERM; sleep 60 & echo $! > \"$PIDS\"; echo ready; "
                                         "while :; do wait; done";
    }
    void endRunsEndsTheGroup()
    {
        QFETCH(QString, script);
        QTemporaryDir dir;
        const QString pids = dir.filePath(QStringLiteral("pids"));
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        QVERIFY(!rig.runs.endRuns([] {}));
        beginRun(rig);
        QProcess *p = shellChild(script);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PIDS"), pids);
        p->setProcessEnvironment(env);
        int successSteps = 0;
        runStreaming(rig.context, rig.runs, p, [&successSteps] { ++successSteps; });
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.log(), QStringLiteral("ready\n"), 10000);
        const int child = int(p->processId());
        QFile f(pids);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const int grandchild = f.readAll().trimmed().toInt();
        QVERIFY(grandchild > 0);

        bool ended = false;
        QVERIFY(rig.runs.endRuns([&ended] { ended = true; }, 300));
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QVERIFY(gone(child));
        QVERIFY(gone(grandchild));
        QVERIFY(!rig.state.running());
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QStringLiteral("ready\n"));
        QVERIFY(!rig.state.done());
        QCOMPARE(successSteps, 0);
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }


    // Each installer ends only the runs it started, and a run that is over
    // is not one to end any more.
    void endRunsOnlyItsOwn()
    {
        InstallerRig<> mine;
        InstallerRig<> other;
        beginRun(mine);
        beginRun(other);
        runStreaming(mine.context, mine.runs, shellChild(QStringLiteral("echo ready; exec sleep 60")), {});
        runStreaming(other.context, other.runs, shellChild(QStringLiteral("echo ready; exec sleep 60")), {});
        QTRY_COMPARE_WITH_TIMEOUT(mine.state.log(), QStringLiteral("ready\n"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(other.state.log(), QStringLiteral("ready\n"), 10000);

        bool ended = false;
        QVERIFY(mine.runs.endRuns([&ended] { ended = true; }, 300));
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QTRY_VERIFY(!mine.state.running());
        QVERIFY(!mine.runs.endRuns([] {}));
        QVERIFY(other.state.running());

        bool otherEnded = false;
        QVERIFY(other.runs.endRuns([&otherEnded] { otherEnded = true; }, 300));
        QTRY_VERIFY_WITH_TIMEOUT(otherEnded, 10000);
        QTRY_VERIFY(!other.state.running());
    }
};

QTEST_GUILESS_MAIN(TestRunRegistry)
#include "tst_runregistry.moc"
