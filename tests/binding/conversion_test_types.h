#pragma once

// Native records and enumerations used by the conversion and JSON tests, and their registration.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_registry.h"

namespace Korvel::ConversionTesting {

enum class Severity : std::int32_t { Info = 0, Warn = 1, Error = 2 };
enum class Tiny : std::int8_t { Low = -1, Zero = 0, High = 100 };
enum class Wide : std::int64_t { Minus = -2, Big = 7 };
// Never registered.
enum class Unlisted : std::int32_t { Only = 0 };

struct Inner {
    std::int32_t number = 0;
    std::string label;
    bool operator==(const Inner&) const = default;
};

struct Every {
    bool flag = false;
    std::int8_t i8 = 0;
    std::uint8_t u8 = 0;
    std::int16_t i16 = 0;
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::uint32_t u32 = 0;
    std::int64_t i64 = 0;
    std::uint64_t u64 = 0;
    float f32 = 0.0f;
    double f64 = 0.0;
    std::string text;
    BindingProperty object;
    std::vector<std::uint8_t> blob;
    Severity severity = Severity::Info;
    Tiny tiny = Tiny::Zero;
    Wide wide = Wide::Minus;
    Inner inner;
    std::vector<std::int32_t> numbers;
    std::vector<bool> bits;
    std::vector<std::string> texts;
    std::vector<Inner> inners;
    std::vector<Severity> severities;
    std::unordered_map<std::string, Inner> byName;
    std::unordered_map<std::string, double> weights;
    BindingCallback callback;
    std::optional<std::int32_t> maybe;
    std::optional<std::string> maybeText;
    std::vector<std::vector<std::int32_t>> grid;

    bool operator==(const Every& other) const {
        return flag == other.flag && i8 == other.i8 && u8 == other.u8 && i16 == other.i16 &&
               u16 == other.u16 && i32 == other.i32 && u32 == other.u32 && i64 == other.i64 &&
               u64 == other.u64 && f32 == other.f32 && f64 == other.f64 && text == other.text &&
               object == other.object && blob == other.blob && severity == other.severity &&
               tiny == other.tiny && wide == other.wide && inner == other.inner &&
               numbers == other.numbers && bits == other.bits && texts == other.texts &&
               inners == other.inners && severities == other.severities && byName == other.byName &&
               weights == other.weights && callback == other.callback && maybe == other.maybe &&
               maybeText == other.maybeText && grid == other.grid;
    }
};

// Fields with flags: a required one and default-omitting ones.
struct Flagged {
    std::int32_t first = 0;
    std::int32_t needed = 0;
    std::int32_t omitted = 0;
    std::string omittedText;
    std::int32_t last = 0;
};

// Three fields converted in order, for partial assignment.
struct Ordered {
    std::int32_t a = 0;
    std::int8_t b = 0;
    std::int32_t c = 0;
};

// A record that contains itself.
struct Node {
    std::string name;
    std::vector<Node> children;
};

// An enum field whose enumeration is not registered, and a struct field whose record is
// registered only later.
struct Orphans {
    Unlisted unlisted = Unlisted::Only;
    Inner late;
};

} // namespace Korvel::ConversionTesting

KORVEL_STATIC_TYPE(enum, Korvel::ConversionTesting::Severity)
KORVEL_STATIC_TYPE(enum, Korvel::ConversionTesting::Tiny)
KORVEL_STATIC_TYPE(enum, Korvel::ConversionTesting::Wide)
KORVEL_STATIC_TYPE(enum, Korvel::ConversionTesting::Unlisted)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Inner)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Every)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Flagged)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Ordered)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Node)
KORVEL_STATIC_TYPE(struct, Korvel::ConversionTesting::Orphans)

