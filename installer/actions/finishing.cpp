#include "installer/actions/finishing.h"

#include "installer/actions/blanks.h"
#include "installer/actions/bundlecopy.h"
#include "installer/actions/bundlepaths.h"
#include "installer/actions/installlog.h"
#include "installer/window/installerstate.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QFileInfo>
#include <QUrl>

void installMenubar(Installer &in)
{
    const QString shipped = appPath(in, QStringLiteral("/Contents/Resources/KovelBar.app"));
    if (!QFileInfo::exists(shipped)) {
        qCInfo(installerLog) << "no menu bar client in the bundle at" << shipped;
        return;
    }
    // The package's own copy is used where it lies: one in the home would go
    // stale at the next upgrade.
    QString client = shipped;
    bool installed = true;
    if (!in.packaged) {
        client = in.platform.installedMenubarPath();
        if (const QString why = replaceBundle(shipped, client); !why.isEmpty()) {
            appendLog(in, QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ") + why + u'\n');
            installed = false;
            // An earlier install, still whole, is registered and started as before.
            if (!QFileInfo::exists(client))
                return;
        }
    }
    qCInfo(installerLog) << "registering the login item for" << client;
    if (const QString why = in.platform.registerLoginItem(client); !why.isEmpty())
        appendLog(in, QStringLiteral("⚠️ 로그인할 때 메뉴바 앱이 자동으로 켜지도록 등록하지 못했어요: ") + why + u'\n');
    // A copy already running (an earlier version) quits for this one.
    in.platform.openApplication(client, {QStringLiteral("--replace")});
    if (installed)
        appendLog(in, QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n"));
}

void openPermissionPanes(Installer &in)
{
    // Where no pane opens, there is nothing to allow "in the settings just opened".
    const QList<QUrl> panes = in.platform.privacyPanes();
    if (panes.isEmpty())
        return;
    appendLog(in, QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                 "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n"));
    for (const QUrl &pane : panes) {
        if (pane.isValid())
            in.platform.openUrl(pane);
        else
            qCWarning(installerLog) << "privacy pane address does not parse:" << pane.toString();
    }
}

QString dashboardAddress(Role role, const QString &serverURL)
{
    const QString base = role == Role::sensor && !serverURL.isEmpty()
        ? trimBlanks(serverURL)
        : QStringLiteral("http://127.0.0.1:8900");
    return base + QStringLiteral("/");
}

void openDashboard(Installer &in)
{
    const QUrl url(dashboardAddress(in.state.role(), in.state.serverURL()), QUrl::StrictMode);
    // Without a scheme there is no page to open, only a path for the file manager.
    if (!url.isValid() || url.isRelative()) {
        qCInfo(installerLog) << "dashboard address does not parse, nothing opened:"
                             << dashboardAddress(in.state.role(), in.state.serverURL());
        return;
    }
    in.platform.openUrl(url);
}
