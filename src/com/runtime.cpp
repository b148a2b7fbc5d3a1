#include "com/runtime.h"
