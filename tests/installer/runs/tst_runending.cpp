// The sentences a failed run shows for its exit status.

#include "installer/runs/runending.h"

#include <QtTest>

#include <limits>

using namespace Kovel::Installer;

class TestRunEnding : public QObject
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
};

QTEST_GUILESS_MAIN(TestRunEnding)
#include "tst_runending.moc"
