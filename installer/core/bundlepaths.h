#pragma once

#include "installer/core/context.h"

#include <QString>

namespace Kovel::Installer {

// A path inside the installer's bundle: the bundle folder followed by `path`
// ("/Contents/Resources/..."), joined as plain text and not checked.
QString appPath(const Context &context, const QString &path);

// The "Kovel.app" folder around the running program
// (".../Kovel.app/Contents/MacOS/Kovel").
QString bundleFolderOfRunningProgram();

// True when `bundleFolder` is the bundle the package installs (under the
// build's install prefix), not a build tree or a downloaded copy.
bool isPackagedBundle(const QString &bundleFolder);

} // namespace Kovel::Installer
