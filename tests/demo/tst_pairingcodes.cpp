// The demo brain's pairing tables and the wait after wrong guesses.
#include "demo/guessthrottle.h"
#include "demo/pairingcodes.h"

#include <QTest>

using namespace Kovel::Demo;

class TestPairingCodes : public QObject
{
    Q_OBJECT

private slots:
    void aFullTableDropsTheOldestCode();
    void theDeviceTableIsBounded();
    void wrongGuessesWaitLongerEachTime();
};

void TestPairingCodes::aFullTableDropsTheOldestCode()
{
    // Far more requests than the table holds: the newest ones stay good.
    PairingCodes codes;
    QStringList issued;
    for (int i = 0; i < 300; ++i)
        issued << codes.issue();
    const QStringList newest = issued.mid(issued.size() - 256);
    for (const QString &code : newest)
        QVERIFY2(codes.redeem(code, QStringLiteral("Mac")), qPrintable(code));
    for (const QString &code : issued.first(44))
        QVERIFY(!codes.redeem(code, QStringLiteral("Mac")));
    QCOMPARE(codes.pairedCount(), 256);
}

void TestPairingCodes::theDeviceTableIsBounded()
{
    PairingCodes codes(60000, 16, 3);
    QStringList issued;
    for (int i = 0; i < 5; ++i)
        issued << codes.issue();
    for (int i = 0; i < 3; ++i)
        QVERIFY(codes.redeem(issued[i], QStringLiteral("Mac %1").arg(i)));
    QVERIFY(codes.devicesFull());
    // A good code pairs nothing more, and is not used up by trying.
    QVERIFY(!codes.redeem(issued[3], QStringLiteral("Mac 3")));
    QCOMPARE(codes.pairedCount(), 3);
}

void TestPairingCodes::wrongGuessesWaitLongerEachTime()
{
    GuessThrottle throttle(10, 40);
    const QHostAddress local(QStringLiteral("127.0.0.1"));
    const QHostAddress otherLocal(QStringLiteral("127.0.0.2"));
    const QHostAddress remote(QStringLiteral("192.0.2.7"));

    QCOMPARE(throttle.waitMs(local), 0);
    QCOMPARE(throttle.wrongGuess(local), 10);
    QVERIFY(throttle.waitMs(local) > 0);
    // Any loopback address is the same client; another machine is not.
    QVERIFY(throttle.waitMs(otherLocal) > 0);
    QCOMPARE(throttle.waitMs(remote), 0);
    QCOMPARE(throttle.wrongGuess(otherLocal), 20);
    QCOMPARE(throttle.wrongGuess(local), 40);
    QCOMPARE(throttle.wrongGuess(local), 40);   // up to the limit
    QTRY_COMPARE_WITH_TIMEOUT(throttle.waitMs(local), 0, 5000);

    throttle.rightGuess(local);
    QCOMPARE(throttle.waitMs(local), 0);
    QCOMPARE(throttle.wrongGuess(local), 10);
    QCOMPARE(throttle.wrongGuess(remote), 10);
}

QTEST_GUILESS_MAIN(TestPairingCodes)
#include "tst_pairingcodes.moc"
