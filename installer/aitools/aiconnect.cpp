#include "installer/aitools/aiconnect.h"

#include "common/brainaddress.h"
#include "installer/core/blanks.h"
#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/runs/runner.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace Kovel::Installer {

namespace {

// One shell word with exactly this text: single quotes, each "'" as '\''.
QString shellQuoted(QString text)
{
    text.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + text + u'\'';
}

// curl's own status when the script stopped reading before the download
// ended (23, a write error; 141, SIGPIPE): the script's status tells then.
bool downloadDelivered(int curlStatus)
{
    return curlStatus == 0 || curlStatus == 23 || curlStatus == 141;
}

} // namespace

QString connectCommand(const QString &address, const QString &code, const QString &statusFile)
{
    // Without pipefail the status would be the second bash's, which runs an
    // empty script happily when curl fails. Right after the pipeline, $? and
    // PIPESTATUS still hold its statuses.
    return QStringLiteral("set -o pipefail; curl -fsSL https://") + QLatin1String(kConnectScriptHost)
        + QStringLiteral("/connect-ai.sh | bash -s -- --server ") + shellQuoted(address)
        + QStringLiteral(" --pair-code ") + shellQuoted(code) + QStringLiteral(" --yes")
        + QStringLiteral("; s=(\"$?\" \"${PIPESTATUS[@]}\"); echo \"${s[1]} ${s[2]}\" > ") + shellQuoted(statusFile)
        + QStringLiteral("; exit \"${s[0]}\"");
}

RunEnding connectEnding(int status, const QByteArray &recordedStatuses)
{
    if (status == 0)
        return {true, {}, false};
    const QList<QByteArray> parts = recordedStatuses.simplified().split(' ');
    bool curlRead = false, scriptRead = false;
    const int curl = parts.value(0).toInt(&curlRead);
    const int script = parts.value(1).toInt(&scriptRead);
    if (curlRead && scriptRead && !downloadDelivered(curl))
        return {false,
                QStringLiteral("⚠️ AI 도구 연결 스크립트를 받지 못했어요 (curl 코드 ") + QString::number(curl)
                    + QStringLiteral("). 인터넷 연결을 확인하고 [연결]을 다시 눌러주세요."),
                false};
    // Nothing recorded (the shell was killed first): its own status is all there is.
    const int failed = curlRead && scriptRead ? script : status;
    if (failed == 0)
        return {true, {}, false};
    if (!(curlRead && scriptRead))
        qCInfo(System::installerLog) << "connect run left no statuses; shell status" << status;
    return {false,
            QStringLiteral("⚠️ AI 도구 연결이 완료되지 못했어요 (코드 ") + QString::number(failed)
                + QStringLiteral("). [연결]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요."),
            false};
}

void connectAIs(Context &context, RunRegistry &runs)
{
    context.state.setRunning(true);
    context.state.setDone(false);
    context.state.setDashboardOffered(false);
    context.state.setLog(QString());

    const QString address = context.state.role() == Role::sensor ? trimBlanks(context.state.serverURL())
                                                            : QString::fromLatin1(defaultBrainAddress);
    const QString code = trimBlanks(context.state.aiPairCode());

    appendLog(context, QStringLiteral("AI 도구 연결 중… (Claude Code·Codex·Gemini 검색)\n"));

    // The statuses' file lives as long as the run does.
    auto folder = std::make_shared<QTemporaryDir>();
    const QString statusFile = folder->isValid() ? folder->filePath(QStringLiteral("statuses"))
                                                 : QStringLiteral("/dev/null");
    if (!folder->isValid())
        qCWarning(System::installerLog) << "no temporary folder for the connect statuses:" << folder->errorString();

    auto *process = new QProcess;
    process->setProgram(QStringLiteral("/bin/bash"));
    process->setArguments({QStringLiteral("-lc"), connectCommand(address, code, statusFile)});
    // The installer's own environment, as the platform reports it.
    process->setProcessEnvironment(context.platform.environment());
    runStreaming(context, runs, process, {}, [folder, statusFile](int status) {
        QFile recorded(statusFile);
        return connectEnding(status, recorded.open(QIODevice::ReadOnly) ? recorded.read(64) : QByteArray());
    });
}

} // namespace Kovel::Installer
