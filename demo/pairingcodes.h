#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QString>
#include <optional>

// Pairing codes the dashboard hands out, and the devices they paired.
// A code is six characters, good for one pairing within its lifetime.
class PairingCodes
{
public:
    struct Device {
        QString deviceID;
        QString apiKey;
    };

    explicit PairingCodes(qint64 lifetimeMs = 5 * 60 * 1000) : m_lifetimeMs(lifetimeMs) {}

    qint64 lifetimeMs() const { return m_lifetimeMs; }
    QString issue();
    // The new device's credentials, or nothing for a wrong, expired or used code.
    std::optional<Device> redeem(const QString &code, const QString &name);
    qsizetype pairedCount() const { return m_devices.size(); }

private:
    void dropExpired();

    qint64 m_lifetimeMs;
    QHash<QString, QDeadlineTimer> m_expiry;   // monotonic: a clock change cannot revive a code
    QHash<QString, QString> m_devices;   // device id -> the name it gave
};
