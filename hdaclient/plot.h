// Trend plots as self-contained SVG documents (no script, no external
// reference): one line per series, a time axis in local time, one value axis
// per engineering unit (at most two), a legend, marks for values of bad and
// uncertain quality, and breaks where there is no data.
//
// Large series are reduced for drawing: within each pixel column a line
// keeps only its first, lowest, highest and last value (in time order), so
// the file stays small whatever the number of values while every spike
// stays visible. Bad and uncertain marks are kept once per column.
//
// The document carries what a reader needs to map it back to data: the plot
// area (class "plot-area") has data-start and data-end (ISO times, UTC), each
// value axis (class "value-axis") data-unit, data-min and data-max, and each
// line (class "series") and its marks data-series (the legend's label).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "times.h"

namespace zqhda {

enum class PointKind { Good, Uncertain, Bad, NoData };

struct PlotPoint
{
    Ticks time = 0;
    double value = 0;  // NaN when the value is not a number
    PointKind kind = PointKind::Good;
};

struct PlotSeries
{
    std::wstring label;        // "Plant.Boiler.Temperature (Average)"
    std::wstring description;  // the item's Description attribute
    std::wstring units;        // its Eng Units
    bool stepped = false;      // a value holds until the next one
    Ticks maxGap = 0;          // a longer spacing between values is a gap; 0: 10 times the median spacing
    std::vector<PlotPoint> points;
};

struct PlotOptions
{
    std::wstring title;
    Ticks start = 0, end = 0;  // the time axis (UTC), start < end
    int width = 960, height = 540;
};

// The kind of a value: the OPC HDA "no data" / "no bound" flags and other
// values without a number are gaps; otherwise bad, uncertain or good by the
// OPC quality (a bad value without a number is still marked).
PointKind KindOf(DWORD quality, bool hasNumber);

// Processed values as steps: each value holds over its resample interval,
// from its time to the next interval boundary after it (boundaries every
// `interval` from `start`, the last one cut at `end`), so an average is
// drawn over the raw values it averages, not ahead of them. Values without a
// number stay single points (gaps). Draw the result as a stepped series.
std::vector<PlotPoint> HoldOverIntervals(const std::vector<PlotPoint> &points, Ticks start, Ticks interval,
                                         Ticks end);

// Draws the series (points in ascending time). False, with `error`, when the
// series have more than two engineering units.
bool RenderSvg(const PlotOptions &options, const std::vector<PlotSeries> &series, std::string &svg,
               std::wstring &error);

// A file written completely or not at all: the text goes to a temporary file
// beside the target, which replaces the target at Commit(); a file that was
// not committed is deleted.
class AtomicFile
{
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (so that an unwritable place is known before
    // any work); false with a message.
    bool Open(const std::wstring &path, std::wstring &error);
    bool Commit(const std::string &bytes, std::wstring &error);
    // The full path of the target.
    const std::wstring &Path() const { return path_; }

private:
    std::wstring path_, temp_;
};

// "the system's text for the last error".
std::wstring LastErrorText(DWORD error);

}  // namespace zqhda
