// The library's own exceptions: empty classes thrown by value.
#pragma once

#include "zel/admintool/export.h"

// Element access outside an array.
class ZEL_ADMINSAL_API ZEL_OutOfBoundsException {};

// Storage could not be obtained. The library's own class, in the global namespace.
class ZEL_ADMINSAL_API bad_alloc {};
