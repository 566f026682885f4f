#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace Kovel::Demo {

// Pairing codes the dashboard hands out, and the devices they paired.
// A code is six characters, good for one pairing within its lifetime.
// Both tables are bounded, so a flood of requests cannot grow memory.
class PairingCodes
{
public:
    struct Device {
        QString deviceID;
        QString apiKey;
    };
    // Longest device name kept; a host name is far shorter.
    static constexpr qsizetype maxNameLength = 255;

    // maxOutstanding: codes issued and not yet used or expired; enough for
    // anyone clicking the button. maxDevices: devices paired in this run.
    explicit PairingCodes(qint64 lifetimeMs = 5 * 60 * 1000, qsizetype maxOutstanding = 256,
                          qsizetype maxDevices = 1024)
        : m_lifetimeMs(lifetimeMs), m_maxOutstanding(maxOutstanding), m_maxDevices(maxDevices) {}

    qint64 lifetimeMs() const { return m_lifetimeMs; }
    // A new code. When the table is full the oldest code goes, never a
    // newer one: the code someone has just been shown stays good longest.
    QString issue();
    // The new device's credentials, or nothing for a wrong, expired or used code.
    std::optional<Device> redeem(const QString &code, const QString &name);
    qsizetype pairedCount() const { return m_devices.size(); }
    bool devicesFull() const { return m_devices.size() >= m_maxDevices; }

private:
    struct Outstanding {
        QString code;
        QDeadlineTimer expiry;   // monotonic: a clock change cannot revive a code
    };
    void dropExpired();

    qint64 m_lifetimeMs;
    qsizetype m_maxOutstanding;
    qsizetype m_maxDevices;
    QList<Outstanding> m_codes;          // oldest first
    QHash<QString, QString> m_devices;   // device id -> the name it gave
};

} // namespace Kovel::Demo
