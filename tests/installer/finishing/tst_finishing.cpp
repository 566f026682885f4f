// After a successful setup: the client installed, the panes, the dashboard.

#include "installer/finishing/bundlecopy.h"
#include "installer/finishing/dashboard.h"
#include "installer/finishing/menubarinstall.h"
#include "installer/finishing/permissionpanes.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"
#include "tests/support/installerrig.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QtTest>

#include <sys/stat.h>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kClientLine = QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n");
const QString kPanesLine = QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                          "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n");
const QList<QUrl> kPanes = {
    QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture")),
    QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility")),
};

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

} // namespace

class TestFinishing : public QObject
{
    Q_OBJECT

private slots:
    void noClientInBundle()
    {
        InstallerRig<FakeMacPlatform> rig;
        QDir().mkpath(rig.platform.home() + "/Library/LaunchAgents");
        installMenubar(rig.context);
        openPermissionPanes(rig.context);
        QTRY_COMPARE(rig.state.log(), kPanesLine);
        QVERIFY(!QFileInfo::exists(rig.platform.installedMenubarPath()));
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/Library/LaunchAgents/io.kovel.menubar.plist"));
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QCOMPARE(rig.platform.openedUrls, kPanes);
    }

    // An older install, with a file the new one lacks, is replaced by exactly
    // the shipped copy.
    void replacesOlderInstall()
    {
        InstallerRig<FakeMacPlatform> rig;
        QDir().mkpath(rig.platform.home() + "/Library/LaunchAgents");
        const QString shipped = rig.bundle.addMenubarClient("v2");
        const QString installed = rig.platform.installedMenubarPath();
        writeFile(installed + "/Contents/MacOS/KovelBar", "old program");
        writeFile(installed + "/Contents/Resources/leftover.txt", "old");

        installMenubar(rig.context);

        QCOMPARE(tree(installed), tree(shipped));
        QVERIFY(QFileInfo(installed + "/Contents/MacOS/KovelBar").isExecutable());
        QCOMPARE(QDir(QFileInfo(installed).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"KovelBar.app"});
        QCOMPARE(rig.platform.openedApplications, QStringList{installed});
        QCOMPARE(rig.platform.openedArguments, QList<QStringList>{{"--replace"}});
        QCOMPARE(readAll(rig.platform.home() + "/Library/LaunchAgents/io.kovel.menubar.plist"),
                 MacPlatform::loginItemPlist(installed).toUtf8());
        QTRY_COMPARE(rig.state.log(), kClientLine);
    }

    // A copy that breaks off halfway (a socket in the bundle cannot be
    // copied) leaves the earlier install exactly as it was and says so instead
    // of the install line. Only a client just swapped in is registered or
    // started: whatever lies at the destination is not known to be ours.
    void failedCopyKeepsOldInstall()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v2");
        QLocalServer blocker;
        QVERIFY(blocker.listen(rig.bundle.path() + "/Contents/Resources/KovelBar.app/Contents/Resources/zz.sock"));
        const QString installed = rig.platform.installedMenubarPath();
        writeFile(installed + "/Contents/MacOS/KovelBar", "old program");
        const auto before = tree(installed);

        installMenubar(rig.context);

