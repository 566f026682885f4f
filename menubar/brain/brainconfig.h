#pragma once

#include <QString>

namespace Kovel::Bar {

// Where the brain server is: "~/.kovel/config.json" key "brain", or defaultBrainAddress.
struct BrainConfig {
    static QString serverURL();
};

} // namespace Kovel::Bar
