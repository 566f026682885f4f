#pragma once
// Connecting the AI tools on this machine to a brain, by the connect script
// from our script host.

#include "installer/actions/installer.h"

#include <QString>

// Where the connect script is served from ("https://" + host + "/connect-ai.sh").
inline constexpr char kConnectScriptHost[] = "get.kovel.example";

// The one shell command that fetches the connect script and runs it for
// `address` and `code`. Both values are quoted for the shell, so each reaches
// the script as one argument, whatever it holds; the pipeline fails when the
// download does.
QString connectCommand(const QString &address, const QString &code);

// Begins a fresh run and runs the connect command in a login shell for the
// brain this machine uses and the typed AI pairing code. Returns at once.
void connectAIs(Installer &in);
