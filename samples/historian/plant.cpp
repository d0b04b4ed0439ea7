#include "plant.h"

#include <cmath>

#include "attributes.h"
#include "opchda.h"

namespace historian {

namespace {

enum class Shape { Sine, Ramp, Step, Walk, Switch, Mode };

struct Tag
{
    const char *id;
    const wchar_t *description;
    const wchar_t *units;
    Shape shape;
    double base;      // centre (sine, walk), start (ramp), lowest step
    double amplitude; // sine amplitude, walk noise, ramp rise per period, step size
    double hours;     // period of the sine, the ramp or the steps
    double low, high; // normal range
};

const Tag kTags[] = {
    {"Plant.Area1.Boiler.Temperature", L"Boiler outlet temperature", L"degC", Shape::Sine, 180, 15, 6, 150, 210},
    {"Plant.Area1.Boiler.Pressure", L"Boiler drum pressure", L"bar", Shape::Walk, 12, 0.05, 0, 10, 14},
    {"Plant.Area1.Boiler.SteamFlow", L"Steam flow to the header", L"t/h", Shape::Sine, 42, 6, 3, 30, 55},
    {"Plant.Area1.Boiler.O2", L"Flue gas oxygen", L"%", Shape::Walk, 3.5, 0.02, 0, 2, 5},
    {"Plant.Area1.Boiler.BurnerOn", L"Burner running", L"", Shape::Switch, 0, 0, 5, 0, 1},
    {"Plant.Area1.Feedwater.Level", L"Feedwater tank level", L"%", Shape::Sine, 60, 20, 0.75, 20, 90},
    {"Plant.Area1.Feedwater.PumpSpeed", L"Feedwater pump speed set point", L"rpm", Shape::Step, 1200, 150, 2, 1200, 1800},
    {"Plant.Area1.Feedwater.Totalizer", L"Feedwater since midnight", L"m3", Shape::Ramp, 0, 960, 24, 0, 1000},
    {"Plant.Area2.Turbine.Speed", L"Turbine speed", L"rpm", Shape::Walk, 3000, 0.8, 0, 2950, 3050},
    {"Plant.Area2.Turbine.Power", L"Active power", L"MW", Shape::Sine, 85, 25, 12, 40, 120},
    {"Plant.Area2.Turbine.Vibration", L"Bearing vibration", L"mm/s", Shape::Walk, 2.5, 0.03, 0, 0, 7},
    {"Plant.Area2.Turbine.BearingTemp", L"Bearing temperature", L"degC", Shape::Sine, 65, 4, 8, 40, 90},
    {"Plant.Area2.Generator.Voltage", L"Generator terminal voltage", L"kV", Shape::Walk, 10.5, 0.01, 0, 10, 11},
    {"Plant.Area2.Generator.Frequency", L"Grid frequency", L"Hz", Shape::Walk, 50, 0.002, 0, 49.8, 50.2},
    {"Plant.Area2.Generator.Breaker", L"Generator breaker closed", L"", Shape::Switch, 0, 0, 11, 0, 1},
    {"Plant.Area3.Tank1.Level", L"Tank 1 level", L"m", Shape::Ramp, 0.5, 7, 4, 0, 8},
    {"Plant.Area3.Tank1.Temperature", L"Tank 1 temperature", L"degC", Shape::Sine, 35, 3, 5, 20, 50},
    {"Plant.Area3.Tank2.Level", L"Tank 2 level", L"m", Shape::Ramp, 1, 5, 7, 0, 8},
    {"Plant.Area3.Tank2.Temperature", L"Tank 2 temperature", L"degC", Shape::Sine, 40, 2, 9, 20, 50},
    {"Plant.Area3.Tank2.Valve", L"Tank 2 outlet valve position", L"%", Shape::Step, 0, 25, 1.5, 0, 100},
    {"Plant.Area3.Tank2.Mode", L"Tank 2 control mode", L"", Shape::Mode, 0, 0, 6, 0, 0},
    {"Plant.Area3.Ambient.Temperature", L"Outdoor temperature", L"degC", Shape::Sine, 12, 6, 24, -20, 40},
    {"Plant.Area3.Ambient.Humidity", L"Outdoor relative humidity", L"%", Shape::Walk, 65, 0.3, 0, 20, 100},
};

const double kPi = 3.14159265358979323846;
// Tags with quality troubles (indexes into kTags).
const uint64_t kVibration = 10, kHumidity = 22;

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A number in [0, 1) that depends only on its arguments.
double Unit(uint32_t seed, uint64_t tag, uint64_t n)
{
    return static_cast<double>(Mix(Mix(seed ^ (tag << 40)) ^ n) >> 11) / 9007199254740992.0;
}

double Hours(Ticks t) { return static_cast<double>(t) / kTicksPerHour; }

} // namespace

size_t GeneratePlant(const PlantOptions &options, Store *store)
{
    Ticks interval = options.interval == 0 ? kTicksPerMinute : options.interval;
    Ticks span = static_cast<Ticks>(options.days) * kTicksPerDay;
    Ticks last = options.end / interval * interval;
    Ticks first = last >= span ? (last - span + interval - 1) / interval * interval : 0;
    size_t count = static_cast<size_t>((last - first) / interval + 1);
    Ticks middle = first + (last - first) / 2;
    size_t added = 0;

    for (uint64_t k = 0; k < sizeof kTags / sizeof kTags[0]; ++k) {
        const Tag &tag = kTags[k];
        Series *series = store->Add(tag.id);
        if (series == nullptr)
            continue;
        ++added;
        ItemInfo info;
        info.description = tag.description;
        info.units = tag.units;
        info.type = tag.shape == Shape::Switch ? VT_BOOL : tag.shape == Shape::Mode ? VT_BSTR : VT_R8;
        info.stepped = tag.shape == Shape::Step || tag.shape == Shape::Switch ||
                       tag.shape == Shape::Mode;
        info.hasNormalRange = info.type == VT_R8;
        info.normalMaximum = tag.high;
        info.normalMinimum = tag.low;
        ApplyItemInfo(*series, info, first);
        if (info.type == VT_R8) {
            // The alarm limits were widened half-way through the span.
            double width = tag.high - tag.low;
            series->SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, first, Value(tag.high + 0.05 * width));
            series->SetAttribute(OPCHDA_LOW_ENTRY_LIMIT, first, Value(tag.low - 0.05 * width));
            series->SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, middle, Value(tag.high + 0.1 * width));
            series->SetAttribute(OPCHDA_LOW_ENTRY_LIMIT, middle, Value(tag.low - 0.1 * width));
        }

