#pragma once

#include <QByteArray>
#include <QString>

// Writes a file that holds a secret: atomically (a previous file is replaced
// whole, never left half-written) and readable and writable by its owner
// alone, whatever the umask or an earlier file's mode. The folder must exist.
bool writePrivateFile(const QString &path, const QByteArray &content);