        QCOMPARE(tree(installed), before);
        QCOMPARE(QDir(QFileInfo(installed).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"KovelBar.app"});
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop"));
        QTRY_VERIFY(!rig.state.log().isEmpty());
        QCoreApplication::processEvents();
        const QString log = rig.state.log();
        QVERIFY2(log.startsWith(QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ")), qPrintable(log));
        QVERIFY2(log.contains(rig.bundle.path() + "/Contents/Resources/KovelBar.app"), qPrintable(log));
        QVERIFY(log.endsWith(u'\n'));
        QCOMPARE(log.count(u'\n'), 1);
    }

    // ~/Applications leads into a shared folder where another user has put a
    // KovelBar.app of theirs: nothing is written in that folder, their
    // program is neither registered nor started, and the refusal names it.
    void othersApplicationsFolderRefused()
    {
        if (!mayGiveFilesAway())
            QSKIP("giving a folder to another user (chown) needs root");
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v2");
        const QString shared = rig.platform.home() + "/tmp/shared";
        QVERIFY(makeOthersSharedFolder(shared));
        writeFile(shared + "/KovelBar.app/Contents/MacOS/KovelBar", "someone else's program");
        writeFile(shared + "/.KovelBar.app.new-2147483000-abcdef/x", "their staging");
        QVERIFY(giveToOtherUser(shared + "/KovelBar.app"));
        QVERIFY(giveToOtherUser(shared + "/.KovelBar.app.new-2147483000-abcdef"));
        const auto before = tree(shared);
        const QString apps = QFileInfo(rig.platform.installedMenubarPath()).absolutePath();
        QVERIFY(QFile::link(shared, apps));

        installMenubar(rig.context);

        QCOMPARE(tree(shared), before);
        QCOMPARE(QFileInfo(shared + "/KovelBar.app").ownerId(), uint(otherUser));
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop"));
        QTRY_VERIFY(!rig.state.log().isEmpty());
        QCoreApplication::processEvents();
        const QString log = rig.state.log();
        QVERIFY2(log.startsWith(QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ") + apps + ": "), qPrintable(log));
        QVERIFY2(log.contains(QString::number(otherUser)), qPrintable(log));
        QCOMPARE(log.count(u'\n'), 1);
        QVERIFY(!log.contains(kClientLine));
    }

    // With nothing installed before, a failed copy leaves nothing to register or start.
    void failedFirstCopyStopsThere()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        QLocalServer blocker;
        QVERIFY(blocker.listen(rig.bundle.path() + "/Contents/Resources/KovelBar.app/zz.sock"));
        installMenubar(rig.context);
        QTRY_VERIFY(rig.state.log().startsWith(QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ")));
        QVERIFY(!rig.state.log().contains(kClientLine));
        QVERIFY(!QFileInfo::exists(rig.platform.installedMenubarPath()));
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop"));
        QVERIFY(rig.platform.openedApplications.isEmpty());
    }

    // A login item that cannot be written is said so; the client is still
    // installed and started.
    void loginItemNotWritten_data()
    {
        QTest::addColumn<bool>("mac");
        QTest::newRow("linux") << false;
        QTest::newRow("mac") << true;
    }
    void loginItemNotWritten()
    {
        QFETCH(bool, mac);
        InstallerRig<> linuxRig;
        InstallerRig<FakeMacPlatform> macRig;
        InstallerState &state = mac ? macRig.state : linuxRig.state;
        Context &context = mac ? macRig.context : linuxRig.context;
        const QString home = mac ? macRig.platform.home() : linuxRig.platform.home();
        (mac ? macRig.bundle : linuxRig.bundle).addMenubarClient("v1");
        // A folder where the entry is to go: it cannot be replaced by a file.
        const QString entry = mac ? home + "/Library/LaunchAgents/io.kovel.menubar.plist"
                                  : home + "/.config/autostart/io.kovel.menubar.desktop";
        QVERIFY(QDir().mkpath(entry + "/in-the-way"));

        installMenubar(context);

        const QStringList opened = mac ? macRig.platform.openedApplications : linuxRig.platform.openedApplications;
        QCOMPARE(opened.size(), 1);
        QTRY_VERIFY(state.log().endsWith(kClientLine));
        const QString warning = state.log().chopped(kClientLine.size());
        QVERIFY2(warning.startsWith(QStringLiteral("⚠️ 로그인할 때 메뉴바 앱이 자동으로 켜지도록 등록하지 못했어요: ")),
                 qPrintable(warning));
        QVERIFY2(warning.contains(entry), qPrintable(warning));
        QCOMPARE(warning.count(u'\n'), 1);
        QVERIFY(warning.endsWith(u'\n'));
    }

    void symlinksStayLinks()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("src/Contents/Frameworks/A/Versions/1/lib"), "binary");
        QVERIFY(QFile::link("1", dir.filePath("src/Contents/Frameworks/A/Versions/Current")));
        QCOMPARE(replaceBundle(dir.filePath("src"), dir.filePath("dst/App.app")), QString());
        const QFileInfo link(dir.filePath("dst/App.app/Contents/Frameworks/A/Versions/Current"));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), dir.filePath("dst/App.app/Contents/Frameworks/A/Versions/1"));
        QCOMPARE(readAll(link.filePath() + "/lib"), QByteArray("binary"));
    }

