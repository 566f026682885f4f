#pragma once
// Pairing this machine with an existing brain by a code from its dashboard.

#include <QString>

namespace Kovel::Installer {

struct Context;

// The typed address tidied: blanks (Unicode space separators and tab) trimmed
// at both ends, one trailing "/" dropped, "http://" put in front unless it
// already starts with "http://" or "https://".
QString normalisedBrainAddress(const QString &typed);

// Whether a normalised address can be paired with: it parses, names a host,
// and still parses with the pairing endpoint after it.
bool isUsableBrainAddress(const QString &address);

// How long and how much a pairing reply may take before it counts as never
// arrived.
struct PairingLimits {
    int idleMs = 60 * 1000;            // silence
    int overallMs = 3 * 60 * 1000;     // the whole exchange, however it trickles
    qint64 maxReplyBytes = 1024 * 1024;
};

// Normalises `serverURL` (writing it back), and unless the address is bad
// asks the brain to pair; on success the sensor agent is installed. Returns
// at once; the run ends later, on the main thread.
void startSensor(Context &context);
void startSensor(Context &context, const PairingLimits &limits);

} // namespace Kovel::Installer
