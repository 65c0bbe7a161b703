// The value of --threads: a whole number from 0 (one per core) to 256.
#pragma once

#include <cstdlib>

inline bool ParseThreadCount(const char* text, unsigned& threads) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 256) return false;
    threads = static_cast<unsigned>(value);
    return true;
}
