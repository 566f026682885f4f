#include "platform/filewrites.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"

#include <QDir>
#include <QFileInfo>
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
    void aFinalLinkIsReplacedNotFollowed_data();
    void aFinalLinkIsReplacedNotFollowed();
    void othersFoldersAreNotWrittenIn_data();
    void othersFoldersAreNotWrittenIn();
};

namespace {

enum class Writer { one, together, copy, folder };

// Writes `name` in `folder` the way `writer` does; "" or what failed.
QString writeThere(Writer writer, const QString &folder, const QString &name, const QByteArray &content)
{
    const QString path = folder + u'/' + name;
    switch (writer) {
    case Writer::one:
        return writeFileAtomically(path, content, privateFileMode);
    case Writer::together:
        return writeFilesAtomically({{path, content, privateFileMode}});
    case Writer::copy: {
        QTemporaryDir source;
        const QString from = source.filePath(QStringLiteral("kovel"));
        QFile f(from);
        if (!f.open(QIODevice::WriteOnly))
            return QStringLiteral("test setup");
        f.write(content);
        f.close();
        return copyFileAtomically(from, path, programFileMode);
    }
    case Writer::folder:
        return makeFolders(folder + QStringLiteral("/made/inner"), sharedFolderMode);
    }
    return {};
}

void addWriterRows()
{
    QTest::addColumn<int>("writer");
    QTest::newRow("one file") << int(Writer::one);
    QTest::newRow("files together") << int(Writer::together);
    QTest::newRow("copy") << int(Writer::copy);
}

} // namespace

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

// A link at the file's name is replaced by the file; what it named stays as it was.
void TestFileWrites::aFinalLinkIsReplacedNotFollowed_data()
{
    addWriterRows();
}

void TestFileWrites::aFinalLinkIsReplacedNotFollowed()
{
    QFETCH(int, writer);
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("bashrc"));
    QCOMPARE(writeFileAtomically(victim, "alias ls='ls -F'\n", sharedFileMode), QString());
    const QString folder = dir.filePath(QStringLiteral("kovel"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::link(victim, folder + QStringLiteral("/agent.key")));

    QCOMPARE(writeThere(Writer(writer), folder, QStringLiteral("agent.key"), "key-1"), QString());
    QCOMPARE(readAll(victim), QByteArray("alias ls='ls -F'\n"));
    QCOMPARE(modeOf(victim), 0644);
    QVERIFY(!QFileInfo(folder + QStringLiteral("/agent.key")).isSymLink());
    QCOMPARE(readAll(folder + QStringLiteral("/agent.key")), QByteArray("key-1"));
}

// A folder of another user, where that user may have planted a link at the
// very name: refused, whether named directly or reached through a link of
// the user's own; nothing is written there and the link's target is kept.
void TestFileWrites::othersFoldersAreNotWrittenIn_data()
{
    QTest::addColumn<int>("writer");
    QTest::addColumn<bool>("throughALink");
    for (const bool link : {false, true}) {
        const char *how = link ? "through a link" : "directly";
        QTest::addRow("one file, %s", how) << int(Writer::one) << link;
        QTest::addRow("files together, %s", how) << int(Writer::together) << link;
        QTest::addRow("copy, %s", how) << int(Writer::copy) << link;
        QTest::addRow("a folder made in it, %s", how) << int(Writer::folder) << link;
    }
}

void TestFileWrites::othersFoldersAreNotWrittenIn()
{
    QFETCH(int, writer);
    QFETCH(bool, throughALink);
    if (!mayGiveFilesAway())
        QSKIP("giving a folder to another user (chown) needs root");
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("bashrc"));
    QCOMPARE(writeFileAtomically(victim, "PATH=$HOME/bin:$PATH\n", sharedFileMode), QString());
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(makeOthersSharedFolder(shared));
    QVERIFY(plantOthersLink(victim, shared + QStringLiteral("/agent.key")));
    QString folder = shared;
    if (throughALink) {
        folder = dir.filePath(QStringLiteral("kovel"));
        QVERIFY(QFile::link(shared, folder));
    }

    const QString error = writeThere(Writer(writer), folder, QStringLiteral("agent.key"), "key-1");
    QVERIFY2(error.startsWith(folder + QStringLiteral(": ")), qPrintable(error));
    QVERIFY2(error.contains(QString::number(otherUser)), qPrintable(error));
    QCOMPARE(readAll(victim), QByteArray("PATH=$HOME/bin:$PATH\n"));
    QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("agent.key")});
    QVERIFY(QFileInfo(shared + QStringLiteral("/agent.key")).isSymLink());
}

QTEST_GUILESS_MAIN(TestFileWrites)
#include "tst_filewrites.moc"
