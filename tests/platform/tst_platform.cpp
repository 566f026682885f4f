// The two platform sides, as far as they write files and name things.

#include "platform/linux/linuxplatform.h"
#include "platform/mac/macplatform.h"
#include "tests/support/fakeplatform.h"
#include "tests/support/filechecks.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <sys/stat.h>

using namespace Kovel::System;

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
        QCOMPARE(p.registerLoginItem(QStringLiteral("/Applications/KovelBar.app")), QString());
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

    // The entry goes where the desktop looks: $XDG_CONFIG_HOME when it is an
    // absolute path, ~/.config otherwise; written whole, 0644 in a 0755 folder.
    void linuxLoginItemFollowsXdg_data()
    {
        QTest::addColumn<QString>("xdg");     // "<home>" stands for the temporary home
        QTest::addColumn<QString>("folder");
        QTest::newRow("unset") << QString() << "<home>/.config/autostart";
        QTest::newRow("empty") << "" << "<home>/.config/autostart";
        QTest::newRow("absolute") << "<home>/my config" << "<home>/my config/autostart";
        QTest::newRow("relative, ignored") << "rel/cfg" << "<home>/.config/autostart";
    }
    void linuxLoginItemFollowsXdg()
    {
        QFETCH(QString, xdg);
        QFETCH(QString, folder);
        FakePlatform p;
        QProcessEnvironment env = p.environment();
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        if (!xdg.isNull())
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString(xdg).replace("<home>", p.home()));
        p.setEnvironment(env);
        folder.replace("<home>", p.home());
        const QString client = p.home() + "/Applications/KovelBar.app";
        const mode_t before = ::umask(0);
        const QString error = p.registerLoginItem(client);
        ::umask(before);
        QCOMPARE(error, QString());
        QCOMPARE(p.autostartEntryPath(), folder + "/io.kovel.menubar.desktop");
        QCOMPARE(readAll(folder + "/io.kovel.menubar.desktop"), LinuxPlatform::autostartEntry(client).toUtf8());
        QCOMPARE(modeOf(folder + "/io.kovel.menubar.desktop"), 0644);
        QCOMPARE(modeOf(folder), 0755);
    }

    // The entry as the desktops read it: valid, with the keys for a tray
    // that comes up late.
    void autostartEntryValidates()
    {
        const QString client = QStringLiteral("/home/a b/Applications/KovelBar.app");
        const QString entry = LinuxPlatform::autostartEntry(client);
        const QStringList lines = entry.split(u'\n');
        for (const char *line : {"Icon=io.kovel.KovelBar", "X-KDE-autostart-after=panel", "X-LXQt-Need-Tray=true",
                                 "TryExec=/home/a b/Applications/KovelBar.app/Contents/MacOS/KovelBar"})
            QVERIFY2(lines.contains(QLatin1String(line)), line);
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString &l) {
            bool ok = false;
            return l.startsWith("X-GNOME-Autostart-Delay=") && l.mid(24).toInt(&ok) > 0 && ok;
        }));
        if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QTemporaryDir dir;
        QFile f(dir.filePath("io.kovel.menubar.desktop"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(entry.toUtf8());
        f.close();
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(QStringLiteral("desktop-file-validate"), {f.fileName()});
        QVERIFY(validate.waitForFinished(20000));
        const QByteArray said = validate.readAll();
        QVERIFY2(validate.exitCode() == 0 && !said.contains("error"), said.constData());
    }

    void macOpenCommand_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("open");
        QTest::newRow("with arguments") << QStringList{"--replace"}
                                        << QStringList{"-n", "-a", "/Applications/KovelBar.app", "--args", "--replace"};
        QTest::newRow("without") << QStringList{} << QStringList{"-a", "/Applications/KovelBar.app"};
    }
    void macOpenCommand()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, open);
        QCOMPARE(MacPlatform::openArguments(QStringLiteral("/Applications/KovelBar.app"), arguments), open);
    }

    // The client really starts, detached, with its arguments.
    void linuxOpensWithArguments()
    {
        QTemporaryDir dir;
        const QString bundle = dir.filePath("Kovel Bar.app");
        const QString program = LinuxPlatform::bundleExecutable(bundle);
        QVERIFY(QDir().mkpath(QFileInfo(program).absolutePath()));
        QFile f(program);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args.tmp\" && mv \"$0.args.tmp\" \"$0.args\"\n");
        f.close();
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
        LinuxPlatform p;
        p.openApplication(bundle, {QStringLiteral("--replace")});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(program + ".args"), 10000);
        QCOMPARE(readAll(program + ".args"), QByteArray("--replace\n"));
    }

    void macLoginItemMakesItsFolder()
    {
        FakeMacPlatform p;
        const mode_t before = ::umask(0);
        const QString error = p.registerLoginItem(QStringLiteral("/Applications/KovelBar.app"));
        ::umask(before);
        QCOMPARE(error, QString());
        QCOMPARE(modeOf(p.home() + "/Library/LaunchAgents"), 0755);
        QCOMPARE(modeOf(p.home() + "/Library/LaunchAgents/io.kovel.menubar.plist"), 0644);
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
