#include "installer/sensor/aiconnect.h"

#include "installer/actions/blanks.h"
#include "installer/actions/installlog.h"
#include "installer/actions/runner.h"
#include "installer/window/installerstate.h"
#include "platform/platform.h"

#include <QProcess>

namespace {

// One shell word with exactly this text: single quotes, each "'" as '\''.
QString shellQuoted(QString text)
{
    text.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + text + u'\'';
}

} // namespace

QString connectCommand(const QString &address, const QString &code)
{
    // Without pipefail the status would be the second bash's, which runs an
    // empty script happily when curl fails.
    return QStringLiteral("set -o pipefail; curl -fsSL https://") + QLatin1String(kConnectScriptHost)
        + QStringLiteral("/connect-ai.sh | bash -s -- --server ") + shellQuoted(address)
        + QStringLiteral(" --pair-code ") + shellQuoted(code) + QStringLiteral(" --yes");
}

void connectAIs(Installer &in)
{
    in.state.setRunning(true);
    in.state.setDone(false);
    in.state.setLog(QString());

    const QString address = in.state.role() == Role::sensor ? trimBlanks(in.state.serverURL())
                                                            : QStringLiteral("http://127.0.0.1:8900");
    const QString code = trimBlanks(in.state.aiPairCode());

    appendLog(in, QStringLiteral("AI 도구 연결 중… (Claude Code·Codex·Gemini 검색)\n"));

    auto *process = new QProcess;
    process->setProgram(QStringLiteral("/bin/bash"));
    process->setArguments({QStringLiteral("-lc"), connectCommand(address, code)});
    // The installer's own environment, as the platform reports it.
    process->setProcessEnvironment(in.platform.environment());
    runStreaming(in, process, false);
}
