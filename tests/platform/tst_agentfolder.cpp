// Where each side keeps the sensor agent's own copy.

#include "platform/linux/linuxplatform.h"
#include "platform/mac/macplatform.h"

#include <QTest>

using namespace Kovel::System;

class TestAgentFolder : public QObject
{
    Q_OBJECT
private slots:
    void linuxFollowsXdgDataHome_data();
    void linuxFollowsXdgDataHome();
    void macUsesApplicationSupport();
};

void TestAgentFolder::linuxFollowsXdgDataHome_data()
{
    QTest::addColumn<QString>("xdgDataHome");
    QTest::addColumn<QString>("folder");
    QTest::newRow("unset") << QString() << "/home/mina/.local/share/kovel";
    QTest::newRow("set") << "/srv/data/mina" << "/srv/data/mina/kovel";
    QTest::newRow("trailing slash") << "/srv/data/" << "/srv/data/kovel";
    // The XDG rule: a relative value is ignored.
    QTest::newRow("relative") << "data" << "/home/mina/.local/share/kovel";
}

void TestAgentFolder::linuxFollowsXdgDataHome()
{
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, folder);
    PlatformFacts facts;
    facts.homeFolder = QStringLiteral("/home/mina");
    QProcessEnvironment env;
    if (!xdgDataHome.isNull())
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdgDataHome);
    facts.environment = env;
    QCOMPARE(LinuxPlatform(facts).agentFolder(), folder);
}

void TestAgentFolder::macUsesApplicationSupport()
{
    PlatformFacts facts;
    facts.homeFolder = QStringLiteral("/Users/mina");
    QCOMPARE(MacPlatform(facts).agentFolder(), QStringLiteral("/Users/mina/Library/Application Support/Kovel"));
}

QTEST_GUILESS_MAIN(TestAgentFolder)
#include "tst_agentfolder.moc"
