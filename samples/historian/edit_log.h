// What an item's history keeps beside its samples: the values that updates
// replaced or deleted (with when, how and by whom), and the annotations
// clients made. A Series holds one EditLog under the lock of its samples
// (series.h), so the log always matches the samples it describes.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "value.h"

namespace historian {

// A value that was replaced or deleted.
struct Modification
{
    Ticks time = 0;     // the value's time stamp
    Value value;        // the value and quality as they were
    DWORD quality = 0;
    Ticks modified = 0; // when it was replaced or deleted
    int editType = 0;   // OPCHDA_REPLACE, OPCHDA_INSERTREPLACE or OPCHDA_DELETE
    std::string user;
};

struct Annotation
{
    Ticks time = 0; // the annotated value's time stamp
    Ticks made = 0; // when the annotation was made
    std::string text;
    std::string user;
};

class EditLog
{
public:
    // Both keep their entries sorted by time stamp; entries with equal time
    // stamps stay in the order they were added (the order they were made).
    void Add(Modification m) { Insert(modified_, std::move(m)); }
    void Add(Annotation a) { Insert(annotations_, std::move(a)); }

    // Calls visit(entry) for the entries stamped from *start to *end, both
    // included, until it returns false. Ascending (in the order they were
    // made for equal stamps) when start is given and not later than end;
    // descending otherwise (a null start, or a start later than the end). A
    // null end is open.
    template <typename F> void Modified(const Ticks *start, const Ticks *end, F visit) const
    {
        Visit(modified_, start, end, visit);
    }
    template <typename F> void Annotations(Ticks start, Ticks end, F visit) const
    {
        Visit(annotations_, &start, &end, visit);
    }
    size_t ModifiedCount() const { return modified_.size(); }
    size_t AnnotationCount() const { return annotations_.size(); }

private:
    template <typename T> static void Insert(std::vector<T> &list, T entry)
    {
        auto at = std::upper_bound(list.begin(), list.end(), entry.time,
                                   [](Ticks t, const T &e) { return t < e.time; });
        list.insert(at, std::move(entry));
    }

    template <typename T, typename F>
    static void Visit(const std::vector<T> &list, const Ticks *start, const Ticks *end, F &visit)
    {
        const bool descending = start == nullptr || (end != nullptr && *start > *end);
        const Ticks *low = descending ? end : start;
        const Ticks *high = descending ? start : end;
        auto first = low == nullptr ? list.begin()
                                    : std::lower_bound(list.begin(), list.end(), *low,
                                                       [](const T &e, Ticks t) { return e.time < t; });
        auto last = high == nullptr ? list.end()
                                    : std::upper_bound(list.begin(), list.end(), *high,
                                                       [](Ticks t, const T &e) { return t < e.time; });
        if (first >= last)
            return;
        if (!descending) {
            for (auto it = first; it != last; ++it)
                if (!visit(*it))
                    return;
            return;
        }
        for (auto it = last; it != first;)
            if (!visit(*--it))
                return;
    }

    std::vector<Modification> modified_;
    std::vector<Annotation> annotations_;
};

} // namespace historian
