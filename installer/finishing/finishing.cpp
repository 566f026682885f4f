#include "installer/finishing/finishing.h"

#include "common/brainaddress.h"
#include "installer/core/blanks.h"
#include "installer/core/bundlepaths.h"
#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/finishing/bundlecopy.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QFileInfo>
#include <QUrl>

namespace Kovel::Installer {

void installMenubar(Context &context)
{
    const QString shipped = appPath(context, QStringLiteral("/Contents/Resources/KovelBar.app"));
    if (!QFileInfo::exists(shipped)) {
        qCInfo(System::installerLog) << "no menu bar client in the bundle at" << shipped;
        return;
    }
    // The package's own copy is used where it lies: one in the home would go
    // stale at the next upgrade.
    QString client = shipped;
    bool installed = true;
    if (!context.packaged) {
        client = context.platform.installedMenubarPath();
        if (const QString why = replaceBundle(shipped, client); !why.isEmpty()) {
            appendLog(context, QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ") + why + u'\n');
            installed = false;
            // An earlier install, still whole, is registered and started as before.
            if (!QFileInfo::exists(client))
                return;
        }
    }
    qCInfo(System::installerLog) << "registering the login item for" << client;
    if (const QString why = context.platform.registerLoginItem(client); !why.isEmpty())
        appendLog(context, QStringLiteral("⚠️ 로그인할 때 메뉴바 앱이 자동으로 켜지도록 등록하지 못했어요: ") + why + u'\n');
    // A copy already running (an earlier version) quits for this one.
    context.platform.openApplication(client, {QStringLiteral("--replace")});
    if (installed)
        appendLog(context, QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n"));
}

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

QString dashboardAddress(Role role, const QString &serverURL)
{
    const QString base = role == Role::sensor && !serverURL.isEmpty()
        ? trimBlanks(serverURL)
        : QString::fromLatin1(defaultBrainAddress);
    return base + QStringLiteral("/");
}

void openDashboard(Context &context)
{
    const QUrl url(dashboardAddress(context.state.role(), context.state.serverURL()), QUrl::StrictMode);
    // Without a scheme there is no page to open, only a path for the file manager.
    if (!url.isValid() || url.isRelative()) {
        qCInfo(System::installerLog) << "dashboard address does not parse, nothing opened:"
                             << dashboardAddress(context.state.role(), context.state.serverURL());
        return;
    }
    context.platform.openUrl(url);
}

} // namespace Kovel::Installer
