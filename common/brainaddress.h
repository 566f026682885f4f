#pragma once
// Where both programs find the brain unless told otherwise: this machine's own.

namespace Kovel {

inline constexpr char defaultBrainAddress[] = "http://127.0.0.1:8900";

} // namespace Kovel
