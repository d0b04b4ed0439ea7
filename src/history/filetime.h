// FILETIMEs as plain numbers (zq::Ticks and its conversions) live in the time
// module; this header stays for the files that include it by this name.
#pragma once

#include "runtime/civil_time.h"
