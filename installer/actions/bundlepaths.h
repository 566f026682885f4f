#pragma once

#include "installer/actions/installer.h"

#include <QString>

// A path inside the installer's bundle: the bundle folder followed by `path`
// ("/Contents/Resources/..."), joined as plain text and not checked.
QString appPath(const Installer &in, const QString &path);

// The "Kovel.app" folder around the running program
// (".../Kovel.app/Contents/MacOS/Kovel").
QString bundleFolderOfRunningProgram();
