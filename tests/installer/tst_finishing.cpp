// After a successful setup: the client installed, the panes, the dashboard.

#include "installer/actions/finishing.h"
#include "installer/actions/bundlecopy.h"
#include "tests/support/installerrig.h"
#include "tests/support/filechecks.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QtTest>

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

// Every file under `root`, relative, with its content.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files.insert(QDir(root).relativeFilePath(it.filePath()), readAll(it.filePath()));
    }
    return files;
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
        installMenubar(rig.in);
        openPermissionPanes(rig.in);
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

        installMenubar(rig.in);

        QCOMPARE(tree(installed), tree(shipped));
        QVERIFY(QFileInfo(installed + "/Contents/MacOS/KovelBar").isExecutable());
        QCOMPARE(QDir(QFileInfo(installed).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"KovelBar.app"});
        QCOMPARE(rig.platform.openedApplications, QStringList{installed});
        QCOMPARE(readAll(rig.platform.home() + "/Library/LaunchAgents/io.kovel.menubar.plist"),
                 MacPlatform::loginItemPlist(installed).toUtf8());
        QTRY_COMPARE(rig.state.log(), kClientLine);
    }

    // A copy that breaks off halfway (a socket in the bundle cannot be
    // copied) leaves the earlier install exactly as it was.
    void failedCopyKeepsOldInstall()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v2");
        QLocalServer blocker;
        QVERIFY(blocker.listen(rig.bundle.path() + "/Contents/Resources/KovelBar.app/Contents/Resources/zz.sock"));
        const QString installed = rig.platform.installedMenubarPath();
        writeFile(installed + "/Contents/MacOS/KovelBar", "old program");
        const auto before = tree(installed);

        installMenubar(rig.in);

        QCOMPARE(tree(installed), before);
        QCOMPARE(QDir(QFileInfo(installed).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"KovelBar.app"});
        // The remaining steps still run, on whatever is installed.
        QCOMPARE(rig.platform.openedApplications, QStringList{installed});
        QVERIFY(QFileInfo::exists(rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop"));
        QTRY_COMPARE(rig.state.log(), kClientLine);
    }

    void symlinksStayLinks()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("src/Contents/Frameworks/A/Versions/1/lib"), "binary");
        QVERIFY(QFile::link("1", dir.filePath("src/Contents/Frameworks/A/Versions/Current")));
        QVERIFY(replaceBundle(dir.filePath("src"), dir.filePath("dst/App.app")));
        const QFileInfo link(dir.filePath("dst/App.app/Contents/Frameworks/A/Versions/Current"));
        QVERIFY(link.isSymLink());
        QCOMPARE(readAll(link.filePath() + "/lib"), QByteArray("binary"));
    }

    // launchd's folder is not ours to create; everything else still happens.
    void macWithoutLaunchAgentsFolder()
    {
        InstallerRig<FakeMacPlatform> rig;
        rig.bundle.addMenubarClient("v1");
        installMenubar(rig.in);
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/Library/LaunchAgents"));
        QVERIFY(QFileInfo::exists(rig.platform.installedMenubarPath() + "/Contents/MacOS/KovelBar"));
        QCOMPARE(rig.platform.openedApplications.size(), 1);
        QTRY_COMPARE(rig.state.log(), kClientLine);
    }

    void linuxAutostartFolderCreated()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        installMenubar(rig.in);
        const QString entry = rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop";
        QCOMPARE(readAll(entry), LinuxPlatform::autostartEntry(rig.platform.installedMenubarPath()).toUtf8());
    }

    void panesOnLinuxOnlyTheMessage()
    {
        InstallerRig<> rig;
        openPermissionPanes(rig.in);
        openPermissionPanes(rig.in);
        QTRY_COMPARE(rig.state.log(), kPanesLine + kPanesLine);
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
        openDashboard(rig.in);
        QCOMPARE(rig.platform.openedUrls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QString());
    }
};

QTEST_GUILESS_MAIN(TestFinishing)
#include "tst_finishing.moc"
