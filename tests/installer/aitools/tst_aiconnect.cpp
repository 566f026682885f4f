// The AI tools connection: the command text, and what a login shell running
// it really hands to curl and to the connect script.

#include "installer/aitools/aiconnect.h"
#include "installer/runs/runending.h"
#include "tests/support/installerrig.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kStartLine = QStringLiteral("AI 도구 연결 중… (Claude Code·Codex·Gemini 검색)\n");

QStringList readArgs(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<not run>")};
    QByteArray all = f.readAll();
    if (all.endsWith('\0'))
        all.chop(1);
    QStringList args;
    for (const QByteArray &a : all.split('\0'))
        args << QString::fromUtf8(a);
    return args;
}

void writeExecutable(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
}

// A temporary home whose login profile puts a fake curl first on PATH (a
// login shell rebuilds PATH from /etc/profile, so an inherited PATH alone
// would not reach it). The fake records its arguments and serves a connect
// script that records its own.
struct FakeCurl {
    QString dir;
    explicit FakeCurl(InstallerRig<> &rig, int curlStatus = 0, int scriptStatus = 0)
        : dir(rig.platform.home() + QStringLiteral("/fake"))
    {
        const QString bin = dir + QStringLiteral("/bin");
        QDir().mkpath(bin);
        QFile profile(rig.platform.home() + QStringLiteral("/.bash_profile"));
        if (profile.open(QIODevice::WriteOnly))
            profile.write("PATH=\"$KOVEL_FAKE_DIR/bin:$PATH\"\n");
        writeExecutable(bin + QStringLiteral("/curl"),
            "#!/bin/bash\n"
            "printf '%s\\0' \"$@\" > \"$KOVEL_FAKE_DIR/curl-args\"\n"
            "if [ \"$KOVEL_FAKE_CURL_STATUS\" != 0 ]; then\n"
            "  echo \"curl: ($KOVEL_FAKE_CURL_STATUS) failed\" >&2\n"
            "  exit \"$KOVEL_FAKE_CURL_STATUS\"\n"
            "fi\n"
            "printf '%s\\n' 'printf \"%s\\\\0\" \"$@\" > \"$KOVEL_FAKE_DIR/script-args\"' 'echo connected' "
            "\"exit $KOVEL_FAKE_SCRIPT_STATUS\"\n");
        QProcessEnvironment env = rig.platform.environment();
        env.insert(QStringLiteral("KOVEL_FAKE_DIR"), dir);
        env.insert(QStringLiteral("KOVEL_FAKE_CURL_STATUS"), QString::number(curlStatus));
        env.insert(QStringLiteral("KOVEL_FAKE_SCRIPT_STATUS"), QString::number(scriptStatus));
        rig.platform.setEnvironment(env);
    }
    QStringList curlArgs() const { return readArgs(dir + QStringLiteral("/curl-args")); }
    QStringList scriptArgs() const { return readArgs(dir + QStringLiteral("/script-args")); }
    bool pwned() const { return QFileInfo::exists(dir + QStringLiteral("/pwned")); }
};

bool waitForEnd(InstallerRig<> &rig, int ms = 30000)
{
    QSignalSpy spy(&rig.state, &InstallerState::runningChanged);
    if (!rig.state.running())
        return true;
    return spy.wait(ms) && !rig.state.running();
}

} // namespace

