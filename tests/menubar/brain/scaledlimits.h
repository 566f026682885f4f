#pragma once
// Test helper: the Brain's real limits with one second lasting secondMs, so a
// test can watch a 15 s limit pass in a fraction of a second.

#include "menubar/brain/brain.h"

inline Kovel::Bar::BrainLimits scaledLimits(int secondMs)
{
    const Kovel::Bar::BrainLimits real;
    Kovel::Bar::BrainLimits scaled = real;
    scaled.readIdleMs = real.readIdleMs / 1000 * secondMs;
    scaled.chatIdleMs = real.chatIdleMs / 1000 * secondMs;
    scaled.closeIdleMs = real.closeIdleMs / 1000 * secondMs;
    return scaled;
}
