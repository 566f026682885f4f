#include "installer/sensor/pairing.h"

#include <QTest>

using namespace Kovel::Installer;

// How a typed brain address is tidied, and which tidied addresses are refused.
class TestBrainAddress : public QObject
{
    Q_OBJECT
private slots:
    void normalised_data();
    void normalised();
    void usable_data();
    void usable();
};

void TestBrainAddress::normalised_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");

    QTest::newRow("host and port, slash, blanks") << " 192.168.0.10:8900/ " << "http://192.168.0.10:8900";
    QTest::newRow("tab and ideographic space") << QStringLiteral("\t192.168.0.10:8900\u3000") << "http://192.168.0.10:8900";
    QTest::newRow("no-break and em spaces") << QStringLiteral("\u00a0brain.local\u2003") << "http://brain.local";
    QTest::newRow("https kept") << "https://brain.example" << "https://brain.example";
    QTest::newRow("http kept") << "http://brain.example:8900" << "http://brain.example:8900";
    QTest::newRow("capital scheme gets a prefix too") << "HTTP://brain" << "http://HTTP://brain";
    QTest::newRow("two slashes lose one") << "http://brain//" << "http://brain/";
    QTest::newRow("path kept") << "brain.local/kovel/" << "http://brain.local/kovel";
    QTest::newRow("no port added") << "localhost" << "http://localhost";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks only") << "  \t " << "";
    QTest::newRow("slash only") << " / " << "";
    QTest::newRow("newline is not a blank") << "\nbrain" << "http://\nbrain";
    QTest::newRow("zero-width space is not a blank") << QStringLiteral("\u200bbrain") << QStringLiteral("http://\u200bbrain");
    QTest::newRow("trimmed before the slash goes") << "brain/ /" << "http://brain/ ";
}

void TestBrainAddress::normalised()
{
    QFETCH(QString, typed);
    QFETCH(QString, address);
    QCOMPARE(normalisedBrainAddress(typed), address);
}

void TestBrainAddress::usable_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("usable");

    QTest::newRow("host and port") << "http://192.168.0.10:8900" << true;
    QTest::newRow("https with path") << "https://brain.example/kovel" << true;
    QTest::newRow("ipv6") << "http://[::1]:8900" << true;
    QTest::newRow("hangul host") << QStringLiteral("http://브레인.example") << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no host") << "http://" << false;
    QTest::newRow("port only") << "http://:8900" << false;
    QTest::newRow("port out of range") << "http://brain:99999" << false;
    QTest::newRow("space in host") << "http://br ain" << false;
    QTest::newRow("newline") << "http://\nbrain" << false;
    QTest::newRow("bad percent escape") << "http://brain/%zz" << false;
}

void TestBrainAddress::usable()
{
    QFETCH(QString, address);
    QFETCH(bool, usable);
    QCOMPARE(isUsableBrainAddress(address), usable);
}

QTEST_APPLESS_MAIN(TestBrainAddress)
#include "tst_brainaddress.moc"
