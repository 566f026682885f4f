#include "installer/sensor/sensoragent.h"

#include "installer/core/bundlepaths.h"
#include "installer/core/context.h"
#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/finishing/menubarinstall.h"
#include "installer/finishing/permissionpanes.h"
#include "platform/filewrites.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QMetaObject>

namespace Kovel::Installer {

namespace {

const QString serviceFailedText = QStringLiteral("⚠️ 센서 자동시작을 등록하지 못했어요: %1\n");
// Enabled, so it starts at the next login; only starting it now failed.
const QString notStartedNowText
    = QStringLiteral("⚠️ 센서 자동시작은 등록했지만 지금 바로 시작하지는 못했어요 (다음 로그인 때 시작돼요): %1\n");

// Ends the run on the main queue, after the lines already logged.
void endWithoutSuccess(Context &context, const QString &error, bool startsAtLogin = false)
{
    qCWarning(System::installerLog) << "sensor agent not installed:" << error << "starts at login:" << startsAtLogin;
    appendLog(context, (startsAtLogin ? notStartedNowText : serviceFailedText).arg(error));
    InstallerState *state = &context.state;
    QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
}

// The program the service is to start: the package's own where it was
// installed by the system, otherwise a per-user copy that outlives the
// installer (which may run from Downloads or a disk image). Empty and `error`
// set when the copy failed; an earlier copy then stays as it was.
QString agentProgramFor(Context &context, QString &error)
{
    const QString shipped = appPath(context, QStringLiteral("/Contents/Resources/kovel/kovel"));
    if (context.packaged)
        return shipped;
    const QString folder = context.platform.agentFolder();
    const QString copy = folder + QStringLiteral("/kovel");
    error = System::makeFolders(folder, System::sharedFolderMode);
    if (error.isEmpty())
        error = System::copyFileAtomically(shipped, copy, System::programFileMode);
    return error.isEmpty() ? copy : QString();
}

} // namespace

void installSensorAgent(Context &context, const QString &server, const QString &deviceID, const QString &apiKey)
{
    QString error;
    const QString program = agentProgramFor(context, error);
    if (!error.isEmpty()) {
        endWithoutSuccess(context, error);
        return;
    }
    const System::SensorAgentService agent{program, server, deviceID, apiKey};

    // The service manager finishes after this returns: the callback keeps a
    // copy of the context (it only refers to the program's one state and platform).
    context.platform.replaceAgentService(agent, [context](const System::AgentServiceResult &result) mutable {
        if (!result.error.isEmpty()) {
            endWithoutSuccess(context, result.error, result.startsAtLogin);
            return;
        }
        // One step on the main queue, after the lines already logged.
        QMetaObject::invokeMethod(&context.state, [context]() mutable {
            const bool clientInstalled = installMenubar(context);
            openPermissionPanes(context);
            // "완료" only when everything went ahead; the sensor's part is told either way.
            appendLog(context, clientInstalled
                                   ? QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n")
                                   : QStringLiteral("센서는 로그인 시 자동 시작되고 지금도 수집 중입니다. 메뉴바 앱은 위의 ⚠️ 줄을 확인해 주세요.\n"));
            context.state.setRunning(false);
            context.state.setDone(true);
        }, Qt::QueuedConnection);
    });
}

} // namespace Kovel::Installer
