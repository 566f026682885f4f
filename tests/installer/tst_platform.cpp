// The two platform sides, as far as they write files and name things.

#include "platform/linuxplatform.h"
#include "platform/macplatform.h"
#include "tests/support/fakeplatform.h"
#include "tests/support/filechecks.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void factsCanBePinned()
    {
        PlatformFacts facts;
        facts.homeFolder = QStringLiteral("/home/someone");
        facts.userId = 777;
        facts.hostName = QStringLiteral("studio");
        QProcessEnvironment env;
        env.insert(QStringLiteral("A"), QStringLiteral("1"));
        facts.environment = env;
        LinuxPlatform linuxSide(facts);
        MacPlatform mac(facts);
        for (Platform *p : {static_cast<Platform *>(&linuxSide), static_cast<Platform *>(&mac)}) {
            QCOMPARE(p->homeFolder(), QStringLiteral("/home/someone"));
            QCOMPARE(p->userId(), 777u);
            QCOMPARE(p->hostName(), QStringLiteral("studio"));
            QCOMPARE(p->environment().toStringList(), QStringList{"A=1"});
        }
        QCOMPARE(linuxSide.installedMenubarPath(), QStringLiteral("/home/someone/Applications/KovelBar.app"));
        QCOMPARE(mac.installedMenubarPath(), QStringLiteral("/Applications/KovelBar.app"));
    }

    void systemFactsByDefault()
    {
        LinuxPlatform p;
        QCOMPARE(p.homeFolder(), QDir::homePath());
        QVERIFY(!p.hostName().isEmpty());
        QCOMPARE(p.environment().value("PATH"), qEnvironmentVariable("PATH"));
    }

    void macLoginItemText()
    {
        const QString expected = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\"><dict>\n"
            "  <key>Label</key><string>io.kovel.menubar</string>\n"
            "  <key>ProgramArguments</key><array>\n"
            "    <string>/usr/bin/open</string><string>-a</string><string>/Applications/KovelBar.app</string>\n"
            "  </array>\n"
            "  <key>RunAtLoad</key><true/>\n"
            "</dict></plist>");
        QCOMPARE(MacPlatform::loginItemPlist(QStringLiteral("/Applications/KovelBar.app")), expected);
        QVERIFY(MacPlatform::loginItemPlist(QStringLiteral("/A&B/<x>.app")).contains("<string>/A&amp;B/&lt;x&gt;.app</string>"));
    }

    void macLoginItemReplacesWhole()
    {
        FakeMacPlatform p;
        const QString folder = p.home() + "/Library/LaunchAgents";
        QDir().mkpath(folder);
        QFile old(folder + "/io.kovel.menubar.plist");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(10000, 'z'));
        old.close();
        p.registerLoginItem(QStringLiteral("/Applications/KovelBar.app"));
        QCOMPARE(readAll(folder + "/io.kovel.menubar.plist"),
                 MacPlatform::loginItemPlist(QStringLiteral("/Applications/KovelBar.app")).toUtf8());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"io.kovel.menubar.plist"});
    }

    void macPanes()
    {
        MacPlatform p;
        const QList<QUrl> panes = p.privacyPanes();
        QCOMPARE(panes.size(), 2);
        QCOMPARE(panes[0].toString(), QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture"));
        QCOMPARE(panes[1].toString(), QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));
        QVERIFY(panes[0].isValid() && panes[1].isValid());
        QVERIFY(LinuxPlatform().privacyPanes().isEmpty());
    }

    // Exec= quoting: what a desktop reads back is the program path unchanged.
    void autostartExec_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/home/u/Applications/KovelBar.app"
                               << "Exec=\"/home/u/Applications/KovelBar.app/Contents/MacOS/KovelBar\"";
        QTest::newRow("space") << "/home/a b/Applications/KovelBar.app"
                               << "Exec=\"/home/a b/Applications/KovelBar.app/Contents/MacOS/KovelBar\"";
        QTest::newRow("reserved") << "/h/$x`y\"z\\w%u/K.app"
                                  << "Exec=\"/h/\\\\$x\\\\`y\\\\\"z\\\\\\\\w%%u/K.app/Contents/MacOS/KovelBar\"";
    }
    void autostartExec()
    {
        QFETCH(QString, client);
        QFETCH(QString, exec);
        const QStringList lines = LinuxPlatform::autostartEntry(client).split(u'\n');
        QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
        QVERIFY(lines.contains(QStringLiteral("Type=Application")));
        QVERIFY2(lines.contains(exec), qPrintable(lines.join(" | ")));
    }

    void linuxLoginItemCreatesFolder()
    {
        FakePlatform p;
        const QString client = p.home() + "/Applications/KovelBar.app";
        p.registerLoginItem(client);
        QCOMPARE(readAll(p.home() + "/.config/autostart/io.kovel.menubar.desktop"),
                 LinuxPlatform::autostartEntry(client).toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
