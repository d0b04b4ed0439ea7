// Who the sample historian is to COM and to OPC clients.
#pragma once

#include <windows.h>

namespace historian {

// {ED451831-03D7-4CF8-BBE8-07425DE5937A}
const CLSID kHistorianClsid = {0xed451831, 0x03d7, 0x4cf8,
                               {0xbb, 0xe8, 0x07, 0x42, 0x5d, 0xe5, 0x93, 0x7a}};
const char kHistorianProgId[] = "ZqHDA.Historian.1";
const char kHistorianDescription[] = "ZqHDAsvr Sample Historian";

} // namespace historian
