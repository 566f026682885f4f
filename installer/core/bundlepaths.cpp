#include "installer/core/bundlepaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Kovel::Installer {

QString appPath(const Context &context, const QString &path)
{
    return context.bundlePath + path;
}

QString bundleFolderOfRunningProgram()
{
    QDir dir(QCoreApplication::applicationDirPath()); // .../Kovel.app/Contents/MacOS
    dir.cdUp();
    dir.cdUp();
    return dir.absolutePath();
}

bool isPackagedBundle(const QString &bundleFolder)
{
    const QString packaged = QFileInfo(QStringLiteral(KOVEL_PACKAGED_BUNDLE)).canonicalFilePath();
    return !packaged.isEmpty() && QFileInfo(bundleFolder).canonicalFilePath() == packaged;
}

} // namespace Kovel::Installer
