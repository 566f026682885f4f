#pragma once

#include <QString>
#include <functional>

namespace Kovel::Installer {

// Puts a complete copy of the folder `source` at `destination`: the copy is
// made next to it first and swapped in only once whole, in one step where the
// file system can exchange two names, so there is never a moment without a
// whole bundle at `destination`. A failure leaves whatever was there
// untouched. Symbolic links are copied as links; folders get 0755, files 0644
// or 0755 where the source is executable, whatever the umask. Staging folders
// left by an earlier run that was killed are removed first. Where the folder
// of `destination` (links resolved) is another user's, nothing at all is done
// there. Returns "" or what failed, in the system's words (or the refusal).
//
// `afterStep`, when given, is called after each step by its name ("cleaned",
// "copied", "swapped", "moved-aside", "moved-in", "removed"), so a drill can
// stop the process there.
QString replaceBundle(const QString &source, const QString &destination,
                      const std::function<void(const char *step)> &afterStep = {});

// Exchanges the two existing paths in one step. False with errno set where
// the system or file system cannot (ENOSYS, EINVAL, ENOTSUP).
bool exchangePaths(const QString &a, const QString &b);

} // namespace Kovel::Installer
