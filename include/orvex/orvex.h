// The Orvex SDK's public interface: records, enumerations, interfaces and identifiers.
#pragma once

#include "orvex/ids.h"
#include "orvex/interfaces.h"
#include "orvex/types.h"
