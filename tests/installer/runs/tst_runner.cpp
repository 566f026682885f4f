// The streamed runner: output into the log as it comes, the end of a run,
// and the decoder under it.

#include "installer/core/installlog.h"
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

} // namespace

class TestRunner : public QObject
{
    Q_OBJECT

private slots:
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
        runStreaming(rig.context, rig.runs, shellChild(script), {});
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
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("%1 < '%2'").arg(writer, f.fileName())), {});
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
        QProcess *p = shellChild(QStringLiteral("printf 'x\\xed\\x95'; while [ ! -e '%1' ]; do sleep 0.01; done; printf '\\x9c\\n'").arg(go));
        runStreaming(rig.context, rig.runs, p, {});
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
        int successSteps = 0;
        runStreaming(rig.context, rig.runs, p, [&successSteps] { ++successSteps; });
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
        QCOMPARE(successSteps, 0);
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }

    void successWithoutFinishing()
    {
        InstallerRig<> rig;
        rig.bundle.addMenubarClient("v1");
        beginRun(rig);
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("echo fine")), {});
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        QTRY_COMPARE(rig.state.log(), QStringLiteral("fine\n"));
        QCoreApplication::processEvents();
        QCOMPARE(rig.state.log(), QStringLiteral("fine\n"));
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(rig.platform.openedApplications.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.platform.installedMenubarPath()));
    }

    // The caller's success step runs once, with `done` already set, and
    // what it logs comes after the child's own output.
    void successStepAfterAllOutput()
    {
        InstallerRig<> rig;
        beginRun(rig);
        int successSteps = 0;
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("echo step one; echo step two >&2")), [&] {
            ++successSteps;
            QVERIFY(rig.state.done());
            QVERIFY(!rig.state.running());
            appendLog(rig.context, QStringLiteral("finished\n"));
        });
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        QTRY_COMPARE(rig.state.log(), QStringLiteral("step one\nstep two\nfinished\n"));
        QCOMPARE(successSteps, 1);
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
        int successSteps = 0;
        runStreaming(rig.context, rig.runs, shellChild(script), [&successSteps] { ++successSteps; });
        QVERIFY(waitForEnd(rig));
        QVERIFY(!rig.state.done());
        QTRY_COMPARE(rig.state.log().size(), (output + failureFramed(status)).size());
        QCOMPARE(rig.state.log(), output + failureFramed(status));
        QCOMPARE(successSteps, 0);
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
        QProcess *p = shellChild(QStringLiteral("echo early; exec >&- 2>&-; : > '%2'; while [ ! -e '%1' ]; do sleep 0.01; done; exit 4")
                                .arg(go, closed));
        runStreaming(rig.context, rig.runs, p, {});
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
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("sleep 60 & echo $! > '%1'; echo parent done").arg(pidFile)), {});
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
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("read -r line < /proc/$$/stat; set -- ${line#*) }; echo \"$$ $3 $4\"")), {});
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
        int successSteps = 0;
        runStreaming(rig.context, rig.runs, shellChild(QStringLiteral("exit %1").arg(status)),
                     [&successSteps] { ++successSteps; });
        QVERIFY(waitForEnd(rig));
        QCOMPARE(rig.state.dashboardOffered(), offered);
        QVERIFY(!rig.state.done());
        QCOMPARE(successSteps, 0);
    }

    // The runner hands the child to deleteLater once it is over.
    void processReleased()
    {
        InstallerRig<> rig;
        beginRun(rig);
        QPointer<QProcess> p = shellChild(QStringLiteral("true"));
        runStreaming(rig.context, rig.runs, p, {});
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(p.isNull());
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
