#include "address_space.h"

#include <algorithm>
#include <vector>

#include "attributes.h"

namespace historian {

bool DefineAddressSpace(const Store &store, HistorianCallback *callback, std::string *error)
{
    for (const AttributeInfo &a : SupportedAttributes()) {
        if (!DefineHDAAttribute(a.id, a.name, a.description, a.type, a.history ? 1 : 0)) {
            *error = std::string("cannot define the attribute ") + a.name;
            return false;
        }
    }
    // Shorter paths first: an item "A" defined after "A.B" would find the
    // branch "A" already there, while "A" then "A.B" makes A both.
    std::vector<Series *> items;
    for (const auto &series : store.Items())
        items.push_back(series.get());
    auto depth = [](const Series *s) { return std::count(s->Id().begin(), s->Id().end(), '.'); };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Series *a, const Series *b) { return depth(a) < depth(b); });
    for (Series *series : items) {
        void *handle = DefineHDAItem(series->Id().c_str());
        if (handle == ZQHDA_INVALID_ITEM) {
            *error = "cannot define the item " + series->Id();
            return false;
        }
        callback->Bind(handle, series);
    }
    return true;
}

} // namespace historian
