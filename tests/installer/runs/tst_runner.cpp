// The streamed runner: output into the log as it comes, the end of a run,
// the failure table, and the decoder under it.

#include "installer/runs/runner.h"
#include "installer/runs/streamdecoder.h"
#include "tests/support/installerrig.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kClientLine = QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n");
const QString kPanesLine = QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                          "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n");

QProcess *shell(const QString &script)
{
    auto *p = new QProcess;
    p->setProgram(QStringLiteral("/bin/bash"));
    p->setArguments({QStringLiteral("-c"), script});
    return p;
}

template <class Rig>
void beginRun(Rig &rig)
{
    rig.state.setRunning(true);
    rig.state.setDone(false);
}

template <class Rig>
bool waitForEnd(Rig &rig, int ms = 20000)
{
    QSignalSpy spy(&rig.state, &InstallerState::runningChanged);
    if (!rig.state.running())
        return true;
    return spy.wait(ms) && !rig.state.running();
}

// One read through the decoder, in the steps the runner's reader takes.
QString decodeRead(StreamDecoder &decoder, QByteArrayView bytes)
{
    QByteArray buffer;
    decoder.takeHeld(buffer);
    buffer.append(bytes);
    decoder.holdBack(buffer);
    QString text;
    StreamDecoder::decodeWhole(buffer, text);
    return text;
}

QString failureFramed(int status) { return u'\n' + failureMessage(status) + u'\n'; }

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

