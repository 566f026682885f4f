#include "platform/filewrites.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestFileWrites : public QObject
{
    Q_OBJECT
private slots:
    void modesAreExactWhateverTheUmask_data();
    void modesAreExactWhateverTheUmask();
    void aFullDiskKeepsTheOldFile();
    void aFileInTheWayOfAFolderIsReported();
};

void TestFileWrites::modesAreExactWhateverTheUmask_data()
{
    QTest::addColumn<int>("umask");
    QTest::newRow("000") << 0000;
    QTest::newRow("022") << 0022;
    QTest::newRow("077") << 0077;
}

void TestFileWrites::modesAreExactWhateverTheUmask()
{
    QFETCH(int, umask);
    QTemporaryDir dir;
    const mode_t old = ::umask(mode_t(umask));
    const QString shared = dir.path() + QStringLiteral("/a/b");
    const QString secret = dir.path() + QStringLiteral("/s/t");
    QString errors = makeFolders(shared, sharedFolderMode);
    errors += makeFolders(secret, privateFolderMode);
    errors += writeFileAtomically(shared + QStringLiteral("/entry"), "x", sharedFileMode);
    errors += writeFileAtomically(secret + QStringLiteral("/key"), "k", privateFileMode);
    ::umask(old);
    QCOMPARE(errors, QString());
    QCOMPARE(modeOf(dir.path() + QStringLiteral("/a")), 0755);
    QCOMPARE(modeOf(shared), 0755);
    QCOMPARE(modeOf(dir.path() + QStringLiteral("/s")), 0700);
    QCOMPARE(modeOf(secret), 0700);
    QCOMPARE(modeOf(shared + QStringLiteral("/entry")), 0644);
    QCOMPARE(modeOf(secret + QStringLiteral("/key")), 0600);
}

void TestFileWrites::aFullDiskKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/io.kovel.menubar.desktop");
    QCOMPARE(writeFileAtomically(path, "working entry\n", sharedFileMode), QString());

    QString error;
    {
        FullDisk full(4);
        error = writeFileAtomically(path, QByteArray(64 * 1024, 'n'), sharedFileMode);
    }
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(readAll(path), QByteArray("working entry\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("io.kovel.menubar.desktop")});
}

void TestFileWrites::aFileInTheWayOfAFolderIsReported()
{
    QTemporaryDir dir;
    QCOMPARE(writeFileAtomically(dir.path() + QStringLiteral("/autostart"), "", sharedFileMode), QString());
    QVERIFY(!makeFolders(dir.path() + QStringLiteral("/autostart/x"), sharedFolderMode).isEmpty());
    QVERIFY(!writeFileAtomically(dir.path() + QStringLiteral("/missing/file"), "x", sharedFileMode).isEmpty());
}

QTEST_GUILESS_MAIN(TestFileWrites)
#include "tst_filewrites.moc"
