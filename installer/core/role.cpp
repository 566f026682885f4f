#include "installer/core/role.h"

#include <QHash>

namespace Kovel::Installer {

QList<Role> Role::allCases() { return {allInOne, server, sensor}; }

std::optional<Role> Role::fromRawValue(QStringView raw)
{
    for (Role r : allCases())
        if (r.rawValue() == raw)
            return r;
    return std::nullopt;
}

QString Role::rawValue() const
{
    switch (m_case) {
    case allInOne: return QStringLiteral("all-in-one");
    case server: return QStringLiteral("server");
    case sensor: return QStringLiteral("sensor");
    }
    return {};
}

QString Role::label() const
{
    switch (m_case) {
    case allInOne: return QStringLiteral("올인원  —  이 맥이 브레인 + 센서 (혼자 다 함)");
    case server: return QStringLiteral("브레인만  —  서버 (다른 기기가 여기로 보냄)");
    case sensor: return QStringLiteral("센서만  —  다른 브레인으로 전송");
    }
    return {};
}

size_t qHash(Role role, size_t seed) { return qHash(role.rawValue(), seed); }

} // namespace Kovel::Installer
