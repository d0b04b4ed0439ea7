// The browser and string enumerator of the test server: fixed answers from
// xproc_canned.h.
#pragma once

#include "xproc_canned.h"

namespace xserver {

// New browser with one reference.
IOPCHDA_Browser *CreateBrowser();

}  // namespace xserver