        Samples samples;
        samples.reserve(count);
        double walk = tag.base;
        const Ticks period = static_cast<Ticks>(tag.hours * kTicksPerHour);
        for (size_t i = 0; i < count; ++i) {
            Sample s;
            s.time = first + i * interval;
            Ticks slot = period != 0 ? s.time / period : 0;
            switch (tag.shape) {
            case Shape::Sine:
                s.value = Value(tag.base + tag.amplitude * std::sin(2 * kPi * Hours(s.time) / tag.hours +
                                                                    static_cast<double>(k)));
                break;
            case Shape::Ramp:
                s.value = Value(tag.base + tag.amplitude * static_cast<double>(s.time % period) /
                                               static_cast<double>(period));
                break;
            case Shape::Step:
                s.value = Value(tag.base + tag.amplitude * std::floor(Unit(options.seed, k, slot) * 5));
                break;
            case Shape::Walk: {
                // Mean-reverting walk; its noise scales with the sample interval.
                double steps = static_cast<double>(interval) / kTicksPerMinute;
                double noise = (Unit(options.seed, k, s.time / interval) * 2 - 1) * tag.amplitude *
                               std::sqrt(steps) * (tag.base != 0 ? std::fabs(tag.base) : 1);
                walk += 0.01 * steps * (tag.base - walk) + noise;
                s.value = Value(walk);
                break;
            }
            case Shape::Switch:
                s.value = Value::Bool(Unit(options.seed, k, slot) < 0.7);
                break;
            case Shape::Mode: {
                static const wchar_t *modes[] = {L"Auto", L"Manual", L"Cascade"};
                s.value = Value::Text(modes[static_cast<size_t>(Unit(options.seed, k, slot) * 3)]);
                break;
            }
            }
            // The vibration sensor's link drops for 10 minutes every 7 hours;
            // the humidity sensor reads beyond its range now and then.
            Ticks minute = s.time / kTicksPerMinute;
            if (k == kVibration && minute % 420 < 10) {
                s.value = Value();
                s.quality = OPCHDA_RAW | 0x18; // bad, communication failure
            } else if (k == kHumidity && Unit(options.seed, k + 100, minute) < 0.02) {
                s.quality = OPCHDA_RAW | 0x54; // uncertain, engineering units exceeded
            }
            samples.push_back(std::move(s));
        }
        series->Load(std::move(samples));
    }
    return added;
}

} // namespace historian
