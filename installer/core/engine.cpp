#include "installer/core/engine.h"

#include <QHash>

namespace Kovel::Installer {

QList<Engine> Engine::allCases() { return {ollama, subscription}; }

std::optional<Engine> Engine::fromRawValue(QStringView raw)
{
    for (Engine e : allCases())
        if (e.rawValue() == raw)
            return e;
    return std::nullopt;
}

QString Engine::rawValue() const
{
    switch (m_case) {
    case ollama: return QStringLiteral("ollama");
    case subscription: return QStringLiteral("subscription");
    }
    return {};
}

QString Engine::label() const
{
    switch (m_case) {
    case ollama: return QStringLiteral("로컬 AI  —  완전 오프라인 (다운로드 4~5GB · M1 이상 권장)");
    case subscription: return QStringLiteral("내 AI 구독  —  Claude·ChatGPT 자동 감지 (다운로드 1GB대 · GPU 불필요)");
    }
    return {};
}

size_t qHash(Engine engine, size_t seed) { return qHash(engine.rawValue(), seed); }

} // namespace Kovel::Installer
