#pragma once

#include <QString>

// Puts a complete copy of the folder `source` at `destination`: the copy is
// made next to it first and swapped in only once whole, so a failure leaves
// whatever was at `destination` untouched. Symbolic links are copied as links,
// permissions kept. Returns whether the new copy is in place.
bool replaceBundle(const QString &source, const QString &destination);

// Copies the tree under `source` into the existing empty folder `target`.
bool copyTree(const QString &source, const QString &target);
