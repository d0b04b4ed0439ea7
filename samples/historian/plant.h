// The generated plant: the history the historian serves when it is given no
// CSV folder. Three areas with twenty-odd tags (sines, ramps, steps, random
// walks, switches and a text mode), sampled at whole multiples of the sample
// interval, with a few stretches of bad and uncertain quality. Everything
// follows from the options: the same options give the same history.
#pragma once

#include "store.h"

namespace historian {

struct PlantOptions
{
    Ticks end = 0;                       // last possible sample time
    unsigned days = 2;                   // span before end
    Ticks interval = 60 * kTicksPerSecond; // sample interval
    uint32_t seed = 20240601;
};

// Adds the plant's items to the store. Returns the number of items added.
size_t GeneratePlant(const PlantOptions &options, Store *store);

} // namespace historian
