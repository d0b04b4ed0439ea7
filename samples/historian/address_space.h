// Tells the library what the historian offers: its attributes, aggregates
// and items, binding each item's handle to its series.
#pragma once

#include <string>

#include "historian_callback.h"

namespace historian {

// false with a reason when the library refuses a definition.
bool DefineAddressSpace(const Store &store, HistorianCallback *callback, std::string *error);

} // namespace historian
