#include "demo/pairingcodes.h"

#include <QRandomGenerator>

namespace {
// No look-alikes (0/O, 1/I/L), so a code read off a screen types back right.
const char codeAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
const int codeLength = 6;
// Enough for anyone clicking the button; a flood of requests cannot grow memory.
const qsizetype maxOutstanding = 256;

QString randomURLSafe(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
}

QString PairingCodes::issue()
{
    dropExpired();
    while (m_expiry.size() >= maxOutstanding)
        m_expiry.erase(m_expiry.begin());
    QString code;
    do {
        code.clear();
        for (int i = 0; i < codeLength; ++i)
            code += QLatin1Char(codeAlphabet[QRandomGenerator::system()->bounded(int(sizeof codeAlphabet - 1))]);
    } while (m_expiry.contains(code));
    m_expiry.insert(code, QDeadlineTimer(m_lifetimeMs));
    return code;
}

std::optional<PairingCodes::Device> PairingCodes::redeem(const QString &code, const QString &name)
{
    dropExpired();
    // Codes are shown in capitals; someone typing them in lower case means the same code.
    const auto it = m_expiry.find(code.trimmed().toUpper());
    if (it == m_expiry.end())
        return std::nullopt;
    m_expiry.erase(it);
    Device device{QStringLiteral("dev-") + randomURLSafe(12), randomURLSafe(32)};
    m_devices.insert(device.deviceID, name);
    return device;
}

void PairingCodes::dropExpired()
{
    for (auto it = m_expiry.begin(); it != m_expiry.end();) {
        if (it.value().hasExpired())
            it = m_expiry.erase(it);
        else
            ++it;
    }
}
