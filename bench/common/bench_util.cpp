#include "bench_util.h"

#include <cstdlib>
#include <cstring>

namespace zqbench {

namespace {
bool g_quick = false;
size_t g_maxItems = 1000000;
} // namespace

void ParseArguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            g_quick = true;
        else if (std::strcmp(argv[i], "--max") == 0 && i + 1 < argc)
            g_maxItems = static_cast<size_t>(std::strtoul(argv[++i], nullptr, 10));
    }
}

int Repetitions(int normal) { return g_quick ? (normal < 3 ? normal : 3) : normal; }

size_t MaxItems() { return g_maxItems; }

} // namespace zqbench
