#pragma once

#include <cstdint>

namespace velkantor::sim {

// splitmix64 finaliser: cheap, with good avalanche. The simulated boards derive everything
// that looks random from it, so that a seed always gives the same board.
inline uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

}  // namespace velkantor::sim
