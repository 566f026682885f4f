#include "platform/filewrites.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Kovel::System;

class TestFileWrites : public QObject
{
    Q_OBJECT
private slots:
    void modesAreExactWhateverTheUmask_data();
    void modesAreExactWhateverTheUmask();
    void aFullDiskKeepsTheOldFile();
    void aFileInTheWayOfAFolderIsReported();
    void copiesWholeWithItsMode_data();
    void copiesWholeWithItsMode();
    void aFailedCopyKeepsTheOldFile();
    void filesWrittenTogetherOrNotAtAll();
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

void TestFileWrites::copiesWholeWithItsMode_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("size");
    QTest::newRow("umask 000, empty") << 0000 << 0;
    QTest::newRow("umask 022, several pieces") << 0022 << 700 * 1024;
    QTest::newRow("umask 077") << 0077 << 10;
}

void TestFileWrites::copiesWholeWithItsMode()
{
    QFETCH(int, umask);
    QFETCH(int, size);
    QTemporaryDir dir;
    QByteArray content(size, 'a');
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 7);
    const QString source = dir.filePath(QStringLiteral("source"));
    QCOMPARE(writeFileAtomically(source, content, privateFileMode), QString());
    const QString target = dir.filePath(QStringLiteral("kovel"));
    QCOMPARE(writeFileAtomically(target, "old program", sharedFileMode), QString());

    const mode_t old = ::umask(mode_t(umask));
    const QString error = copyFileAtomically(source, target, programFileMode);
    ::umask(old);
    QCOMPARE(error, QString());
    QCOMPARE(readAll(target), content);
    QCOMPARE(modeOf(target), 0755);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"kovel", "source"}));
}

void TestFileWrites::aFailedCopyKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString target = dir.filePath(QStringLiteral("kovel"));
    QCOMPARE(writeFileAtomically(source, QByteArray(64 * 1024, 'n'), sharedFileMode), QString());
    QCOMPARE(writeFileAtomically(target, "working program", programFileMode), QString());

    QString error;
    {
        FullDisk full(1024);
        error = copyFileAtomically(source, target, programFileMode);
    }
    QVERIFY2(error.startsWith(target), qPrintable(error));
    QCOMPARE(readAll(target), QByteArray("working program"));

    const QString missing = dir.filePath(QStringLiteral("missing"));
    error = copyFileAtomically(missing, target, programFileMode);
    QVERIFY2(error.startsWith(missing), qPrintable(error));
    QCOMPARE(readAll(target), QByteArray("working program"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"kovel", "source"}));
}

// Two files that belong together: a failure writing the second leaves the
// first as it was too.
void TestFileWrites::filesWrittenTogetherOrNotAtAll()
{
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("agent.key"));
    const QString unit = dir.filePath(QStringLiteral("agent.service"));
    QCOMPARE(writeFilesAtomically({{key, "old key", privateFileMode}, {unit, "old unit", sharedFileMode}}), QString());
    QCOMPARE(modeOf(key), 0600);
    QCOMPARE(modeOf(unit), 0644);

    QString error;
    {
        FullDisk full(64);
        error = writeFilesAtomically({{key, "new key", privateFileMode}, {unit, QByteArray(4096, 'u'), sharedFileMode}});
    }
    QVERIFY2(error.startsWith(unit), qPrintable(error));
    QCOMPARE(readAll(key), QByteArray("old key"));
    QCOMPARE(readAll(unit), QByteArray("old unit"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"agent.key", "agent.service"}));

    QCOMPARE(writeFilesAtomically({{key, "new key", privateFileMode}, {unit, "new unit", sharedFileMode}}), QString());
    QCOMPARE(readAll(key), QByteArray("new key"));
    QCOMPARE(readAll(unit), QByteArray("new unit"));
}

QTEST_GUILESS_MAIN(TestFileWrites)
#include "tst_filewrites.moc"
