#include "installer/actions/bundlepaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString appPath(const Installer &in, const QString &path)
{
    return in.bundlePath + path;
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
