#pragma once
// What both concrete sides share: the facts of the running system (home
// folder, user id, host name, environment), each of which a caller may pin,
// so the two sides can be exercised anywhere with a temporary home.

#include "platform/platform.h"

#include <QProcessEnvironment>
#include <QString>
#include <optional>

namespace Kovel::System {

struct PlatformFacts {
    std::optional<QString> homeFolder;
    std::optional<uint> userId;
    std::optional<QString> hostName;
    std::optional<QProcessEnvironment> environment;
    QString launchctl = QStringLiteral("/bin/launchctl");
    QString systemctl = QStringLiteral("systemctl");
};

class SystemPlatform : public Platform
{
public:
    explicit SystemPlatform(PlatformFacts facts = {}) : m_facts(std::move(facts)) {}

    QString homeFolder() const override;
    uint userId() const override;
    QString hostName() const override;
    QProcessEnvironment environment() const override;

    // Opens through the desktop's default handler.
    void openUrl(const QUrl &url) override;

protected:
    const PlatformFacts &facts() const { return m_facts; }

private:
    PlatformFacts m_facts;
};

} // namespace Kovel::System