class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void failureTable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString ollama = QStringLiteral("⚠️ AI 엔진(Ollama) 준비에 실패했어요. 인터넷 연결을 확인하고 [시작]을 다시 눌러주세요.");
        auto generic = [](const char *code) {
            return QStringLiteral("⚠️ 설치가 완료되지 못했어요 (코드 ") + QLatin1String(code)
                + QStringLiteral("). [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
        };
        QTest::newRow("2") << 2 << ollama;
        QTest::newRow("3") << 3 << ollama;
        QTest::newRow("4") << 4 << ollama;
        QTest::newRow("5") << 5 << QStringLiteral("⚠️ 이 맥은 인텔 칩이라 올인원(브레인) 실행이 안 돼요. 다른 맥/서버를 브레인으로 쓰고 이 맥은 '센서'로 연결하세요.");
        QTest::newRow("6") << 6 << QStringLiteral("⚠️ 브레인 서버를 시작하지 못했어요. [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
        QTest::newRow("7") << 7 << QStringLiteral("⚠️ 8900 포트가 이미 사용 중이에요. 이미 실행 중이면 [대시보드 열기]를, 아니면 그 프로그램을 끄고 다시 시작하세요.");
        QTest::newRow("8") << 8 << QStringLiteral("⚠️ 디스크 공간이 부족해요(약 6GB 필요). 공간을 확보하고 [시작]을 다시 눌러주세요.");
        QTest::newRow("9") << 9 << QStringLiteral("⚠️ AI 모델 다운로드가 중간에 끊겼어요. 인터넷을 확인하고 [시작]을 다시 누르면 이어받아요.");
        QTest::newRow("10") << 10 << QStringLiteral("⚠️ AI 구독 로그인이 필요해요. 터미널에서 claude(또는 codex)를 실행해 로그인한 뒤 [시작]을 다시 눌러주세요.");
        QTest::newRow("1") << 1 << generic("1");
        QTest::newRow("11") << 11 << generic("11");
        QTest::newRow("255") << 255 << generic("255");
        QTest::newRow("-1") << -1 << generic("-1");
        QTest::newRow("min") << std::numeric_limits<int>::min() << generic("-2147483648");
    }
    void failureTable()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        QCOMPARE(failureMessage(status), message);
        QVERIFY(message.startsWith(QStringLiteral("\u26A0\uFE0F ")));
    }

    // Every way of cutting the bytes into two reads gives the same text.
    void decoderSplitAnywhere_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString mixed = QStringLiteral("한글 é ·😀 ok\n");
        QTest::newRow("mixed") << mixed.toUtf8() << mixed;
        QTest::newRow("invalid byte") << QByteArray("a\xff" "b") << QStringLiteral("a\uFFFDb");
        QTest::newRow("cut off at the end") << QByteArray("a\xed\x95") << QStringLiteral("a\uFFFD");
        QTest::newRow("bom kept") << QByteArray("\xef\xbb\xbfx") << QStringLiteral("\uFEFFx");
    }
    void decoderSplitAnywhere()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            StreamDecoder d;
            QString got = decodeRead(d, bytes.left(cut));
            got += decodeRead(d, bytes.mid(cut));
            got += d.finish();
            QCOMPARE(got, text);
        }
        StreamDecoder bytewise;
        QString got;
        for (char c : bytes)
            got += decodeRead(bytewise, QByteArrayView(&c, 1));
        QCOMPARE(got + bytewise.finish(), text);
    }

    void interruptedSequenceKeepsWhatFollows()
    {
        StreamDecoder d;
        QString got = decodeRead(d, "\xed\x95");
        got += decodeRead(d, "AB\n");
        got += d.finish();
        QCOMPARE(got, QString::fromUtf8("\xed\x95" "AB\n"));
        QVERIFY(got.endsWith(QStringLiteral("AB\n")));
    }

    void outputJoinedAndInterleaved_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::newRow("two writes") << "printf 'ab'; printf 'cd\\n'" << "abcd\n";
        QTest::newRow("stderr between stdout") << "printf 'out1\\n'; printf 'err1\\n' >&2; printf 'out2\\n'"
                                               << "out1\nerr1\nout2\n";
        QTest::newRow("no trailing newline") << "printf 'last'" << "last";
        QTest::newRow("invalid byte") << "printf 'a\\xffb\\n'" << QStringLiteral("a\uFFFDb\n");
        QTest::newRow("cut off by exit") << "printf '\\xea\\xb8'" << QStringLiteral("\uFFFD");
    }
    void outputJoinedAndInterleaved()
    {
        QFETCH(QString, script);
        QFETCH(QString, log);
        InstallerRig<> rig;
        beginRun(rig);
        runStreaming(rig.context, shell(script), false);
        QVERIFY(waitForEnd(rig));
        QTRY_COMPARE(rig.state.log(), log);
        QVERIFY(rig.state.done());
    }

    // The child's bytes cut wherever its writes and the reads fall: one byte
    // at a time, or megabytes in pieces that end inside characters. The log
    // is the output decoded as a whole.
    void outputCutAnywhere_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("writer");
        const QByteArray mixed = QStringLiteral("설치 중 🧑‍💻 e\u0301 OK\n").toUtf8();
        QTest::newRow("one byte at a time") << mixed.repeated(40) << "dd bs=1 status=none";
        QTest::newRow("invalid bytes one at a time")
            << QByteArray("a\xff" "b\xed\x95\x9c" "\xe0\x80" "c\xf0\x9f\x98" "d\xc3\n").repeated(20)
            << "dd bs=1 status=none";
        QByteArray big;
        for (int i = 0; big.size() < 3 * 1024 * 1024; ++i)
            big += QByteArray::number(i) + ' ' + mixed;
        QTest::newRow("3 MB in large writes") << big << "cat";
        QTest::newRow("3 MB in odd writes") << big << "dd bs=4099 status=none";
    }
    void outputCutAnywhere()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, writer);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("out")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        InstallerRig<> rig;
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("%1 < '%2'").arg(writer, f.fileName())), false);
        QVERIFY(waitForEnd(rig));
        QCOMPARE(rig.state.log(), QString::fromUtf8(bytes));
    }

    // A Hangul character whose bytes arrive in two reads, with the child
    // waiting between them until the first read has been taken.
    void characterSplitAcrossReads()
    {
        QTemporaryDir dir;
        const QString go = dir.filePath(QStringLiteral("go"));
        InstallerRig<> rig;
        beginRun(rig);
        QProcess *p = shell(QStringLiteral("printf 'x\\xed\\x95'; while [ ! -e '%1' ]; do sleep 0.01; done; printf '\\x9c\\n'").arg(go));
        runStreaming(rig.context, p, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.log(), QStringLiteral("x"), 10000);
        QFile(go).open(QIODevice::WriteOnly);
        QVERIFY(waitForEnd(rig));
        QTRY_COMPARE(rig.state.log(), QStringLiteral("x한\n"));
    }

    void failedLaunch()
    {
        InstallerRig<> rig;
        rig.state.setRunning(true);
        rig.state.setDone(true); // left alone by a launch failure
        auto *p = new QProcess;
        p->setProgram(QStringLiteral("/nonexistent/kovel-test-program"));
        QSignalSpy finishedSpy(p, &QProcess::finished);
        runStreaming(rig.context, p, true);
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(!rig.state.log().isEmpty());
        QCoreApplication::processEvents();
        const QString log = rig.state.log();
        QVERIFY2(log.startsWith(QStringLiteral("실행 오류: ")), qPrintable(log));
        QVERIFY(log.endsWith(u'\n'));
        QCOMPARE(log.count(u'\n'), 1);
        QVERIFY(log.size() > QStringLiteral("실행 오류: \n").size());
        QVERIFY(!log.contains(QStringLiteral("⚠️")));
        QVERIFY(rig.state.done());
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }

    void successWithoutFinishing()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("echo fine")), false);
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        QTRY_COMPARE(rig.state.log(), QStringLiteral("fine\n"));
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QStringLiteral("fine\n"));
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.platform.installedMenubarPath()));
    }

    // install client → panes → dashboard, each after the script's own output.
    void successWithFinishing()
    {
        InstallerRig<FakeMacPlatform> rig;
        rig.bundle.addMenubarClient("v1");
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("echo step one; echo step two >&2")), true);
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        const QString expected = QStringLiteral("step one\nstep two\n") + kClientLine + kPanesLine;
        QTRY_COMPARE(rig.state.log(), expected);
        QCOMPARE(rig.platform.openedApplications, QStringList{rig.platform.installedMenubarPath()});
        const QList<QUrl> urls = {
            QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture")),
            QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility")),
            QUrl(QStringLiteral("http://127.0.0.1:8900/")),
        };
        QCOMPARE(rig.platform.openedUrls, urls);
        QVERIFY(QFileInfo::exists(rig.platform.installedMenubarPath() + QStringLiteral("/Contents/MacOS/KovelBar")));
    }

    void failureAfterAllOutput_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("status");
        QTest::newRow("status 1") << "echo trying; exit 1" << "trying\n" << 1;
        QTest::newRow("status 7") << "echo port; exit 7" << "port\n" << 7;
        // Far more than one pipe buffer written right before the exit.
        QTest::newRow("big output then 3") << "head -c 300000 /dev/zero | tr '\\0' x; exit 3"
                                           << QString(300000, u'x') << 3;
        // Killed by a signal: counted as shells do, 128 + the signal.
        QTest::newRow("SIGTERM") << "echo bye; kill -TERM $$" << "bye\n" << 128 + SIGTERM;
        QTest::newRow("SIGKILL") << "echo bye; kill -KILL $$" << "bye\n" << 128 + SIGKILL;
    }
    void failureAfterAllOutput()
    {
        QFETCH(QString, script);
        QFETCH(QString, output);
        QFETCH(int, status);
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        beginRun(rig);
        runStreaming(rig.context, shell(script), true);
        QVERIFY(waitForEnd(rig));
        QVERIFY(!rig.state.done());
        QTRY_COMPARE(rig.state.log().size(), (output + failureFramed(status)).size());
        QCOMPARE(rig.state.log(), output + failureFramed(status));
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(rig.platform.openedApplications.isEmpty());
    }

    // A child that closes its output early still ends the run only when it exits.
    void outputClosedBeforeExit()
    {
        QTemporaryDir dir;
        const QString go = dir.filePath(QStringLiteral("go"));
        const QString closed = dir.filePath(QStringLiteral("closed"));
        InstallerRig<> rig;
        beginRun(rig);
        QProcess *p = shell(QStringLiteral("echo early; exec >&- 2>&-; : > '%2'; while [ ! -e '%1' ]; do sleep 0.01; done; exit 4")
                                .arg(go, closed));
        runStreaming(rig.context, p, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.log(), QStringLiteral("early\n"), 10000);
        QTRY_VERIFY(QFileInfo::exists(closed));
        QCoreApplication::processEvents();
        QVERIFY(rig.state.running());
        QFile(go).open(QIODevice::WriteOnly);
        QVERIFY(waitForEnd(rig));
        QTRY_COMPARE(rig.state.log(), QStringLiteral("early\n") + failureFramed(4));
    }

    // A background grandchild keeping the pipe open must not keep the run going.
    void grandchildHoldingThePipe()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        InstallerRig<> rig;
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("sleep 60 & echo $! > '%1'; echo parent done").arg(pidFile)), false);
        const bool ended = waitForEnd(rig, 15000);
        QFile f(pidFile);
        if (f.open(QIODevice::ReadOnly))
            ::kill(f.readAll().trimmed().toInt(), SIGKILL);
        QVERIFY(ended);
        QVERIFY(rig.state.done());
        QTRY_COMPARE(rig.state.log(), QStringLiteral("parent done\n"));
    }

    // The child leads a session and process group of its own.
    void childHasItsOwnGroup()
    {
        InstallerRig<> rig;
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("read -r line < /proc/$$/stat; set -- ${line#*) }; echo \"$$ $3 $4\"")), false);
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(rig.state.log().endsWith(u'\n'));
        const QStringList ids = rig.state.log().trimmed().split(u' ');
        QCOMPARE(ids.size(), 3);
        QCOMPARE(ids[1], ids[0]);   // process group
        QCOMPARE(ids[2], ids[0]);   // session
    }

    // Status 7 (the port is taken, perhaps by a running brain) offers the
    // dashboard; other failures do not.
    void dashboardOfferedAfterSeven_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("offered");
        QTest::newRow("7") << 7 << true;
        QTest::newRow("6") << 6 << false;
        QTest::newRow("1") << 1 << false;
    }
    void dashboardOfferedAfterSeven()
    {
        QFETCH(int, status);
        QFETCH(bool, offered);
        QCOMPARE(setupEnding(status).offersDashboard, offered);
        QVERIFY(setupEnding(0).success);
        InstallerRig<> rig;
        beginRun(rig);
        runStreaming(rig.context, shell(QStringLiteral("exit %1").arg(status)), true);
        QVERIFY(waitForEnd(rig));
        QCOMPARE(rig.state.dashboardOffered(), offered);
        QVERIFY(!rig.state.done());
    }

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
        QVERIFY(!endRuns(rig.context, [] {}));
        beginRun(rig);
        QProcess *p = shell(script);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PIDS"), pids);
        p->setProcessEnvironment(env);
        runStreaming(rig.context, p, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.log(), QStringLiteral("ready\n"), 10000);
        const int child = int(p->processId());
        QFile f(pids);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const int grandchild = f.readAll().trimmed().toInt();
        QVERIFY(grandchild > 0);

        bool ended = false;
        QVERIFY(endRuns(rig.context, [&ended] { ended = true; }, 300));
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QVERIFY(gone(child));
        QVERIFY(gone(grandchild));
        QVERIFY(!rig.state.running());
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QStringLiteral("ready\n"));
        QVERIFY(!rig.state.done());
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }

    // The runner hands the child to deleteLater once it is over.
    void processReleased()
    {
        InstallerRig<> rig;
        beginRun(rig);
        QPointer<QProcess> p = shell(QStringLiteral("true"));
        runStreaming(rig.context, p, false);
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(p.isNull());
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
