// The process-wide instruction-set level that picks the row primitives' variants.
#pragma once

#include <string_view>

#include "convert/row.h"

namespace orvex::convert {

// Probes the processor once per process (under a lock) and sets the level; later calls
// return the level set. The environment variable ORVEX_CPU_LEVEL ("c", "sse2", "ssse3",
// "sse41", "avx2", "avx512") lowers it, for tests and benchmarks; it never raises it above
// what the processor supports.
int ProcessorLevelInit();

// The level in force (runs ProcessorLevelInit when nothing set it yet).
int ProcessorLevel();

// The highest level the processor supports, ignoring ORVEX_CPU_LEVEL.
int ProcessorLevelSupported();

// True when ORVEX_CPU_LEVEL named the level: the row primitives then run the variants of
// that level's fixed rule, and no choice is timed.
bool ProcessorLevelForced();

// Level of a name as ORVEX_CPU_LEVEL takes it; kLevelNone for an unknown name.
int ProcessorLevelFromName(std::string_view name);
// The name of a level ("c", "sse2", ... "avx512"); "none" for anything else.
const char* ProcessorLevelName(int level);

}  // namespace orvex::convert
