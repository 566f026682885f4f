#pragma once
// Connecting the AI tools on this machine to a brain, by the connect script
// from our script host.

#include "installer/core/context.h"
#include "installer/runs/runending.h"

#include <QByteArray>
#include <QString>

namespace Kovel::Installer {

class RunRegistry;

// Where the connect script is served from ("https://" + host + "/connect-ai.sh").
inline constexpr char kConnectScriptHost[] = "get.kovel.example";

// The one shell command that fetches the connect script and runs it for
// `address` and `code`. Both values are quoted for the shell, so each reaches
// the script as one argument, whatever it holds; the pipeline fails when the
// download does. The statuses of the download and of the script are written,
// as "CURL SCRIPT", to `statusFile`, so a failed download can be told from a
// failed script.
QString connectCommand(const QString &address, const QString &code, const QString &statusFile);

// How a connection run ends for the shell's status and what it wrote to its
// status file.
RunEnding connectEnding(int status, const QByteArray &recordedStatuses);

// Begins a fresh run of `runs` and runs the connect command in a login shell
// for the brain this machine uses and the typed AI pairing code; a success
// is followed by nothing more. Returns at once.
void connectAIs(Context &context, RunRegistry &runs);

} // namespace Kovel::Installer
