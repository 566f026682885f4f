#include "installer/finishing/permissionpanes.h"

#include "installer/core/installlog.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QList>
#include <QUrl>

namespace Kovel::Installer {

void openPermissionPanes(Context &context)
{
    // Where no pane opens, there is nothing to allow "in the settings just opened".
    const QList<QUrl> panes = context.platform.privacyPanes();
    if (panes.isEmpty())
        return;
    appendLog(context, QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                      "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n"));
    for (const QUrl &pane : panes) {
        if (pane.isValid())
            context.platform.openUrl(pane);
        else
            qCWarning(System::installerLog) << "privacy pane address does not parse:" << pane.toString();
    }
}

} // namespace Kovel::Installer
