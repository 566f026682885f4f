#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace Kovel::Installer {

// What this machine is to be. Declaration order is the radio buttons' order.
class Role
{
public:
    enum Case { allInOne, server, sensor };

    constexpr Role(Case c) : m_case(c) {}
    constexpr Case value() const { return m_case; }

    static QList<Role> allCases();
    // Exact, case-sensitive match of a raw value; anything else gives no value.
    static std::optional<Role> fromRawValue(QStringView raw);

    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString label() const;

    friend constexpr bool operator==(Role a, Role b) { return a.m_case == b.m_case; }

private:
    Case m_case;
};

size_t qHash(Role role, size_t seed = 0);

} // namespace Kovel::Installer