namespace Korvel::ConversionTesting {

// Registers every type above except Unlisted (and Orphans before Inner).
inline void RegisterConversionTypes(BindingRegistry& registry) {
    {
        auto orphans = registry.RegisterStruct<Orphans>("Orphans");
        KORVEL_BINDING_FIELD(orphans, Orphans, unlisted, "unlisted", "", 0);
        KORVEL_BINDING_FIELD(orphans, Orphans, late, "late", "", 0);
    }
    registry.RegisterEnum<Severity>("Severity")
        .AddValue("info", 0)
        .AddValue("warn", 1)
        .AddValue("error", 2);
    registry.RegisterEnum<Tiny>("Tiny").AddValue("low", -1).AddValue("zero", 0).AddValue("high",
                                                                                         100);
    registry.RegisterEnum<Wide>("Wide").AddValue("minus", -2).AddValue("big", 7);
    {
        auto inner = registry.RegisterStruct<Inner>("Inner");
        KORVEL_BINDING_FIELD(inner, Inner, number, "number", "", 0);
        KORVEL_BINDING_FIELD(inner, Inner, label, "label", "", 0);
    }
    {
        auto every = registry.RegisterStruct<Every>("Every");
        KORVEL_BINDING_FIELD(every, Every, flag, "flag", "", 0);
        KORVEL_BINDING_FIELD(every, Every, i8, "i8", "", 0);
        KORVEL_BINDING_FIELD(every, Every, u8, "u8", "", 0);
        KORVEL_BINDING_FIELD(every, Every, i16, "i16", "", 0);
        KORVEL_BINDING_FIELD(every, Every, u16, "u16", "", 0);
        KORVEL_BINDING_FIELD(every, Every, i32, "i32", "", 0);
        KORVEL_BINDING_FIELD(every, Every, u32, "u32", "", 0);
        KORVEL_BINDING_FIELD(every, Every, i64, "i64", "", 0);
        KORVEL_BINDING_FIELD(every, Every, u64, "u64", "", 0);
        KORVEL_BINDING_FIELD(every, Every, f32, "f32", "", 0);
        KORVEL_BINDING_FIELD(every, Every, f64, "f64", "", 0);
        KORVEL_BINDING_FIELD(every, Every, text, "text", "", 0);
        KORVEL_BINDING_FIELD(every, Every, object, "object", "", 0);
        KORVEL_BINDING_FIELD(every, Every, blob, "blob", "", 0);
        KORVEL_BINDING_FIELD(every, Every, severity, "severity", "", 0);
        KORVEL_BINDING_FIELD(every, Every, tiny, "tiny", "", 0);
        KORVEL_BINDING_FIELD(every, Every, wide, "wide", "", 0);
        KORVEL_BINDING_FIELD(every, Every, inner, "inner", "", 0);
        KORVEL_BINDING_FIELD(every, Every, numbers, "numbers", "", 0);
        KORVEL_BINDING_FIELD(every, Every, bits, "bits", "", 0);
        KORVEL_BINDING_FIELD(every, Every, texts, "texts", "", 0);
        KORVEL_BINDING_FIELD(every, Every, inners, "inners", "", 0);
        KORVEL_BINDING_FIELD(every, Every, severities, "severities", "", 0);
        KORVEL_BINDING_FIELD(every, Every, byName, "byName", "", 0);
        KORVEL_BINDING_FIELD(every, Every, weights, "weights", "", 0);
        KORVEL_BINDING_FIELD(every, Every, callback, "callback", "", 0);
        KORVEL_BINDING_FIELD(every, Every, maybe, "maybe", "", 0);
        KORVEL_BINDING_FIELD(every, Every, maybeText, "maybeText", "", 0);
        KORVEL_BINDING_FIELD(every, Every, grid, "grid", "", 0);
    }
    {
        auto flagged = registry.RegisterStruct<Flagged>("Flagged");
        KORVEL_BINDING_FIELD(flagged, Flagged, first, "first", "", 0);
        KORVEL_BINDING_FIELD(flagged, Flagged, needed, "needed", "", kBindingRequired);
        KORVEL_BINDING_FIELD(flagged, Flagged, omitted, "omitted", "", kBindingOmitDefault);
        KORVEL_BINDING_FIELD(flagged, Flagged, omittedText, "omittedText", "", kBindingOmitDefault);
        KORVEL_BINDING_FIELD(flagged, Flagged, last, "last", "", 0);
    }
    {
        auto ordered = registry.RegisterStruct<Ordered>("Ordered");
        KORVEL_BINDING_FIELD(ordered, Ordered, a, "a", "", 0);
        KORVEL_BINDING_FIELD(ordered, Ordered, b, "b", "", 0);
        KORVEL_BINDING_FIELD(ordered, Ordered, c, "c", "", 0);
    }
    {
        auto node = registry.RegisterStruct<Node>("Node");
        KORVEL_BINDING_FIELD(node, Node, name, "name", "", 0);
        KORVEL_BINDING_FIELD(node, Node, children, "children", "", 0);
    }
}

// A record with a distinct, non-default value in every field.
inline Every SampleEvery() {
    Every every;
    every.flag = true;
    every.i8 = -128;
    every.u8 = 255;
    every.i16 = -32768;
    every.u16 = 65535;
    every.i32 = -2147483647 - 1;
    every.u32 = 4294967295u;
    every.i64 = INT64_MIN;
    every.u64 = UINT64_MAX;
    every.f32 = 0.1f;
    every.f64 = 1e300;
    every.text = "h\xC3\xA9llo \"w\"\n\t\\";
    every.object.Member("nested").Append() = std::int64_t{-5};
    every.object.Member("flag") = true;
    every.blob = {0, 1, 2, 0xFE, 0xFF};
    every.severity = Severity::Error;
    every.tiny = Tiny::Low;
    every.wide = Wide::Big;
    every.inner = {7, "seven"};
    every.numbers = {3, -1, 4};
    every.bits = {true, false, true, true};
    every.texts = {"a", "", "c"};
    every.inners = {{1, "one"}, {2, "two"}};
    every.severities = {Severity::Warn, Severity::Info};
    every.byName = {{"x", {10, "ten"}}, {"y", {11, ""}}};
    every.weights = {{"light", 0.25}, {"heavy", -1.5e10}};
    every.callback.id = 42;
    every.maybe = 9;
    every.maybeText = "present";
    every.grid = {{1, 2}, {}, {3}};
    return every;
}

} // namespace Korvel::ConversionTesting
