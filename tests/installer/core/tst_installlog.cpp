// The install log's one way in, and paths inside the bundle.

#include "installer/core/bundlepaths.h"
#include "installer/core/installlog.h"
#include "tests/support/installerrig.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

using namespace Kovel::Installer;
using namespace Kovel::System;

class TestInstallLog : public QObject
{
    Q_OBJECT

private slots:
    // Called on the main thread the text waits for the current step: a field
    // written later in the same step changes first.
    void appendWaitsForTheCurrentStep()
    {
        InstallerRig<> rig;
        QStringList events;
        connect(&rig.state, &InstallerState::logAppended, this, [&](const QString &p) { events << "log:" + p; });
        connect(&rig.state, &InstallerState::doneChanged, this, [&](bool d) { events << QStringLiteral("done:%1").arg(d); });
        appendLog(rig.context, QStringLiteral("first\n"));
        QCOMPARE(rig.state.log(), QString());
        rig.state.setDone(true);
        QCOMPARE(events, QStringList{"done:1"});
        QTRY_COMPARE(rig.state.log(), QStringLiteral("first\n"));
        QCOMPARE(events, (QStringList{"done:1", "log:first\n"}));
    }

    void appendsJoinInOrder()
    {
        InstallerRig<> rig;
        rig.state.setLog(QStringLiteral("start|"));
        appendLog(rig.context, QStringLiteral("a"));
        appendLog(rig.context, QStringLiteral("b\n"));
        appendLog(rig.context, QString());
        appendLog(rig.context, QStringLiteral("한"));
        QTRY_COMPARE(rig.state.log(), QStringLiteral("start|ab\n한"));
    }

    // From another thread the texts still arrive whole, in order, on the main thread.
    void appendFromAnotherThread()
    {
        InstallerRig<> rig;
        QThread *mainThread = QThread::currentThread();
        bool allOnMain = true;
        connect(&rig.state, &InstallerState::logAppended, this,
                [&](const QString &) { allOnMain = allOnMain && QThread::currentThread() == mainThread; });
        QString expected;
        for (int i = 0; i < 200; ++i)
            expected += QStringLiteral("line %1\n").arg(i);
        QThread *worker = QThread::create([&] {
            for (int i = 0; i < 200; ++i)
                appendLog(rig.context, QStringLiteral("line %1\n").arg(i));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QTRY_COMPARE(rig.state.log(), expected);
        QVERIFY(allOnMain);
    }

    void appPathConcatenates_data()
    {
        QTest::addColumn<QString>("bundle");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("result");
        QTest::newRow("script") << "/x/Kovel.app" << "/Contents/Resources/bootstrap.sh" << "/x/Kovel.app/Contents/Resources/bootstrap.sh";
        QTest::newRow("no slash added") << "/x/Kovel.app" << "Contents" << "/x/Kovel.appContents";
        QTest::newRow("nothing normalised") << "/x/Kovel.app/" << "/../a" << "/x/Kovel.app//../a";
        QTest::newRow("empty") << "/x/Kovel.app" << "" << "/x/Kovel.app";
    }
    void appPathConcatenates()
    {
        QFETCH(QString, bundle);
        QFETCH(QString, path);
        QFETCH(QString, result);
        InstallerRig<> rig;
        Context context{rig.state, rig.platform, bundle, rig.network};
        QCOMPARE(appPath(context, path), result);
    }

    // Test programs are not in a bundle; the rule is still two levels up.
    void bundleFolderFromProgramLocation()
    {
        QDir expected(QCoreApplication::applicationDirPath());
        expected.cdUp();
        expected.cdUp();
        QCOMPARE(bundleFolderOfRunningProgram(), expected.absolutePath());
    }

    // The real bundle the build lays out has its program where the rule expects it.
    void builtBundleLayout()
    {
        const QString bundle = qEnvironmentVariable("KOVEL_TEST_BUNDLE");
        if (bundle.isEmpty() || !QFileInfo::exists(bundle + "/Contents/MacOS/Kovel"))
            QSKIP("no built installer bundle");
        QVERIFY(QFileInfo::exists(bundle + "/Contents/Resources/bootstrap.sh"));
        QVERIFY(QFileInfo::exists(bundle + "/Contents/Resources/KovelBar.app/Contents/MacOS/KovelBar"));
    }
};

QTEST_GUILESS_MAIN(TestInstallLog)
#include "tst_installlog.moc"
