#include "installer/actions/bundlepaths.h"

#include <QCoreApplication>
#include <QDir>

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
