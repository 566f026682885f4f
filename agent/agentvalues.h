#pragma once
// What the sensor agent accepts as a value on its command line (or in its key
// file), shared with the installer so it never sets up an agent that would
// refuse to start.

#include <QChar>
#include <QString>

namespace Kovel::Agent {

inline QString codePoint(char32_t u)
{
    return QString::number(uint(u), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// The agent's own options: as a value, one of them means the value before it
// was left out ("--device-id --api-key KEY").
inline bool isAgentOption(const QString &value)
{
    for (const char *option : {"--server", "--device-id", "--api-key", "--api-key-file"})
        if (value == QLatin1String(option) || value.startsWith(QLatin1String(option) + QLatin1Char('=')))
            return true;
    return false;
}

// "" when `value` will do, else why not (English, for the agent's log and the
// installer's debug output). Refused: empty values, the agent's own options
// (a leading "-" alone is fine: API keys may begin with one), control characters (a newline would forge log lines; XML 1.0 cannot
// carry most of them), U+FFFE, U+FFFF and surrogates without their pair.
inline QString agentValueProblem(const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("is empty");
    if (isAgentOption(value))
        return QStringLiteral("is an option (its value is missing)");
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t u = value.at(i).unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return QStringLiteral("holds the control character U+") + codePoint(u);
        if (u == 0xfffe || u == 0xffff)
            return QStringLiteral("holds the noncharacter U+") + codePoint(u);
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            return QStringLiteral("holds a lone surrogate");
        }
        if (QChar::isLowSurrogate(u))
            return QStringLiteral("holds a lone surrogate");
    }
    return {};
}

} // namespace Kovel::Agent
