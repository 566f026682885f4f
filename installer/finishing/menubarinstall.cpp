#include "installer/finishing/menubarinstall.h"

#include "installer/core/bundlepaths.h"
#include "installer/core/installlog.h"
#include "installer/finishing/bundlecopy.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QFileInfo>

namespace Kovel::Installer {

bool installMenubar(Context &context)
{
    const QString shipped = appPath(context, QStringLiteral("/Contents/Resources/KovelBar.app"));
    if (!QFileInfo::exists(shipped)) {
        qCInfo(System::installerLog) << "no menu bar client in the bundle at" << shipped;
        return true;
    }
    // The package's own copy is used where it lies: one in the home would go
    // stale at the next upgrade.
    QString client = shipped;
    if (!context.packaged) {
        client = context.platform.installedMenubarPath();
        if (const QString why = replaceBundle(shipped, client); !why.isEmpty()) {
            // Only the client just swapped in is known to be the user's own:
            // whatever lies at that path now may be anyone's.
            appendLog(context, QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ") + why + u'\n');
            return false;
        }
    }
    qCInfo(System::installerLog) << "registering the login item for" << client;
    const QString why = context.platform.registerLoginItem(client);
    if (!why.isEmpty())
        appendLog(context, QStringLiteral("⚠️ 로그인할 때 메뉴바 앱이 자동으로 켜지도록 등록하지 못했어요: ") + why + u'\n');
    // A copy already running (an earlier version) quits for this one.
    context.platform.openApplication(client, {QStringLiteral("--replace")});
    appendLog(context, QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n"));
    return why.isEmpty();
}

} // namespace Kovel::Installer
