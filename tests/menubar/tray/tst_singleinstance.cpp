#include "menubar/tray/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Kovel::Bar;

// One copy per user: the lock, and the line a later start sends on the
// socket beside it. The lock and the socket live in a runtime folder of the
// test's own.
class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void secondClaimIsRefused();
    void answersOneLine_data();
    void answersOneLine();
    void askNotAnswered_data();
    void askNotAnswered();

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

void TestSingleInstance::answersOneLine_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("shows");
    QTest::addColumn<int>("quits");
    QTest::newRow("show") << QByteArray("show\n") << QByteArray("ok\n") << 1 << 0;
    QTest::newRow("quit") << QByteArray("quit\n") << QByteArray("ok\n") << 0 << 1;
    QTest::newRow("a word it does not know") << QByteArray("open\n") << QByteArray("ok\n") << 0 << 0;
    QTest::newRow("a command with more on its line") << QByteArray("show please\n") << QByteArray("ok\n") << 0 << 0;
    QTest::newRow("an empty line") << QByteArray("\n") << QByteArray("ok\n") << 0 << 0;
    QTest::newRow("garbage") << QByteArray("\x00\xff\xfe\n", 4) << QByteArray("ok\n") << 0 << 0;
    // Whoever sends more than any command without ending the line is cut off.
    QTest::newRow("a line too long, never ended") << QByteArray(100, 'x') << QByteArray() << 0 << 0;
}

// Every line gets its answer and the connection is closed; only the two
// commands, exactly, ask for anything.
void TestSingleInstance::answersOneLine()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    QFETCH(int, shows);
    QFETCH(int, quits);
    SingleInstance running;
    QVERIFY(running.claim());
    QSignalSpy showRequested(&running, &SingleInstance::showRequested);
    QSignalSpy quitRequested(&running, &SingleInstance::quitRequested);

    QLocalSocket later;
    QSignalSpy connected(&later, &QLocalSocket::connected);
    QSignalSpy hungUp(&later, &QLocalSocket::disconnected);
    later.connectToServer(SingleInstance::socketPath());
    QVERIFY(later.state() == QLocalSocket::ConnectedState || connected.wait(5000));
    later.write(sent);
    QVERIFY(hungUp.wait(5000));
    QCOMPARE(later.readAll(), answer);
    QTRY_COMPARE(quitRequested.size(), quits);
    QCOMPARE(showRequested.size(), shows);
}

void TestSingleInstance::askNotAnswered_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("no copy listens") << false << QByteArray();
    QTest::newRow("a listener that hangs up") << true << QByteArray();
    QTest::newRow("a listener answering something else") << true << QByteArray("no\n");
}

// A start that asks and gets no "ok" hears that it was not answered.
void TestSingleInstance::askNotAnswered()
{
    QFETCH(bool, listening);
    QFETCH(QByteArray, answer);
    QLocalServer listener;
    if (listening) {
        QLocalServer::removeServer(SingleInstance::socketPath());
        QVERIFY(listener.listen(SingleInstance::socketPath()));
        connect(&listener, &QLocalServer::newConnection, &listener, [&listener, answer] {
            QLocalSocket *socket = listener.nextPendingConnection();
            connect(socket, &QLocalSocket::readyRead, socket, [socket, answer] {
                if (answer.isEmpty())
                    socket->abort();
                else
                    socket->write(answer);
            });
        });
    }
    SingleInstance later;
    int answers = 0;
    bool delivered = true;
    later.ask(SingleInstance::Request::Show, [&](bool heard) {
        ++answers;
        delivered = heard;
    });
    QTRY_COMPARE(answers, 1);
    QVERIFY(!delivered);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
