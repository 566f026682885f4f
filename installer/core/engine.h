#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace Kovel::Installer {

// Which AI engine the brain set up on this machine uses.
class Engine
{
public:
    enum Case { ollama, subscription };

    constexpr Engine(Case c) : m_case(c) {}
    constexpr Case value() const { return m_case; }

    static QList<Engine> allCases();
    static std::optional<Engine> fromRawValue(QStringView raw);

    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString label() const;

    friend constexpr bool operator==(Engine a, Engine b) { return a.m_case == b.m_case; }

private:
    Case m_case;
};

size_t qHash(Engine engine, size_t seed = 0);

} // namespace Kovel::Installer
