// Roles and engines as the installer and the setup script name them, and a
// fresh installer state.

#include "installer/core/engine.h"
#include "installer/core/installerstate.h"
#include "installer/core/role.h"

#include <QtTest>

using namespace Kovel::Installer;

class TestRoleEngine : public QObject
{
    Q_OBJECT

private slots:
    void roles_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("label");
        QTest::newRow("allInOne") << 0 << "all-in-one" << "올인원  —  이 맥이 브레인 + 센서 (혼자 다 함)";
        QTest::newRow("server") << 1 << "server" << "브레인만  —  서버 (다른 기기가 여기로 보냄)";
        QTest::newRow("sensor") << 2 << "sensor" << "센서만  —  다른 브레인으로 전송";
    }
    void roles()
    {
        QFETCH(int, index);
        QFETCH(QString, raw);
        QFETCH(QString, label);
        const QList<Role> all = Role::allCases();
        QCOMPARE(all.size(), 3);
        const Role r = all.at(index);
        QCOMPARE(r.rawValue(), raw);
        QCOMPARE(r.id(), raw);
        QCOMPARE(r.label(), label);
        QVERIFY(label.contains(QStringLiteral("  \u2014  ")));
        QCOMPARE(Role::fromRawValue(raw), std::optional<Role>(r));
    }

    void engines_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("label");
        QTest::newRow("ollama") << 0 << "ollama" << "로컬 AI  —  완전 오프라인 (다운로드 4~5GB · M1 이상 권장)";
        QTest::newRow("subscription") << 1 << "subscription" << "내 AI 구독  —  Claude·ChatGPT 자동 감지 (다운로드 1GB대 · GPU 불필요)";
    }
    void engines()
    {
        QFETCH(int, index);
        QFETCH(QString, raw);
        QFETCH(QString, label);
        const QList<Engine> all = Engine::allCases();
        QCOMPARE(all.size(), 2);
        const Engine e = all.at(index);
        QCOMPARE(e.rawValue(), raw);
        QCOMPARE(e.id(), raw);
        QCOMPARE(e.label(), label);
        QVERIFY(!label.contains(QStringLiteral("\u2022")));
        QVERIFY(label.contains(QStringLiteral("\u00B7")));
        QCOMPARE(Engine::fromRawValue(raw), std::optional<Engine>(e));
    }

    void noValueForOtherTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("capital") << "Sensor";
        QTest::newRow("blanks for hyphens") << "all in one";
        QTest::newRow("padded") << " server";
        QTest::newRow("empty") << "";
        QTest::newRow("case name") << "allInOne";
        QTest::newRow("engine capital") << "Ollama";
        QTest::newRow("engine trailing blank") << "subscription ";
    }
    void noValueForOtherTexts()
    {
        QFETCH(QString, text);
        QVERIFY(!Role::fromRawValue(text).has_value());
        QVERIFY(!Engine::fromRawValue(text).has_value());
    }

    void freshState()
    {
        InstallerState s;
        QVERIFY(s.role() == Role::allInOne);
        QVERIFY(s.engine() == Engine::ollama);
        QCOMPARE(s.serverURL(), QString());
        QCOMPARE(s.pairCode(), QString());
        QCOMPARE(s.aiPairCode(), QString());
        QCOMPARE(s.log(), QString());
        QVERIFY(!s.running());
        QVERIFY(!s.done());
    }
};

QTEST_GUILESS_MAIN(TestRoleEngine)
#include "tst_roleengine.moc"
