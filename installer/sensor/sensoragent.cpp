#include "installer/sensor/sensoragent.h"

#include "installer/actions/bundlepaths.h"
#include "installer/actions/finishing.h"
#include "installer/actions/installer.h"
#include "installer/actions/installlog.h"
#include "installer/window/installerstate.h"
#include "platform/platform.h"

#include <QMetaObject>

void installSensorAgent(Installer &in, const QString &server, const QString &deviceID, const QString &apiKey)
{
    const SensorAgentService agent{
        appPath(in, QStringLiteral("/Contents/Resources/kovel/kovel")),
        server,
        deviceID,
        apiKey,
    };

    Installer run = in;
    in.platform.replaceAgentService(agent, [run]() mutable {
        // One step on the main queue, after the lines already logged.
        QMetaObject::invokeMethod(&run.state, [run]() mutable {
            installMenubar(run);
            openPermissionPanes(run);
            appendLog(run, QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n"));
            run.state.setRunning(false);
            run.state.setDone(true);
        }, Qt::QueuedConnection);
    });
}