    // A fresh account without ~/Library/LaunchAgents gets one (0755), and the
    // login item in it.
    void macWithoutLaunchAgentsFolder()
    {
        InstallerRig<FakeMacPlatform> rig;
        rig.bundle.addMenubarClient("v1");
        installMenubar(rig.context);
        const QString folder = rig.platform.home() + "/Library/LaunchAgents";
        QCOMPARE(modeOf(folder), 0755);
        QCOMPARE(readAll(folder + "/io.kovel.menubar.plist"),
                 MacPlatform::loginItemPlist(rig.platform.installedMenubarPath()).toUtf8());
        QCOMPARE(modeOf(folder + "/io.kovel.menubar.plist"), 0644);
        QVERIFY(QFileInfo::exists(rig.platform.installedMenubarPath() + "/Contents/MacOS/KovelBar"));
        QCOMPARE(rig.platform.openedApplications.size(), 1);
        QTRY_COMPARE(rig.state.log(), kClientLine);
    }

    void linuxAutostartFolderCreated()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        installMenubar(rig.context);
        const QString entry = rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop";
        QCOMPARE(readAll(entry), LinuxPlatform::autostartEntry(rig.platform.installedMenubarPath()).toUtf8());
    }

    // Installed by the package: nothing is copied into the home, the login
    // item and the start use the package's own client.
    void packagedUsesItsOwnClient_data()
    {
        QTest::addColumn<bool>("mac");
        QTest::newRow("linux") << false;
        QTest::newRow("mac") << true;
    }
    void packagedUsesItsOwnClient()
    {
        QFETCH(bool, mac);
        InstallerRig<> linuxRig;
        InstallerRig<FakeMacPlatform> macRig;
        Context &context = mac ? macRig.context : linuxRig.context;
        const QString home = mac ? macRig.platform.home() : linuxRig.platform.home();
        const QString shipped = (mac ? macRig.bundle : linuxRig.bundle).addMenubarClient("v3");
        context.packaged = true;

        installMenubar(context);

        QVERIFY(!QFileInfo::exists(home + "/Applications"));
        if (mac)
            QCOMPARE(readAll(home + "/Library/LaunchAgents/io.kovel.menubar.plist"),
                     MacPlatform::loginItemPlist(shipped).toUtf8());
        else
            QCOMPARE(readAll(home + "/.config/autostart/io.kovel.menubar.desktop"),
                     LinuxPlatform::autostartEntry(shipped).toUtf8());
        QCOMPARE(mac ? macRig.platform.openedApplications : linuxRig.platform.openedApplications, QStringList{shipped});
        QTRY_COMPARE((mac ? macRig.state : linuxRig.state).log(), kClientLine);
    }

    // The new client asks a copy already running (an older version) to quit.
    void startsWithReplace()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        installMenubar(rig.context);
        QCOMPARE(rig.platform.openedArguments, QList<QStringList>{{"--replace"}});
    }

    // Under umask 000 nothing the install writes is open to others.
    void modesWhateverTheUmask()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        const mode_t before = ::umask(0);
        installMenubar(rig.context);
        ::umask(before);
        const QString home = rig.platform.home();
        const QString client = rig.platform.installedMenubarPath();
        QCOMPARE(modeOf(home + "/.config"), 0755);
        QCOMPARE(modeOf(home + "/.config/autostart"), 0755);
        QCOMPARE(modeOf(home + "/.config/autostart/io.kovel.menubar.desktop"), 0644);
        QCOMPARE(modeOf(home + "/Applications"), 0755);
        for (const char *folder : {"", "/Contents", "/Contents/MacOS", "/Contents/Resources"})
            QCOMPARE(modeOf(client + folder), 0755);
        QCOMPARE(modeOf(client + "/Contents/MacOS/KovelBar"), 0755);
        QCOMPARE(modeOf(client + "/Contents/Info.plist"), 0644);
        QCOMPARE(modeOf(client + "/Contents/Resources/version.txt"), 0644);
    }

    // A full disk: the working entry stays as it was, the log says what failed.
    void fullDiskKeepsTheOldEntry()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        const QString entry = rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop";
        const QByteArray working = LinuxPlatform::autostartEntry("/earlier/KovelBar.app").toUtf8();
        writeFile(entry, working);
        // The client is in place already; only the entry meets the full disk.
        QCOMPARE(replaceBundle(rig.bundle.path() + "/Contents/Resources/KovelBar.app", rig.platform.installedMenubarPath()),
                 QString());
        {
            FullDisk full(64);
            rig.context.packaged = true; // nothing to copy: the entry is the one write
            installMenubar(rig.context);
        }
        QCOMPARE(readAll(entry), working);
        QCOMPARE(QDir(QFileInfo(entry).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"io.kovel.menubar.desktop"});
        QTRY_VERIFY(rig.state.log().endsWith(kClientLine));
        QVERIFY2(rig.state.log().startsWith(QStringLiteral("⚠️ 로그인할 때 메뉴바 앱이 자동으로 켜지도록 등록하지 못했어요: ") + entry),
                 qPrintable(rig.state.log()));
    }

    // A full disk while the client is copied: the working install stays whole.
    void fullDiskDuringTheCopy()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v2");
        rig.bundle.addFile("/Contents/Resources/KovelBar.app/Contents/Resources/big", QByteArray(8192, 'b'));
        const QString installed = rig.platform.installedMenubarPath();
        writeFile(installed + "/Contents/MacOS/KovelBar", "old program");
        const auto before = tree(installed);
        {
            FullDisk full(4096);
            installMenubar(rig.context);
        }
        QCOMPARE(tree(installed), before);
        QCOMPARE(QDir(QFileInfo(installed).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"KovelBar.app"});
        QTRY_VERIFY(rig.state.log().startsWith(QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ")));
        QVERIFY(!rig.state.log().contains(kClientLine));
    }

    // Nothing opens on Linux, so there is nothing to tell the user to allow.
    void noPanesNoPaneText()
    {
        InstallerRig<> rig;
        openPermissionPanes(rig.context);
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QString());
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }

    void dashboardAddress_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("serverURL");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opened"); // empty: nothing opened
        const QString local = QStringLiteral("http://127.0.0.1:8900/");
        QTest::newRow("all-in-one ignores field") << int(Role::allInOne) << "http://10.0.0.2:8900" << local << local;
        QTest::newRow("server ignores field") << int(Role::server) << "http://10.0.0.2:8900" << local << local;
        QTest::newRow("sensor empty") << int(Role::sensor) << "" << local << local;
        QTest::newRow("sensor spaces around") << int(Role::sensor) << " http://10.0.0.2:8900 " << "http://10.0.0.2:8900/" << "http://10.0.0.2:8900/";
        QTest::newRow("sensor tab, nbsp, ideographic space") << int(Role::sensor) << "\t\u00A0http://b.test\u3000"
                                                             << "http://b.test/" << "http://b.test/";
        QTest::newRow("sensor trailing slash doubled") << int(Role::sensor) << "http://b.test/" << "http://b.test//" << "http://b.test//";
        QTest::newRow("sensor only spaces") << int(Role::sensor) << "   " << "/" << "";
        QTest::newRow("sensor newline kept") << int(Role::sensor) << "http://b.test\n" << "http://b.test\n/" << "";
        QTest::newRow("sensor unparsable") << int(Role::sensor) << "http://b test" << "http://b test/" << "";
    }
    void dashboardAddress()
    {
        QFETCH(int, role);
        QFETCH(QString, serverURL);
        QFETCH(QString, text);
        QFETCH(QString, opened);
        QCOMPARE(::dashboardAddress(Role(Role::Case(role)), serverURL), text);
        InstallerRig<> rig;
        rig.state.setRole(Role(Role::Case(role)));
        rig.state.setServerURL(serverURL);
        openDashboard(rig.context);
        QCOMPARE(rig.platform.openedUrls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QString());
    }
};

QTEST_GUILESS_MAIN(TestFinishing)
#include "tst_finishing.moc"
