// The installed client is swapped, never missing: an installer killed at any
// step of the swap leaves one whole client (the old or the new one), and the
// next run clears what the killed one left behind.
//
// The test program is also its own victim: with "--swap SOURCE DEST STEP" it
// replaces DEST by SOURCE and kills itself right after STEP.

#include "installer/finishing/bundlecopy.h"
#include "tests/support/filechecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace Kovel::Installer;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

// A client bundle of a few files; the versions differ in content and shape.
void makeClient(const QString &root, const QByteArray &version)
{
    writeFile(root + "/Contents/Info.plist", "<plist>" + version + "</plist>");
    writeFile(root + "/Contents/MacOS/KovelBar", "program " + version);
    for (int i = 0; i < 20; ++i)
        writeFile(root + QStringLiteral("/Contents/Resources/r%1-%2").arg(i).arg(QString::fromLatin1(version)),
                  QByteArray(4096, 'a' + char(i)));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

int swapAndDie(const char *source, const char *dest, const char *at)
{
    const QString why = replaceBundle(QString::fromLocal8Bit(source), QString::fromLocal8Bit(dest),
                                      [at](const char *step) {
                                          if (std::strcmp(step, at) == 0)
                                              ::kill(::getpid(), SIGKILL);
                                      });
    return why.isEmpty() ? 0 : 1;
}

} // namespace

class TestClientSwap : public QObject
{
    Q_OBJECT

private slots:
    void killedAtEachStep_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("hadOne");
        for (const char *step : {"cleaned", "copied", "swapped", "removed"}) {
            QTest::addRow("%s, upgrade", step) << step << true;
            QTest::addRow("%s, first install", step) << step << false;
        }
    }
    void killedAtEachStep()
    {
        QFETCH(QString, step);
        QFETCH(bool, hadOne);
        QTemporaryDir dir;
        const QString source = dir.filePath("bundle/KovelBar.app");
        const QString apps = dir.filePath("Applications");
        const QString dest = apps + "/KovelBar.app";
        makeClient(source, "new");
        if (hadOne)
            makeClient(dest, "old");
        const auto oldTree = tree(dest);
        const auto newTree = tree(source);

        QProcess victim;
        victim.start(QCoreApplication::applicationFilePath(), {"--swap", source, dest, step});
        QVERIFY(victim.waitForFinished(30000));
        // Without a client before, there is no swap: "swapped" and "removed" are never reached.
        const bool reached = hadOne || step == "cleaned" || step == "copied";
        QCOMPARE(victim.exitStatus() == QProcess::CrashExit, reached);

        // Never a moment without a whole client: it is the old or the new one.
        const auto after = tree(dest);
        if (hadOne || QFileInfo::exists(dest))
            QVERIFY2(after == oldTree || after == newTree, qPrintable(entries(dest + "/Contents/Resources").join(' ')));

        // The next run clears the leftovers and installs the new client.
        QCOMPARE(replaceBundle(source, dest), QString());
        QCOMPARE(tree(dest), newTree);
        QCOMPARE(entries(apps), QStringList{"KovelBar.app"});
    }

    // A staging folder of an installer still running is its own: left alone.
    void liveInstallersStagingKept()
    {
        QTemporaryDir dir;
        const QString apps = dir.filePath("Applications");
        makeClient(dir.filePath("src"), "new");
        const QString live = apps + QStringLiteral("/.KovelBar.app.new-%1-abcdef").arg(::getppid());
        const QString dead = apps + QStringLiteral("/.KovelBar.app.new-%1-abcdef").arg(0x7ffffff0);
        writeFile(live + "/x", "live");
        writeFile(dead + "/x", "dead");
        QCOMPARE(replaceBundle(dir.filePath("src"), apps + "/KovelBar.app"), QString());
        QVERIFY(QFileInfo::exists(live + "/x"));
        QVERIFY(!QFileInfo::exists(dead));
    }

    // A shipped bundle that is a link (as in a build tree) is copied as the
    // folder it names, not as a link into the build.
    void sourceThatIsALink()
    {
        QTemporaryDir dir;
        makeClient(dir.filePath("real/KovelBar.app"), "new");
        QVERIFY(QFile::link(dir.filePath("real/KovelBar.app"), dir.filePath("KovelBar.app")));
        const QString dest = dir.filePath("Applications/KovelBar.app");
        QCOMPARE(replaceBundle(dir.filePath("KovelBar.app"), dest), QString());
        QVERIFY(!QFileInfo(dest).isSymLink());
        QCOMPARE(tree(dest), tree(dir.filePath("real/KovelBar.app")));
    }

    // The exchange itself: both names stay, their contents trade places.
    void exchangeSwapsBoth()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a/f"), "A");
        writeFile(dir.filePath("b/f"), "B");
        QVERIFY(exchangePaths(dir.filePath("a"), dir.filePath("b")));
        QCOMPARE(readAll(dir.filePath("a/f")), QByteArray("B"));
        QCOMPARE(readAll(dir.filePath("b/f")), QByteArray("A"));
        QVERIFY(!exchangePaths(dir.filePath("a"), dir.filePath("missing")));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--swap") == 0)
        return swapAndDie(argv[2], argv[3], argv[4]);
    QCoreApplication app(argc, argv);
    TestClientSwap test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clientswap.moc"
