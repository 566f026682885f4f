// The installer program as a whole: its window, and the buttons running the
// real operations against a throw-away bundle and a recording platform.

#include "installer/core/installerstate.h"
#include "installer/window/contentview.h"
#include "installer/window/kovelapp.h"
#include "installer/window/logview.h"
#include "tests/support/fakeplatform.h"
#include "tests/support/tempbundle.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

struct Program {
    FakePlatform platform;
    TempBundle bundle;
    std::unique_ptr<KovelApp> app;

    explicit Program(const QByteArray &bootstrap = {})
    {
        if (!bootstrap.isNull()) bundle.addFile(QStringLiteral("/Contents/Resources/bootstrap.sh"), bootstrap);
        app = std::make_unique<KovelApp>(platform, bundle.path());
    }
    InstallerState &state() { return app->context().state; }
    template <class T> T *get(const char *name) { return app->window().findChild<T *>(QLatin1String(name)); }
    QPushButton *button(const char *name) { return get<QPushButton>(name); }
    void show()
    {
        app->show();
        if (!QTest::qWaitForWindowExposed(&app->window())) qFatal("window not exposed");
    }
};

// A live process's command line; empty for a zombie.
QByteArray readProc(int pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestKovelApp : public QObject
{
    Q_OBJECT
private slots:
    void oneWindowCentred();
    void failedRunShowsItsMessage();
    void finishedRunOffersTheDashboard();
    void returnStartsTheRun();
    void closingDuringARun();
};

void TestKovelApp::oneWindowCentred()
{
    Program p;
    p.show();
    ContentView &w = p.app->window();
    QCOMPARE(w.windowTitle(), QStringLiteral("KOVEL 설정"));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("io.kovel.Kovel"));
    QVERIFY(w.isWindow());
    QCOMPARE(w.minimumWidth(), 560);
    QVERIFY(w.minimumHeight() >= 520);
    QVERIFY(w.width() >= 560 && w.height() >= w.minimumHeight());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(w.geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(w.geometry().center().y() - screen.center().y()) <= 1);
    // Reopened after being moved, it stays where the user put it.
    w.move(screen.topLeft() + QPoint(10, 10));
    w.hide();
    p.app->show();
    QCOMPARE(w.pos(), screen.topLeft() + QPoint(10, 10));
}

void TestKovelApp::failedRunShowsItsMessage()
{
    Program p("echo '포트 확인 중…'\nexit 7\n");
    p.show();
    p.state().setLog(QStringLiteral("지난 실행\n"));
    QTest::mouseClick(p.button("start"), Qt::LeftButton);
    QVERIFY(p.state().running());
    QCOMPARE(p.button("start")->text(), QStringLiteral("실행 중…"));
    QTRY_VERIFY_WITH_TIMEOUT(!p.state().running(), 20000);
    const QString expected = QStringLiteral("포트 확인 중…\n\n⚠️ 8900 포트가 이미 사용 중이에요. 이미 실행 중이면 [대시보드 열기]를, "
                                            "아니면 그 프로그램을 끄고 다시 시작하세요.\n");
    QTRY_COMPARE(p.state().log(), expected);
    auto *log = p.get<LogView>("log");
    QTRY_COMPARE(log->toPlainText(), expected);
    QVERIFY(!p.state().done());
    // The message points at the dashboard button: it is there.
    QVERIFY(p.button("dashboard")->isVisibleTo(&p.app->window()));
    QVERIFY(p.button("start")->isEnabled());
    QTest::mouseClick(p.button("dashboard"), Qt::LeftButton);
    QCOMPARE(p.platform.openedUrls, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:8900/"))});
    // The next run starts without it.
    QTest::mouseClick(p.button("start"), Qt::LeftButton);
    QVERIFY(!p.button("dashboard")->isVisibleTo(&p.app->window()));
    QTRY_VERIFY_WITH_TIMEOUT(!p.state().running(), 20000);
    QCOMPARE(p.button("start")->text(), QStringLiteral("시작"));
}

void TestKovelApp::finishedRunOffersTheDashboard()
{
    Program p("for i in 1 2 3; do echo \"단계 $i 🧠\"; done\nexit 0\n");
    p.show();
    QTest::mouseClick(p.button("start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(p.state().done(), 20000);
    QVERIFY(!p.state().running());
    QVERIFY(p.button("dashboard")->isVisibleTo(&p.app->window()));
    QTRY_VERIFY(p.get<LogView>("log")->toPlainText().startsWith(QStringLiteral("단계 1 🧠\n단계 2 🧠\n단계 3 🧠\n")));
    const qsizetype opened = p.platform.openedUrls.size();   // the run opens the dashboard itself
    QVERIFY(p.platform.openedUrls.contains(QUrl(QStringLiteral("http://127.0.0.1:8900/"))));
    QTest::mouseClick(p.button("dashboard"), Qt::LeftButton);
    QCOMPARE(p.platform.openedUrls.size(), opened + 1);
    QCOMPARE(p.platform.openedUrls.last(), QUrl(QStringLiteral("http://127.0.0.1:8900/")));
}

void TestKovelApp::returnStartsTheRun()
{
    Program p("exit 0\n");
    p.show();
    // Not from the AI code field: that Return belongs to 연결 (disabled here).
    QLineEdit *code = p.get<QLineEdit>("aiPairCode");
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Return);
    QVERIFY(!p.state().running());
    p.button("start")->setFocus();
    QTest::keyClick(p.button("start"), Qt::Key_Return);
    QVERIFY(p.state().running());
    // While it runs, Return does nothing: the run is not started twice.
    QTest::keyClick(&p.app->window(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(p.state().done(), 20000);
    QVERIFY(!p.state().running());
}

// Closing the window mid-run: the window goes at once, the setup script and
// what it started are ended gracefully first, and the installer's own child
// is never destroyed while it runs.
void TestKovelApp::closingDuringARun()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("Destroyed while process")));
    QTemporaryDir dir;
    const QString pids = dir.filePath(QStringLiteral("pids"));
    Program p(QStringLiteral("trap 'echo \"$$\" > \"%1.term\"; exit 0' TERM\nsleep 60 &\necho \"$!\" > '%1'\necho 시작됨\nwait\n")
                  .arg(pids).toUtf8());
    p.show();
    QTest::mouseClick(p.button("start"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(p.state().log(), QStringLiteral("시작됨\n"), 20000);
    QFile f(pids);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const int grandchild = f.readAll().trimmed().toInt();
    QVERIFY(grandchild > 0);

    QSignalSpy closed(&p.app->window(), &ContentView::closed);
    QVERIFY(!p.app->window().close());          // waits for the run to end...
    QVERIFY(!p.app->window().isVisible());      // ...out of sight
    QTRY_VERIFY_WITH_TIMEOUT(!p.state().running(), 20000);
    QVERIFY(QFileInfo::exists(pids + ".term")); // asked, not killed
    QTRY_COMPARE(closed.count(), 1);            // and then closed for good
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1/cmdline").arg(grandchild))
                                 || readProc(grandchild).isEmpty(),
                             10000);
    QTRY_VERIFY(p.state().findChildren<QProcess *>().isEmpty());
    // Nothing more was done for the run: no client installed, no dashboard.
    QVERIFY(p.platform.openedUrls.isEmpty());
    QVERIFY(p.platform.openedApplications.isEmpty());
    QVERIFY(p.app->window().close());           // nothing runs now
}

QTEST_MAIN(TestKovelApp)
#include "tst_kovelapp.moc"
