#pragma once

#include <cstdint>

namespace mirel {

// Milliseconds of CLOCK_MONOTONIC, cut to 32 bits: it wraps after about 49.7
// days, so callers take differences modulo 2^32.
uint32_t GetTickCount();

} // namespace mirel
