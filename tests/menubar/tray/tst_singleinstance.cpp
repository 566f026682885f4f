#include "menubar/tray/singleinstance.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Kovel::Bar;

// One copy per user. The lock lives in a runtime folder of the test's own.
class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void secondClaimIsRefused();

private:
    QTemporaryDir m_runtime;
};

void TestSingleInstance::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
}

void TestSingleInstance::secondClaimIsRefused()
{
    SingleInstance first;
    QVERIFY(first.claim());
    SingleInstance second;
    QVERIFY(!second.claim());
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
