#pragma once

#include <QString>

namespace Kovel::Demo {

// Answers a question from the demo's small sample record: every note one of
// whose keywords the question contains is quoted, with where it came from.
QString answerFromNotes(const QString &question);

} // namespace Kovel::Demo
