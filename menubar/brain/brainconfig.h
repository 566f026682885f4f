#pragma once

#include <QString>

// Where the brain server is: "~/.kovel/config.json" key "brain", or the default.
struct BrainConfig {
    static constexpr auto defaultServer = "http://127.0.0.1:8900";
    static QString serverURL();
};
