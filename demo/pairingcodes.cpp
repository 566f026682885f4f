#include "demo/pairingcodes.h"

#include <QRandomGenerator>

namespace Kovel::Demo {

namespace {
// No look-alikes (0/O, 1/I/L), so a code read off a screen types back right.
const char codeAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
const int codeLength = 6;

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
    while (!m_codes.isEmpty() && m_codes.size() >= m_maxOutstanding)
        m_codes.removeFirst();
    QString code;
    auto taken = [this](const QString &candidate) {
        for (const Outstanding &o : std::as_const(m_codes))
            if (o.code == candidate)
                return true;
        return false;
    };
    do {
        code.clear();
        for (int i = 0; i < codeLength; ++i)
            code += QLatin1Char(codeAlphabet[QRandomGenerator::system()->bounded(int(sizeof codeAlphabet - 1))]);
    } while (taken(code));
    m_codes.append({code, QDeadlineTimer(m_lifetimeMs)});
    return code;
}

std::optional<PairingCodes::Device> PairingCodes::redeem(const QString &code, const QString &name)
{
    dropExpired();
    if (devicesFull())
        return std::nullopt;
    // Codes are shown in capitals; someone typing them in lower case means the same code.
    const QString typed = code.trimmed().toUpper();
    for (qsizetype i = 0; i < m_codes.size(); ++i) {
        if (m_codes[i].code != typed)
            continue;
        m_codes.removeAt(i);
        Device device{QStringLiteral("dev-") + randomURLSafe(12), randomURLSafe(32)};
        m_devices.insert(device.deviceID, name);
        return device;
    }
    return std::nullopt;
}

void PairingCodes::dropExpired()
{
    // All codes live equally long, so the expired ones are at the front.
    while (!m_codes.isEmpty() && m_codes.first().expiry.hasExpired())
        m_codes.removeFirst();
}

} // namespace Kovel::Demo
