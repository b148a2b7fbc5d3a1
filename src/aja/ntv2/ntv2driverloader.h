// Finding the board driver (see ntv2driver.h): the library registered under
// HKEY_CLASSES_ROOT\Orvex.NTV2Driver is loaded once and kept for the life of the process.
#pragma once

#include "aja/ntv2/ntv2driver.h"

namespace orvex::aja {

// The driver's function table, or null when none is registered, its library does not load,
// or it does not offer this version. A failed load is tried again on the next call.
const OxNtv2Driver* Ntv2Driver();

}  // namespace orvex::aja