class TestAiConnect : public QObject
{
    Q_OBJECT

private slots:
    // Plain values: the usual pipeline, after the pipefail prefix, then the
    // statuses recorded.
    void commandText_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("statusFile");
        QTest::addColumn<QString>("command");
        const QString head = QStringLiteral("set -o pipefail; curl -fsSL https://get.kovel.example/connect-ai.sh | bash -s -- ");
        const QString tail = QStringLiteral("; s=(\"$?\" \"${PIPESTATUS[@]}\"); echo \"${s[1]} ${s[2]}\" > ");
        const QString exit = QStringLiteral("; exit \"${s[0]}\"");
        QTest::newRow("local") << "http://127.0.0.1:8900" << "ABC-123" << "/tmp/x/statuses"
                               << head + "--server 'http://127.0.0.1:8900' --pair-code 'ABC-123' --yes" + tail
                                      + "'/tmp/x/statuses'" + exit;
        QTest::newRow("empty") << "" << "" << "/s" << head + "--server '' --pair-code '' --yes" + tail + "'/s'" + exit;
        QTest::newRow("quote") << "it's" << "a'b'" << "/t'mp/s"
                               << head + "--server 'it'\\''s' --pair-code 'a'\\''b'\\''' --yes" + tail
                                      + "'/t'\\''mp/s'" + exit;
    }
    void commandText()
    {
        QFETCH(QString, address);
        QFETCH(QString, code);
        QFETCH(QString, statusFile);
        QFETCH(QString, command);
        QCOMPARE(connectCommand(address, code, statusFile), command);
    }

    void whatTheScriptReceives_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("serverURL");
        QTest::addColumn<QString>("aiPairCode");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("code");
        const QString local = QStringLiteral("http://127.0.0.1:8900");
        QTest::newRow("all-in-one") << int(Role::allInOne) << "http://elsewhere:1" << "ABC" << local << "ABC";
        QTest::newRow("server") << int(Role::server) << "http://elsewhere:1" << "ABC" << local << "ABC";
        QTest::newRow("sensor, blanks trimmed, slash kept") << int(Role::sensor) << " \thttp://b.test:8900/\u00A0" << "ABC"
                                                            << "http://b.test:8900/" << "ABC";
        QTest::newRow("sensor, no scheme") << int(Role::sensor) << "b.test:8900" << "ABC" << "b.test:8900" << "ABC";
        QTest::newRow("sensor, empty") << int(Role::sensor) << "" << "ABC" << "" << "ABC";
        QTest::newRow("code with blanks") << int(Role::server) << "" << "  XYZ\t\u3000" << local << "XYZ";
        QTest::newRow("code of blanks") << int(Role::server) << "" << "   " << local << "";
        QTest::newRow("quote breaking out") << int(Role::sensor) << "x'; touch \"$KOVEL_FAKE_DIR/pwned\"; echo '"
                                            << "y'\"'\"'z" << "x'; touch \"$KOVEL_FAKE_DIR/pwned\"; echo '" << "y'\"'\"'z";
        QTest::newRow("command substitution") << int(Role::server) << "" << "$(touch \"$KOVEL_FAKE_DIR/pwned\")"
                                              << local << "$(touch \"$KOVEL_FAKE_DIR/pwned\")";
        QTest::newRow("backticks") << int(Role::sensor) << "`touch \"$KOVEL_FAKE_DIR/pwned\"`" << "a`b`"
                                   << "`touch \"$KOVEL_FAKE_DIR/pwned\"`" << "a`b`";
        QTest::newRow("newline, semicolon, glob") << int(Role::sensor) << "a\nb; *" << "c\nd\n" << "a\nb; *" << "c\nd\n";
        QTest::newRow("hangul, backslash") << int(Role::sensor) << "http://브레인.test\\" << "코드\\n" << "http://브레인.test\\" << "코드\\n";
    }
    void whatTheScriptReceives()
    {
        QFETCH(int, role);
        QFETCH(QString, serverURL);
        QFETCH(QString, aiPairCode);
        QFETCH(QString, address);
        QFETCH(QString, code);
        InstallerRig<> rig;
        FakeCurl fake(rig);
        rig.state.setRole(Role(Role::Case(role)));
        rig.state.setServerURL(serverURL);
        rig.state.setAiPairCode(aiPairCode);

        connectAIs(rig.context, rig.runs);
        QVERIFY(waitForEnd(rig));
        QTRY_COMPARE(rig.state.log(), kStartLine + QStringLiteral("connected\n"));
        QVERIFY(rig.state.done());
        QCOMPARE(fake.curlArgs(), (QStringList{"-fsSL", "https://get.kovel.example/connect-ai.sh"}));
        QCOMPARE(fake.scriptArgs(), (QStringList{"--server", address, "--pair-code", code, "--yes"}));
        QVERIFY(!fake.pwned());
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(rig.platform.openedApplications.isEmpty());
    }

    // A connection run ends with its own sentences: a download that failed
    // is told from a script that failed, each with its status; neither speaks
    // of the setup.
    void endsWithItsOwnMessages_data()
    {
        QTest::addColumn<int>("curl");
        QTest::addColumn<int>("script");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("message"); // empty: success
        const auto download = [](int n) {
            return QStringLiteral("⚠️ AI 도구 연결 스크립트를 받지 못했어요 (curl 코드 ") + QString::number(n)
                + QStringLiteral("). 인터넷 연결을 확인하고 [연결]을 다시 눌러주세요.");
        };
        const auto script = [](int n) {
            return QStringLiteral("⚠️ AI 도구 연결이 완료되지 못했어요 (코드 ") + QString::number(n)
                + QStringLiteral("). [연결]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
        };
        for (int s : {0, 1, 6}) {
            QTest::addRow("curl 0, script %d", s) << 0 << s << "connected\n" << (s ? script(s) : QString());
            for (int c : {6, 7, 22})
                QTest::addRow("curl %d, script %d", c, s)
                    << c << s << QStringLiteral("curl: (%1) failed\n").arg(c) << download(c);
        }
    }
    void endsWithItsOwnMessages()
    {
        QFETCH(int, curl);
        QFETCH(int, script);
        QFETCH(QString, output);
        QFETCH(QString, message);
        InstallerRig<> rig;
        FakeCurl fake(rig, curl, script);
        rig.bundle.addMenubarClient("v1");
        rig.state.setAiPairCode(QStringLiteral("ABC"));
        connectAIs(rig.context, rig.runs);
        QVERIFY(waitForEnd(rig));
        QCOMPARE(rig.state.done(), message.isEmpty());
        QVERIFY(!rig.state.dashboardOffered());
        const QString ending = message.isEmpty() ? QString() : u'\n' + message + u'\n';
        QTRY_COMPARE(rig.state.log(), kStartLine + output + ending);
        // A failed download runs no script at all.
        QCOMPARE(fake.scriptArgs() == QStringList{"<not run>"}, curl != 0);
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(rig.platform.openedApplications.isEmpty());
    }

    // What the statuses say beyond what the fake shows: a script that stopped
    // reading makes curl fail too, and a shell killed before it recorded
    // anything leaves only its own status.
    void endingFromStatuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("recorded");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code"); // "curl 코드 N" or "코드 N"
        QTest::newRow("script stopped reading, failed") << 1 << QByteArray("23 1\n") << false << "코드 1";
        QTest::newRow("script stopped reading, fine") << 23 << QByteArray("23 0\n") << true << "";
        QTest::newRow("SIGPIPE for curl") << 141 << QByteArray("141 4\n") << false << "코드 4";
        QTest::newRow("both failed: the download") << 2 << QByteArray("56 2\n") << false << "curl 코드 56";
        QTest::newRow("killed, nothing recorded") << 143 << QByteArray() << false << "코드 143";
        QTest::newRow("garbage recorded") << 5 << QByteArray("x") << false << "코드 5";
    }
    void endingFromStatuses()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, recorded);
        QFETCH(bool, success);
        QFETCH(QString, code);
        const RunEnding e = connectEnding(status, recorded);
        QCOMPARE(e.success, success);
        QVERIFY(!e.offersDashboard);
        if (success)
            return;
        const QString expected = code.startsWith("curl")
            ? QStringLiteral("⚠️ AI 도구 연결 스크립트를 받지 못했어요 (") + code + QStringLiteral("). 인터넷 연결을 확인하고 [연결]을 다시 눌러주세요.")
            : QStringLiteral("⚠️ AI 도구 연결이 완료되지 못했어요 (") + code + QStringLiteral("). [연결]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
        QCOMPARE(e.message, expected);
    }

    void resetsBeforeTheFirstLine()
    {
        InstallerRig<> rig;
        FakeCurl fake(rig);
        rig.state.setLog(QStringLiteral("earlier install\n"));
        rig.state.setDone(true);
        rig.state.setAiPairCode(QStringLiteral("ABC"));
        connectAIs(rig.context, rig.runs);
        QCOMPARE(rig.state.log(), QString());
        QVERIFY(rig.state.running());
        QVERIFY(!rig.state.done());
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(rig.state.log().startsWith(kStartLine));
    }
};

QTEST_GUILESS_MAIN(TestAiConnect)
#include "tst_aiconnect.moc"
