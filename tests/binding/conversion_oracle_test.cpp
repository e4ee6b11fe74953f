// Property-based checks of the native <-> dynamic conversions: random native records survive the
// trip through a BindingProperty, through a HostValue and through JSON text, and every field kind
// assigned from every input kind at and around its limits agrees with an oracle written here from
// the conversion rules (which message, which placeholders, which stored value). The generator is
// seeded, so every run sees the same values.

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "binding/convert_to_property.h"
#include "binding/host_value_conversion.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"

namespace Korvel::OracleTesting {

enum class Mood : std::int16_t { Calm = 0, Glad = 3, Sad = -7 };
enum class Small : std::int8_t { Low = -128, Zero = 0, High = 127 };
enum class Huge : std::int64_t { Minus = -5, Plus = 9 };

struct Leaf {
    std::int32_t n = 0;
    std::string s;
    Mood mood = Mood::Calm;
    std::optional<double> weight;
};

struct All {
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
    std::vector<std::uint8_t> blob;
    Mood mood = Mood::Calm;
    Small small = Small::Zero;
    Huge huge = Huge::Minus;
    std::optional<std::int32_t> maybe;
    std::optional<Leaf> maybeLeaf;
    std::vector<std::int64_t> ints;
    std::vector<bool> bits;
    std::vector<std::string> texts;
    std::vector<std::optional<std::int32_t>> holes;
    std::unordered_map<std::string, std::uint32_t> counts;
    Leaf leaf;
    std::vector<Leaf> leaves;
    std::unordered_map<std::string, Leaf> leafByName;
    std::vector<std::vector<Small>> grid;
    std::unordered_map<std::string, std::vector<double>> series;
    std::vector<std::vector<Leaf>> leafGrid;
    std::vector<std::optional<Leaf>> maybeLeaves;
    std::unordered_map<std::string, std::vector<Mood>> moodsByName;
    std::optional<std::vector<Leaf>> maybeList;
};

// Two fields registered in the opposite order of their names.
struct Pair {
    std::int8_t zeta = 0;
    std::uint8_t alpha = 0;
};

// A record inside a record inside a vector, for the deepest failing field.
struct Outer {
    std::string title;
    std::vector<Leaf> leaves;
    std::int32_t tail = 0;
};

} // namespace Korvel::OracleTesting

KORVEL_STATIC_TYPE(enum, Korvel::OracleTesting::Mood)
KORVEL_STATIC_TYPE(enum, Korvel::OracleTesting::Small)
KORVEL_STATIC_TYPE(enum, Korvel::OracleTesting::Huge)
KORVEL_STATIC_TYPE(struct, Korvel::OracleTesting::Leaf)
KORVEL_STATIC_TYPE(struct, Korvel::OracleTesting::All)
KORVEL_STATIC_TYPE(struct, Korvel::OracleTesting::Pair)
KORVEL_STATIC_TYPE(struct, Korvel::OracleTesting::Outer)

namespace Korvel::OracleTesting {
namespace {

void Register(BindingRegistry& registry) {
    registry.RegisterEnum<Mood>("Mood").AddValue("calm", 0).AddValue("glad", 3).AddValue("sad", -7);
    registry.RegisterEnum<Small>("Small")
        .AddValue("low", -128)
        .AddValue("zero", 0)
        .AddValue("high", 127);
    registry.RegisterEnum<Huge>("Huge").AddValue("minus", -5).AddValue("plus", 9);
    {
        auto leaf = registry.RegisterStruct<Leaf>("Leaf");
        KORVEL_BINDING_FIELD(leaf, Leaf, n, "n", "", 0);
        KORVEL_BINDING_FIELD(leaf, Leaf, s, "s", "", 0);
        KORVEL_BINDING_FIELD(leaf, Leaf, mood, "mood", "", 0);
        KORVEL_BINDING_FIELD(leaf, Leaf, weight, "weight", "", 0);
    }
    {
        auto all = registry.RegisterStruct<All>("All");
        KORVEL_BINDING_FIELD(all, All, flag, "flag", "", 0);
        KORVEL_BINDING_FIELD(all, All, i8, "i8", "", 0);
        KORVEL_BINDING_FIELD(all, All, u8, "u8", "", 0);
        KORVEL_BINDING_FIELD(all, All, i16, "i16", "", 0);
        KORVEL_BINDING_FIELD(all, All, u16, "u16", "", 0);
        KORVEL_BINDING_FIELD(all, All, i32, "i32", "", 0);
        KORVEL_BINDING_FIELD(all, All, u32, "u32", "", 0);
        KORVEL_BINDING_FIELD(all, All, i64, "i64", "", 0);
        KORVEL_BINDING_FIELD(all, All, u64, "u64", "", 0);
        KORVEL_BINDING_FIELD(all, All, f32, "f32", "", 0);
        KORVEL_BINDING_FIELD(all, All, f64, "f64", "", 0);
        KORVEL_BINDING_FIELD(all, All, text, "text", "", 0);
        KORVEL_BINDING_FIELD(all, All, blob, "blob", "", 0);
        KORVEL_BINDING_FIELD(all, All, mood, "mood", "", 0);
        KORVEL_BINDING_FIELD(all, All, small, "small", "", 0);
        KORVEL_BINDING_FIELD(all, All, huge, "huge", "", 0);
        KORVEL_BINDING_FIELD(all, All, maybe, "maybe", "", 0);
        KORVEL_BINDING_FIELD(all, All, maybeLeaf, "maybeLeaf", "", 0);
        KORVEL_BINDING_FIELD(all, All, ints, "ints", "", 0);
        KORVEL_BINDING_FIELD(all, All, bits, "bits", "", 0);
        KORVEL_BINDING_FIELD(all, All, texts, "texts", "", 0);
        KORVEL_BINDING_FIELD(all, All, holes, "holes", "", 0);
        KORVEL_BINDING_FIELD(all, All, counts, "counts", "", 0);
        KORVEL_BINDING_FIELD(all, All, leaf, "leaf", "", 0);
        KORVEL_BINDING_FIELD(all, All, leaves, "leaves", "", 0);
        KORVEL_BINDING_FIELD(all, All, leafByName, "leafByName", "", 0);
        KORVEL_BINDING_FIELD(all, All, grid, "grid", "", 0);
        KORVEL_BINDING_FIELD(all, All, series, "series", "", 0);
        KORVEL_BINDING_FIELD(all, All, leafGrid, "leafGrid", "", 0);
        KORVEL_BINDING_FIELD(all, All, maybeLeaves, "maybeLeaves", "", 0);
        KORVEL_BINDING_FIELD(all, All, moodsByName, "moodsByName", "", 0);
        KORVEL_BINDING_FIELD(all, All, maybeList, "maybeList", "", 0);
    }
    {
        auto pair = registry.RegisterStruct<Pair>("Pair");
        KORVEL_BINDING_FIELD(pair, Pair, zeta, "zeta", "", 0);
        KORVEL_BINDING_FIELD(pair, Pair, alpha, "alpha", "", 0);
    }
    {
        auto outer = registry.RegisterStruct<Outer>("Outer");
        KORVEL_BINDING_FIELD(outer, Outer, title, "title", "", 0);
        KORVEL_BINDING_FIELD(outer, Outer, leaves, "leaves", "", 0);
        KORVEL_BINDING_FIELD(outer, Outer, tail, "tail", "", 0);
    }
}

// --- Comparison -----------------------------------------------------------------------------

// Floating-point values compare by their bits, so that -0.0 and 0.0 differ.
template <typename F>
bool SameBits(F a, F b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool Same(const Leaf& a, const Leaf& b) {
    return a.n == b.n && a.s == b.s && a.mood == b.mood &&
           a.weight.has_value() == b.weight.has_value() &&
           (!a.weight || SameBits(*a.weight, *b.weight));
}

bool Same(const std::vector<Leaf>& a, const std::vector<Leaf>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!Same(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

bool Same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!SameBits(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

template <typename V, typename Compare>
bool SameMap(const std::unordered_map<std::string, V>& a,
             const std::unordered_map<std::string, V>& b, Compare compare) {
    if (a.size() != b.size()) {
        return false;
    }
    for (const auto& [key, value] : a) {
        const auto found = b.find(key);
        if (found == b.end() || !compare(value, found->second)) {
            return false;
        }
    }
    return true;
}

// Lists the fields in which two records differ ("" when they are the same).
std::string Differences(const All& a, const All& b) {
    std::string out;
    const auto check = [&](bool same, const char* name) {
        if (!same) {
            out += std::string(out.empty() ? "" : ", ") + name;
        }
    };
    check(a.flag == b.flag, "flag");
    check(a.i8 == b.i8, "i8");
    check(a.u8 == b.u8, "u8");
    check(a.i16 == b.i16, "i16");
    check(a.u16 == b.u16, "u16");
    check(a.i32 == b.i32, "i32");
    check(a.u32 == b.u32, "u32");
    check(a.i64 == b.i64, "i64");
    check(a.u64 == b.u64, "u64");
    check(SameBits(a.f32, b.f32), "f32");
    check(SameBits(a.f64, b.f64), "f64");
    check(a.text == b.text, "text");
    check(a.blob == b.blob, "blob");
    check(a.mood == b.mood, "mood");
    check(a.small == b.small, "small");
    check(a.huge == b.huge, "huge");
    check(a.maybe == b.maybe, "maybe");
    check(a.maybeLeaf.has_value() == b.maybeLeaf.has_value() &&
              (!a.maybeLeaf || Same(*a.maybeLeaf, *b.maybeLeaf)),
          "maybeLeaf");
    check(a.ints == b.ints, "ints");
    check(a.bits == b.bits, "bits");
    check(a.texts == b.texts, "texts");
    check(a.holes == b.holes, "holes");
    check(a.counts == b.counts, "counts");
    check(Same(a.leaf, b.leaf), "leaf");
    check(Same(a.leaves, b.leaves), "leaves");
    check(SameMap(a.leafByName, b.leafByName,
                  [](const Leaf& x, const Leaf& y) { return Same(x, y); }),
          "leafByName");
    check(a.grid == b.grid, "grid");
    check(SameMap(a.series, b.series,
                  [](const std::vector<double>& x, const std::vector<double>& y) {
                      return Same(x, y);
                  }),
          "series");
    check(a.leafGrid.size() == b.leafGrid.size() &&
              std::equal(a.leafGrid.begin(), a.leafGrid.end(), b.leafGrid.begin(),
                         [](const std::vector<Leaf>& x, const std::vector<Leaf>& y) {
                             return Same(x, y);
                         }),
          "leafGrid");
    check(a.maybeLeaves.size() == b.maybeLeaves.size() &&
              std::equal(a.maybeLeaves.begin(), a.maybeLeaves.end(), b.maybeLeaves.begin(),
                         [](const std::optional<Leaf>& x, const std::optional<Leaf>& y) {
                             return x.has_value() == y.has_value() && (!x || Same(*x, *y));
                         }),
          "maybeLeaves");
    check(a.moodsByName == b.moodsByName, "moodsByName");
    check(a.maybeList.has_value() == b.maybeList.has_value() &&
              (!a.maybeList || Same(*a.maybeList, *b.maybeList)),
          "maybeList");
    return out;
}

// --- Random native values -------------------------------------------------------------------

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::uint64_t Bits() { return rng_(); }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(rng_() % bound); }
    bool Chance(std::size_t oneIn) { return Below(oneIn) == 0; }

    // Integers favour their limits and the values next to them.
    template <typename T>
    T Integer() {
        using Limits = std::numeric_limits<T>;
        switch (Below(6)) {
        case 0: {
            const T picks[] = {Limits::min(),
                               static_cast<T>(Limits::min() + 1),
                               Limits::max(),
                               static_cast<T>(Limits::max() - 1),
                               T{0},
                               T{1},
                               static_cast<T>(-1)};
            return picks[Below(sizeof picks / sizeof picks[0])];
        }
        case 1:
            return static_cast<T>(static_cast<std::int64_t>(Below(200)) -
                                  (Limits::is_signed ? 100 : 0));
        default:
            return static_cast<T>(Bits());
        }
    }

    // Finite values only (JSON has no text for the others): random bit patterns and the values
    // at the ends of the range.
    template <typename F>
    F Finite() {
        using Limits = std::numeric_limits<F>;
        if (Chance(4)) {
            const F picks[] = {F(0),
                               -F(0),
                               Limits::max(),
                               -Limits::max(),
                               Limits::min(),
                               Limits::denorm_min(),
                               -Limits::denorm_min(),
                               F(1) / F(3),
                               F(9007199254740993.0),
                               F(1e20)};
            return picks[Below(sizeof picks / sizeof picks[0])];
        }
        for (;;) {
            F value;
            if constexpr (sizeof(F) == 4) {
                const auto bits = static_cast<std::uint32_t>(Bits());
                std::memcpy(&value, &bits, sizeof value);
            } else {
                const std::uint64_t bits = Bits();
                std::memcpy(&value, &bits, sizeof value);
            }
            if (std::isfinite(value)) {
                return value;
            }
        }
    }

    // Texts of any byte but zero, sometimes empty, sometimes plain letters.
    std::string Text() {
        std::string text(Below(12), ' ');
        const bool plain = Chance(2);
        for (char& c : text) {
            c = plain ? static_cast<char>('a' + Below(26)) : static_cast<char>(1 + Below(255));
        }
        return text;
    }

    std::vector<std::uint8_t> Bytes() {
        std::vector<std::uint8_t> bytes(Below(20));
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(Bits());
        }
        return bytes;
    }

    template <typename E>
    E OneOf(std::initializer_list<E> values) {
        return values.begin()[Below(values.size())];
    }

    Leaf MakeLeaf() {
        Leaf leaf;
        leaf.n = Integer<std::int32_t>();
        leaf.s = Text();
        leaf.mood = OneOf({Mood::Calm, Mood::Glad, Mood::Sad});
        if (Chance(2)) {
            leaf.weight = Finite<double>();
        }
        return leaf;
    }

    All MakeAll() {
        All all;
        all.flag = Chance(2);
        all.i8 = Integer<std::int8_t>();
        all.u8 = Integer<std::uint8_t>();
        all.i16 = Integer<std::int16_t>();
        all.u16 = Integer<std::uint16_t>();
        all.i32 = Integer<std::int32_t>();
        all.u32 = Integer<std::uint32_t>();
        all.i64 = Integer<std::int64_t>();
        all.u64 = Integer<std::uint64_t>();
        all.f32 = Finite<float>();
        all.f64 = Finite<double>();
        all.text = Text();
        all.blob = Bytes();
        all.mood = OneOf({Mood::Calm, Mood::Glad, Mood::Sad});
        all.small = OneOf({Small::Low, Small::Zero, Small::High});
        all.huge = OneOf({Huge::Minus, Huge::Plus});
        if (Chance(2)) {
            all.maybe = Integer<std::int32_t>();
        }
        if (Chance(2)) {
            all.maybeLeaf = MakeLeaf();
        }
        for (std::size_t i = Below(6); i > 0; --i) {
            all.ints.push_back(Integer<std::int64_t>());
        }
        for (std::size_t i = Below(12); i > 0; --i) {
            all.bits.push_back(Chance(2));
        }
        for (std::size_t i = Below(4); i > 0; --i) {
            all.texts.push_back(Text());
        }
        for (std::size_t i = Below(6); i > 0; --i) {
            all.holes.push_back(Chance(3) ? std::nullopt
                                          : std::optional<std::int32_t>(Integer<std::int32_t>()));
        }
        for (std::size_t i = Below(4); i > 0; --i) {
            all.counts[Text()] = Integer<std::uint32_t>();
        }
        all.leaf = MakeLeaf();
        for (std::size_t i = Below(4); i > 0; --i) {
            all.leaves.push_back(MakeLeaf());
        }
        for (std::size_t i = Below(3); i > 0; --i) {
            all.leafByName[Text()] = MakeLeaf();
        }
        for (std::size_t i = Below(3); i > 0; --i) {
            std::vector<Small> row;
            for (std::size_t j = Below(4); j > 0; --j) {
                row.push_back(OneOf({Small::Low, Small::Zero, Small::High}));
            }
            all.grid.push_back(row);
        }
        for (std::size_t i = Below(3); i > 0; --i) {
            std::vector<double>& values = all.series[Text()];
            for (std::size_t j = Below(4); j > 0; --j) {
                values.push_back(Finite<double>());
            }
        }
        for (std::size_t i = Below(3); i > 0; --i) {
            std::vector<Leaf>& row = all.leafGrid.emplace_back();
            for (std::size_t j = Below(3); j > 0; --j) {
                row.push_back(MakeLeaf());
            }
        }
        for (std::size_t i = Below(4); i > 0; --i) {
            all.maybeLeaves.push_back(Chance(3) ? std::nullopt : std::optional<Leaf>(MakeLeaf()));
        }
        for (std::size_t i = Below(3); i > 0; --i) {
            std::vector<Mood>& moods = all.moodsByName[Text()];
            for (std::size_t j = Below(4); j > 0; --j) {
                moods.push_back(OneOf({Mood::Calm, Mood::Glad, Mood::Sad}));
            }
        }
        if (Chance(2)) {
            all.maybeList.emplace();
            for (std::size_t i = Below(3); i > 0; --i) {
                all.maybeList->push_back(MakeLeaf());
            }
        }
        return all;
    }

private:
    std::mt19937_64 rng_;
};

constexpr std::uint64_t kSeed = 0x5EED0C0FFEE12345ull;
constexpr int kRounds = 300;

class ConversionOracle : public ::testing::Test {
protected:
    ConversionOracle() { Register(registry); }

    BindingProperty ToDynamic(const All& source) {
        BindingResult output;
        ToProperty(output, source, registry);
        EXPECT_TRUE(output.IsSuccess()) << output.GetError();
        return std::move(output.value);
    }

    All FromDynamic(const BindingProperty& input) {
        All all;
        BindingResult status;
        FromProperty(status, all, input, "<value>", registry);
        EXPECT_TRUE(status.IsSuccess()) << status.GetError();
        return all;
    }

    // The trip through a HostValue, with or without a registry to name enumerators.
    BindingProperty ThroughHost(const BindingProperty& value, const BindingRegistry* names) {
        HostValue host{};
        ToHostValue(host, value, names);
        HostValueResult error;
        BindingProperty back;
        EXPECT_TRUE(FromHostValue(error, back, host, "<result>")) << error.Message();
        ReleaseHostValue(host);
        return back;
    }

    BindingRegistry registry;
};

// --- Round trips ----------------------------------------------------------------------------

TEST_F(ConversionOracle, RandomRecordsSurviveEveryTrip) {
    Generator generator(kSeed);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const All source = generator.MakeAll();
        const BindingProperty dynamic = ToDynamic(source);

        // Native -> property -> native.
        EXPECT_EQ(Differences(source, FromDynamic(dynamic)), "");

        // ... -> host value -> property -> native; with a registry enumerators travel as their
        // names, without one as numbers. Without enumerators in the way the property is the same.
        const BindingProperty named = ThroughHost(dynamic, &registry);
        EXPECT_EQ(Differences(source, FromDynamic(named)), "");
        const BindingProperty numbered = ThroughHost(dynamic, nullptr);
        EXPECT_EQ(Differences(source, FromDynamic(numbered)), "");
        EXPECT_EQ(ThroughHost(dynamic.Member("blob"), nullptr), dynamic.Member("blob"));
        EXPECT_EQ(ThroughHost(dynamic.Member("series"), nullptr), dynamic.Member("series"));

        // ... -> JSON text -> property -> native, compact and pretty, enumerators by name.
        for (const char* separator : {static_cast<const char*>(nullptr), "\r\n"}) {
            const std::string json = WriteJson(dynamic, &registry, separator);
            const BindingResult read = ReadJson(json);
            ASSERT_TRUE(read.IsSuccess()) << read.GetError() << "\n" << json;
            EXPECT_EQ(Differences(source, FromDynamic(read.value)), "") << json;
        }
        // Without a registry enumerators are written as their numbers, which convert back too.
        const std::string numbers = WriteJson(dynamic);
        EXPECT_EQ(Differences(source, FromDynamic(ReadJson(numbers).value)), "") << numbers;
    }
}

// Values that JSON cannot carry still survive the other two trips, NaN payload and sign included.
TEST_F(ConversionOracle, NonFiniteValuesSurviveThePropertyAndHostTrips) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double value : {nan, -nan, inf, -inf, -0.0}) {
        All source;
        source.f64 = value;
        source.f32 = static_cast<float>(value);
        source.leaf.weight = value;
        const BindingProperty dynamic = ToDynamic(source);
        // A NaN is never out of range; an infinity is.
        if (std::isinf(value)) {
            BindingResult status;
            All target;
            FromProperty(status, target, dynamic, "<value>", registry);
            EXPECT_EQ(status.GetError(), std::string("Value ") + (value > 0 ? "inf" : "-inf") +
                                             " for 'f32' of type float is out of range");
            continue;
        }
        EXPECT_EQ(Differences(source, FromDynamic(dynamic)), "") << value;
        EXPECT_EQ(Differences(source, FromDynamic(ThroughHost(dynamic, &registry))), "") << value;
    }
}

// Random trees of every kind: through a HostValue and back they are the same, except that an
// enumeration value arrives as its enumerator's name when the registry has one and as its
// sign-extended 32-bit value otherwise. Every text and member name of the host value is a
// terminated copy whose stated length is the text's own.
BindingProperty RandomTree(Generator& generator, int depth) {
    BindingProperty value;
    switch (generator.Below(depth > 3 ? 8 : 10)) {
    case 0:
        break;
    case 1:
        value.SetBool(generator.Chance(2));
        break;
    case 2:
        value.SetSigned(generator.Integer<std::int64_t>());
        break;
    case 3:
        value.SetUnsigned(generator.Integer<std::uint64_t>());
        break;
    case 4: {
        const std::uint64_t bits = generator.Bits();
        double real;
        std::memcpy(&real, &bits, sizeof real);
        value.SetFloat(std::isnan(real) ? -0.0 : real);
        break;
    }
    case 5:
        value.SetString(generator.Text());
        break;
    case 6:
        value.SetBlob(generator.Bytes());
        break;
    case 7: {
        const std::int32_t values[] = {0, 3, -7, 5, INT32_MIN};
        value.SetEnum(values[generator.Below(5)], generator.Chance(4)
                                                      ? StaticType::Identity<All>()
                                                      : StaticType::Identity<Mood>());
        break;
    }
    case 8:
        value.MakeCollection();
        for (std::size_t i = generator.Below(5); i > 0; --i) {
            value.Append() = RandomTree(generator, depth + 1);
        }
        break;
    default:
        value.MakeStructure();
        for (std::size_t i = generator.Below(5); i > 0; --i) {
            value.Member(generator.Text()) = RandomTree(generator, depth + 1);
        }
        break;
    }
    return value;
}

// What the trip through a HostValue makes of `value`.
BindingProperty AfterHostTrip(const BindingProperty& value, const BindingRegistry* registry) {
    BindingProperty expected;
    switch (value.Kind()) {
    case BindingKind::Enum: {
        const BindingEnumRecord record = value.GetEnum();
        const char* name = registry != nullptr && record.type == &StaticType::Identity<Mood>()
                               ? (record.value == 0    ? "calm"
                                  : record.value == 3  ? "glad"
                                  : record.value == -7 ? "sad"
                                                       : nullptr)
                               : nullptr;
        if (name != nullptr) {
            expected.SetString(name);
        } else {
            expected.SetSigned(record.value);
        }
        break;
    }
    case BindingKind::Collection:
        expected.MakeCollection();
        for (const BindingProperty& element : value.Elements()) {
            expected.Append() = AfterHostTrip(element, registry);
        }
        break;
    case BindingKind::Structure:
        expected.MakeStructure();
        for (const auto member : value.Members()) {
            expected.Member(member.name) = AfterHostTrip(member.value, registry);
        }
        break;
    default:
        expected = value;
        break;
    }
    return expected;
}

void CheckHostTexts(const HostValue& host) {
    switch (static_cast<HostValueKind>(host.kind)) {
    case HostValueKind::OwnedText: {
        // The record is packed: its fields are copied before the checks take them by reference.
        const char* const data = host.payload.text.data;
        const std::uint32_t length = host.payload.text.length;
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::strlen(data), length);
        break;
    }
    case HostValueKind::Collection:
        for (std::uint32_t i = 0; i < host.payload.collection.count; ++i) {
            CheckHostTexts(host.payload.collection.items[i]);
        }
        break;
    case HostValueKind::Structure:
        for (std::uint32_t i = 0; i < host.payload.structure.count; ++i) {
            const HostValueMember& member = host.payload.structure.members[i];
            const char* const name = member.name;
            const auto ownsName = member.ownsName;
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(ownsName, 1);
            if (i > 0) {
                EXPECT_LT(CompareBindingNames(host.payload.structure.members[i - 1].name, name), 0);
            }
            CheckHostTexts(member.value);
        }
        break;
    case HostValueKind::Empty:
    case HostValueKind::Bool:
    case HostValueKind::Signed:
    case HostValueKind::Unsigned:
    case HostValueKind::Float:
    case HostValueKind::OwnedBytes:
        break;
    default:
        ADD_FAILURE() << "kind " << host.kind;
    }
}

TEST_F(ConversionOracle, RandomTreesSurviveTheHostValueTrip) {
    Generator generator(kSeed ^ 4);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const BindingProperty tree = RandomTree(generator, 0);
        for (const BindingRegistry* names : {static_cast<const BindingRegistry*>(nullptr),
                                             static_cast<const BindingRegistry*>(&registry)}) {
            HostValue host{};
            ToHostValue(host, tree, names);
            CheckHostTexts(host);
            HostValueResult error;
            BindingProperty back;
            ASSERT_TRUE(FromHostValue(error, back, host, "<result>")) << error.Message();
            ReleaseHostValue(host);
            EXPECT_EQ(host.kind, 0u);
            EXPECT_EQ(back, AfterHostTrip(tree, names)) << WriteJson(tree);
        }
    }
}

// --- The oracle -----------------------------------------------------------------------------

// What a conversion must do: the message ("" for success) and, on success, the value.
struct Expected {
    std::string message;
    // Integer results as sign and magnitude; floating-point results in `real`.
    bool negative = false;
    std::uint64_t magnitude = 0;
    double real = 0.0;
};

std::string Decimal(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

std::string Decimal(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

// A double as messages show it.
std::string Shown(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

const char* InputKindName(const BindingProperty& input) {
    static const char* const names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                        "string", "blob", "enum",   "collection", "structure"};
    return names[static_cast<int>(input.Kind())];
}

std::string Required() {
    return "A value for 'f' is required.";
}
std::string InvalidType(const char* field, const BindingProperty& input) {
    return std::string("Couldn't assign value to 'f' of type ") + field +
           " because the input is of an invalid type " + InputKindName(input) + ".";
}
std::string OutOfRange(const std::string& shown, const char* field) {
    return "Value " + shown + " for 'f' of type " + field + " is out of range";
}
std::string BadFormat(const std::string& text, const char* field) {
    return "Value " + text + " for 'f' of type " + field + " is in an incorrect format";
}

// The C library's reading of an integer text with automatic base, written out: leading blanks,
// a sign, "0x"/"0X" before at least one hex digit for base 16, a leading "0" for base 8, else
// base 10. A text without digits converts nothing, so all of it is left over.
struct ParsedInteger {
    bool leftover = false;
    bool negative = false;
    bool saturated = false; // the magnitude exceeded 64 bits
    std::uint64_t magnitude = 0;
};

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

ParsedInteger ParseInteger(const std::string& text) {
    ParsedInteger parsed;
    std::size_t p = 0;
    while (p < text.size() && std::strchr(" \t\n\v\f\r", text[p]) != nullptr && text[p] != 0) {
        ++p;
    }
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        parsed.negative = text[p] == '-';
        ++p;
    }
    unsigned base = 10;
    if (p < text.size() && text[p] == '0') {
        base = 8;
        if (p + 2 < text.size() && (text[p + 1] == 'x' || text[p + 1] == 'X') &&
            DigitValue(text[p + 2]) < 16) {
            base = 16;
            p += 2;
        }
    }
    std::size_t digits = 0;
    while (p < text.size() && DigitValue(text[p]) < static_cast<int>(base)) {
        const auto digit = static_cast<std::uint64_t>(DigitValue(text[p]));
        if (parsed.magnitude > (UINT64_MAX - digit) / base) {
            parsed.saturated = true;
        } else {
            parsed.magnitude = parsed.magnitude * base + digit;
        }
        ++digits;
        ++p;
    }
    if (digits == 0) {
        parsed = ParsedInteger{};
        parsed.leftover = !text.empty();
        return parsed;
    }
    parsed.leftover = p != text.size();
    return parsed;
}

// The limits of an integer field as the magnitudes it allows below and above zero.
struct Span {
    const char* name;
    bool isSigned;
    std::uint64_t below; // largest magnitude of a negative value
    std::uint64_t above; // largest positive value
};

bool Within(const Span& span, bool negative, std::uint64_t magnitude) {
    return negative ? magnitude <= span.below : magnitude <= span.above;
}

Expected Ok(bool negative, std::uint64_t magnitude) {
    Expected expected;
    expected.negative = negative && magnitude != 0;
    expected.magnitude = magnitude;
    return expected;
}

Expected Fail(std::string message) {
    Expected expected;
    expected.message = std::move(message);
    return expected;
}

// Sign and magnitude of a signed 64-bit value without overflow at the minimum.
std::uint64_t MagnitudeOf(std::int64_t value) {
    return value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
}

Expected IntegerOracle(const Span& span, const BindingProperty& input) {
    switch (input.Kind()) {
    case BindingKind::Empty:
        return Fail(Required());
    case BindingKind::Signed: {
        const std::int64_t value = input.GetSigned();
        if (!Within(span, value < 0, MagnitudeOf(value))) {
            return Fail(OutOfRange(Decimal(value), span.name));
        }
        return Ok(value < 0, MagnitudeOf(value));
    }
    case BindingKind::Unsigned: {
        const std::uint64_t value = input.GetUnsigned();
        if (!Within(span, false, value)) {
            return Fail(OutOfRange(Decimal(value), span.name));
        }
        return Ok(false, value);
    }
    case BindingKind::Enum: {
        const std::int32_t value = input.GetEnum().value;
        if (!Within(span, value < 0, MagnitudeOf(value))) {
            return Fail(OutOfRange(Decimal(std::int64_t{value}), span.name));
        }
        return Ok(value < 0, MagnitudeOf(value));
    }
    case BindingKind::Float: {
        const double value = input.GetFloat();
        // Below the minimum or above the maximum, both taken as doubles; values whose truncation
        // has no 64-bit form (NaN, 2^63 for signed, 2^64 for unsigned) are out of range as well.
        const double minimum = -static_cast<double>(span.below);
        const double maximum = static_cast<double>(span.above);
        const double noForm = span.isSigned ? 9223372036854775808.0 : 18446744073709551616.0;
        if (std::isnan(value) || value < minimum || value > maximum || value >= noForm) {
            return Fail(OutOfRange(Shown(value), span.name));
        }
        const double truncated = std::trunc(value);
        if (truncated < 0) {
            return Ok(true, static_cast<std::uint64_t>(-truncated));
        }
        return Ok(false, static_cast<std::uint64_t>(truncated));
    }
    case BindingKind::String: {
        const std::string text(input.GetString());
        const ParsedInteger parsed = ParseInteger(text);
        if (parsed.leftover) {
            return Fail(BadFormat(text, span.name));
        }
        // The parse itself overflows beyond the 64-bit type of the field's signedness; an
        // unsigned field refuses any text written with a minus sign.
        const bool overflow =
            parsed.saturated ||
            (span.isSigned && !Within(Span{"", true, 9223372036854775808ull, INT64_MAX},
                                      parsed.negative, parsed.magnitude));
        if (overflow || (!span.isSigned && parsed.negative) ||
            !Within(span, parsed.negative, parsed.magnitude)) {
            return Fail(OutOfRange(text, span.name));
        }
        return Ok(parsed.negative, parsed.magnitude);
    }
    default:
        return Fail(InvalidType(span.name, input));
    }
}

// Integer boundaries: every limit of every width, one beyond, and the float-exactness edges.
std::vector<std::int64_t> SignedProbes() {
    std::vector<std::int64_t> probes;
    for (const std::int64_t edge :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{127}, std::int64_t{128}, std::int64_t{255},
          std::int64_t{256}, std::int64_t{32767}, std::int64_t{32768}, std::int64_t{65535},
          std::int64_t{65536}, std::int64_t{INT32_MAX}, std::int64_t{INT32_MAX} + 1,
          std::int64_t{UINT32_MAX}, std::int64_t{UINT32_MAX} + 1, std::int64_t{1} << 53,
          (std::int64_t{1} << 53) + 1}) {
        for (const std::int64_t near : {edge - 1, edge, edge + 1}) {
            probes.push_back(near);
            probes.push_back(-near);
        }
    }
    for (const std::int64_t edge : {INT64_MIN, INT64_MIN + 1, INT64_MAX, INT64_MAX - 1}) {
        probes.push_back(edge);
    }
    return probes;
}

std::vector<std::uint64_t> UnsignedProbes() {
    std::vector<std::uint64_t> probes;
    for (const std::int64_t value : SignedProbes()) {
        if (value >= 0) {
            probes.push_back(static_cast<std::uint64_t>(value));
        }
    }
    for (const std::uint64_t edge :
         {std::uint64_t{1} << 63, (std::uint64_t{1} << 63) + 1, UINT64_MAX, UINT64_MAX - 1}) {
        probes.push_back(edge);
    }
    return probes;
}

std::vector<double> FloatProbes() {
    std::vector<double> probes = {std::numeric_limits<double>::quiet_NaN(),
                                  -std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  0.0,
                                  -0.0,
                                  0.5,
                                  -0.5,
                                  0.9999,
                                  -0.9999,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  DBL_MIN,
                                  -DBL_MIN,
                                  std::numeric_limits<double>::denorm_min(),
                                  9223372036854775808.0,
                                  -9223372036854775808.0,
                                  18446744073709551616.0,
                                  static_cast<double>(FLT_MAX),
                                  -static_cast<double>(FLT_MAX),
                                  std::nextafter(static_cast<double>(FLT_MAX), DBL_MAX),
                                  -std::nextafter(static_cast<double>(FLT_MAX), DBL_MAX)};
    for (const double edge : {9223372036854775808.0, 18446744073709551616.0}) {
        probes.push_back(std::nextafter(edge, 0.0));
        probes.push_back(std::nextafter(edge, DBL_MAX));
        probes.push_back(-std::nextafter(edge, 0.0));
        probes.push_back(-std::nextafter(edge, DBL_MAX));
    }
    for (const std::int64_t value : SignedProbes()) {
        const auto edge = static_cast<double>(value);
        for (const double near : {edge - 0.5, edge, edge + 0.5, edge - 1.0, edge + 1.0}) {
            probes.push_back(near);
        }
    }
    return probes;
}

// Texts: each probe written in decimal, hex and octal with blanks and signs, and texts the
// parse must refuse.
std::vector<std::string> TextProbes() {
    std::vector<std::string> probes = {"",
                                       " ",
                                       "\t\n",
                                       "-",
                                       "+",
                                       "0x",
                                       "0X",
                                       "0xg",
                                       "-0x",
                                       "08",
                                       "0777",
                                       "-0777",
                                       "0x7f",
                                       "0X7F",
                                       "-0x80",
                                       "+0x80",
                                       "0xffffffffffffffff",
                                       "0x10000000000000000",
                                       "-0x8000000000000000",
                                       "-0x8000000000000001",
                                       "01777777777777777777777",
                                       "02000000000000000000000",
                                       "1e3",
                                       "1.5",
                                       "1.",
                                       ".5",
                                       "12abc",
                                       "abc",
                                       "-0",
                                       "+0",
                                       "0",
                                       " -0",
                                       " +5",
                                       "5 ",
                                       " 5",
                                       "\v\f\r7",
                                       "--5",
                                       "+-5",
                                       "0x-5",
                                       "%2x",
                                       "1 2",
                                       "18446744073709551615",
                                       "18446744073709551616",
                                       "-18446744073709551615",
                                       "-18446744073709551616",
                                       "9223372036854775807",
                                       "9223372036854775808",
                                       "-9223372036854775808",
                                       "-9223372036854775809",
                                       std::string(300, '0') + "1",
                                       std::string(300, '9'),
                                       "-" + std::string(300, '9'),
                                       "0x" + std::string(40, '0') + "ff",
                                       "0x" + std::string(17, 'f'),
                                       std::string(300, '0') + "8"};
    for (const std::int64_t value : SignedProbes()) {
        const std::string decimal = Decimal(value);
        probes.push_back(decimal);
        probes.push_back("  " + decimal);
        probes.push_back(decimal + " ");
        if (value >= 0) {
            probes.push_back("+" + decimal);
        }
        char hex[40];
        std::snprintf(hex, sizeof hex, "%s0x%llx", value < 0 ? "-" : "",
                      static_cast<unsigned long long>(MagnitudeOf(value)));
        probes.push_back(hex);
        char octal[40];
        std::snprintf(octal, sizeof octal, "%s0%llo", value < 0 ? "-" : "",
                      static_cast<unsigned long long>(MagnitudeOf(value)));
        probes.push_back(octal);
    }
    for (const std::uint64_t value : UnsignedProbes()) {
        probes.push_back(Decimal(value));
    }
    return probes;
}

// Every input kind at every probe, plus random texts from the characters integer texts use.
std::vector<BindingProperty> InputProbes(Generator& generator) {
    std::vector<BindingProperty> inputs;
    inputs.emplace_back();
    inputs.emplace_back(true);
    inputs.emplace_back(false);
    for (const std::int64_t value : SignedProbes()) {
        inputs.emplace_back(value);
    }
    for (const std::uint64_t value : UnsignedProbes()) {
        inputs.emplace_back(value);
    }
    for (const double value : FloatProbes()) {
        inputs.emplace_back(value);
    }
    for (const std::string& text : TextProbes()) {
        inputs.emplace_back(text);
    }
    static const char alphabet[] = " \t+-0123456789xXabcdefABCDEFgz.e";
    for (int i = 0; i < 400; ++i) {
        std::string text(generator.Below(9), ' ');
        for (char& c : text) {
            c = alphabet[generator.Below(sizeof alphabet - 1)];
        }
        inputs.emplace_back(text);
    }
    for (const std::int32_t value :
         {INT32_MIN, -129, -128, -1, 0, 1, 127, 128, 255, 256, 65535, 65536, INT32_MAX}) {
        inputs.emplace_back(BindingEnumRecord{value, &StaticType::Identity<Mood>()});
    }
    BindingProperty blob;
    blob.SetBlob(std::vector<std::uint8_t>{1, 2});
    inputs.push_back(std::move(blob));
    BindingProperty collection;
    collection.Append() = 1;
    inputs.push_back(std::move(collection));
    BindingProperty structure;
    structure.Member("a") = 1;
    inputs.push_back(std::move(structure));
    return inputs;
}

std::string Describe(const BindingProperty& input) {
    return std::string(InputKindName(input)) + " '" + input.ToString() + "'";
}

template <typename T>
void CheckIntegerField(const BindingRegistry& registry, const std::vector<BindingProperty>& inputs,
                       const Span& span) {
    SCOPED_TRACE(span.name);
    for (const BindingProperty& input : inputs) {
        const Expected expected = IntegerOracle(span, input);
        T destination = T{1};
        BindingResult status;
        FromProperty(status, destination, input, "f", registry);
        EXPECT_EQ(status.GetError(), expected.message) << Describe(input);
        EXPECT_EQ(status.IsSuccess(), expected.message.empty()) << Describe(input);
        // A failure leaves the zero value; success the oracle's value.
        T wanted = T{0};
        if (expected.message.empty()) {
            wanted = expected.negative ? static_cast<T>(~expected.magnitude + 1)
                                       : static_cast<T>(expected.magnitude);
        }
        EXPECT_EQ(destination, wanted) << Describe(input);

        // Once the status has failed nothing is tested, the message stays and the field is zero.
        BindingResult failed;
        failed.SetError("first");
        destination = T{1};
        FromProperty(failed, destination, input, "f", registry);
        EXPECT_EQ(failed.GetError(), "first");
        EXPECT_EQ(destination, T{0});
    }
}

// Once a status has failed, no input is tested and the message stays; the destination still gets
// its zero value (or is emptied).
template <typename T>
void CheckAfterFailure(const BindingRegistry& registry, const BindingProperty& input, T start,
                       const T& zero) {
    BindingResult failed;
    failed.SetError("first");
    FromProperty(failed, start, input, "f", registry);
    EXPECT_EQ(failed.GetError(), "first") << Describe(input);
    EXPECT_TRUE(start == zero) << Describe(input);
}

TEST_F(ConversionOracle, AFailedStatusKeepsItsMessageAndZeroesEveryKindOfField) {
    Generator generator(kSeed ^ 5);
    for (const BindingProperty& input : InputProbes(generator)) {
        CheckAfterFailure(registry, input, true, false);
        CheckAfterFailure(registry, input, 1.5, 0.0);
        CheckAfterFailure(registry, input, 1.5f, 0.0f);
        CheckAfterFailure(registry, input, std::string("old"), std::string());
        CheckAfterFailure(registry, input, std::vector<std::uint8_t>{9}, {});
        CheckAfterFailure(registry, input, Small::High, Small::Zero);
        CheckAfterFailure(registry, input, Huge::Plus, static_cast<Huge>(0));
        CheckAfterFailure(registry, input, std::vector<std::int32_t>{1}, {});
        CheckAfterFailure(registry, input, std::optional<std::int32_t>(5), {});
        CheckAfterFailure(registry, input, std::unordered_map<std::string, double>{{"a", 1.0}}, {});
    }
}

TEST_F(ConversionOracle, IntegerFieldsFromEveryInputKindAgreeWithTheRules) {
    Generator generator(kSeed);
    const std::vector<BindingProperty> inputs = InputProbes(generator);
    CheckIntegerField<std::int8_t>(registry, inputs, {"int8", true, 128, 127});
    CheckIntegerField<std::uint8_t>(registry, inputs, {"uint8", false, 0, 255});
    CheckIntegerField<std::int16_t>(registry, inputs, {"int16", true, 32768, 32767});
    CheckIntegerField<std::uint16_t>(registry, inputs, {"uint16", false, 0, 65535});
    CheckIntegerField<std::int32_t>(registry, inputs, {"int32", true, 2147483648u, INT32_MAX});
    CheckIntegerField<std::uint32_t>(registry, inputs, {"uint32", false, 0, UINT32_MAX});
    CheckIntegerField<std::int64_t>(registry, inputs,
                                    {"int64", true, 9223372036854775808ull, INT64_MAX});
    CheckIntegerField<std::uint64_t>(registry, inputs, {"uint64", false, 0, UINT64_MAX});
}

Expected FloatingOracle(const char* name, bool narrow, const BindingProperty& input) {
    const double maximum = narrow ? static_cast<double>(FLT_MAX) : DBL_MAX;
    Expected expected;
    switch (input.Kind()) {
    case BindingKind::Empty:
        return Fail(Required());
    case BindingKind::Signed:
        expected.real = static_cast<double>(input.GetSigned());
        return expected;
    case BindingKind::Unsigned:
        expected.real = static_cast<double>(input.GetUnsigned());
        return expected;
    case BindingKind::Enum:
        expected.real = input.GetEnum().value;
        return expected;
    case BindingKind::Float: {
        const double value = input.GetFloat();
        if (value < -maximum || value > maximum) {
            return Fail(OutOfRange(Shown(value), name));
        }
        expected.real = value;
        return expected;
    }
    case BindingKind::String: {
        // The C library's floating-point syntax; leftovers are a format error, a result beyond
        // the double range (not an underflow) or beyond the field's range is out of range.
        const std::string text(input.GetString());
        char* end = nullptr;
        errno = 0;
        const double value = std::strtod(text.c_str(), &end);
        const bool overflow = errno == ERANGE && std::isinf(value);
        if (*end != '\0') {
            return Fail(BadFormat(text, name));
        }
        if (overflow || value < -maximum || value > maximum) {
            return Fail(OutOfRange(text, name));
        }
        expected.real = value;
        return expected;
    }
    default:
        return Fail(InvalidType(name, input));
    }
}

TEST_F(ConversionOracle, FloatingFieldsFromEveryInputKindAgreeWithTheRules) {
    Generator generator(kSeed);
    std::vector<BindingProperty> inputs = InputProbes(generator);
    for (const char* text : {"1e-400", "1e309", "-1e309", "3.5e38", "3.4e38", "0x1p3", "0x1.8p-1",
                             "inf", "-infinity", "nan", " 2.5", "2.5 ", "2.5f", "1e", "."}) {
        inputs.emplace_back(text);
    }
    for (const BindingProperty& input : inputs) {
        {
            const Expected expected = FloatingOracle("double", false, input);
            double destination = 1.0;
            BindingResult status;
            FromProperty(status, destination, input, "f", registry);
            EXPECT_EQ(status.GetError(), expected.message) << Describe(input);
            const double wanted = expected.message.empty() ? expected.real : 0.0;
            EXPECT_TRUE(SameBits(destination, wanted) ||
                        (std::isnan(destination) && std::isnan(wanted)))
                << Describe(input) << " gave " << destination;
        }
        {
            const Expected expected = FloatingOracle("float", true, input);
            float destination = 1.0f;
            BindingResult status;
            FromProperty(status, destination, input, "f", registry);
            EXPECT_EQ(status.GetError(), expected.message) << Describe(input);
            const float wanted =
                expected.message.empty() ? static_cast<float>(expected.real) : 0.0f;
            EXPECT_TRUE(SameBits(destination, wanted) ||
                        (std::isnan(destination) && std::isnan(wanted)))
                << Describe(input) << " gave " << destination;
        }
    }
}

TEST_F(ConversionOracle, BoolStringAndEnumFieldsFromEveryInputKindAgreeWithTheRules) {
    Generator generator(kSeed);
    std::vector<BindingProperty> inputs = InputProbes(generator);
    for (const char* text : {"true", "false", "TRUE", "True", "1", "0", " 1", "1 ", "low", "Low",
                             "high", "zero", "minus", " low", "low "}) {
        inputs.emplace_back(text);
    }
    for (const std::int32_t value : {-128, 0, 127, 3, -7}) {
        inputs.emplace_back(BindingEnumRecord{value, &StaticType::Identity<Small>()});
    }
    const std::unordered_map<std::string, std::int32_t> smallNames = {
        {"low", -128}, {"zero", 0}, {"high", 127}};
    const std::unordered_map<std::int32_t, std::string> moodNames = {
        {0, "calm"}, {3, "glad"}, {-7, "sad"}};
    const std::unordered_map<std::int32_t, std::string> smallValues = {
        {-128, "low"}, {0, "zero"}, {127, "high"}};
    const auto isSmall = [&](std::int64_t value) {
        return value >= INT32_MIN && value <= INT32_MAX &&
               smallValues.count(static_cast<std::int32_t>(value)) != 0;
    };

    for (const BindingProperty& input : inputs) {
        SCOPED_TRACE(Describe(input));
        // bool
        {
            std::string message;
            bool wanted = false;
            if (input.IsEmpty()) {
                message = Required();
            } else if (input.Kind() == BindingKind::Bool) {
                wanted = input.GetBool();
            } else if (input.Kind() == BindingKind::String) {
                const std::string text(input.GetString());
                if (text == "1" || text == "true") {
                    wanted = true;
                } else if (text != "0" && text != "false") {
                    message = "Value " + text +
                              " for 'f' of type bool is in an incorrect format. Options are "
                              "\"true\", \"false\", \"1\", \"0\".";
                }
            } else {
                message = std::string("Couldn't assign value to 'f' of type bool because the "
                                      "input is of an invalid type ") +
                          InputKindName(input) + ".";
            }
            bool destination = true;
            BindingResult status;
            FromProperty(status, destination, input, "f", registry);
            EXPECT_EQ(status.GetError(), message);
            EXPECT_EQ(destination, wanted);
        }
        // string
        {
            std::string message;
            std::string wanted;
            if (input.IsEmpty()) {
                message = Required();
            } else if (input.Kind() == BindingKind::String) {
                wanted = input.GetString();
            } else if (input.Kind() == BindingKind::Enum) {
                const BindingEnumRecord record = input.GetEnum();
                const auto& names =
                    record.type == &StaticType::Identity<Mood>() ? moodNames : smallValues;
                const auto found = names.find(record.value);
                if (found != names.end()) {
                    wanted = found->second;
                } else {
                    message = Decimal(std::int64_t{record.value}) +
                              " is not a valid enumeration value for 'f'.";
                }
            } else {
                message = "Couldn't assign value to 'f' because the input is not a string.";
            }
            std::string destination = "old";
            BindingResult status;
            FromProperty(status, destination, input, "f", registry);
            EXPECT_EQ(status.GetError(), message);
            EXPECT_EQ(destination, wanted);
        }
        // enum (the 8-bit Small)
        {
            std::string message;
            std::int32_t wanted = 0;
            const auto notValue = [&](const std::string& shown) {
                message = shown + " is not a valid Small enumeration value for 'f'.";
            };
            switch (input.Kind()) {
            case BindingKind::Empty:
                message = Required();
                break;
            case BindingKind::Signed:
                if (isSmall(input.GetSigned())) {
                    wanted = static_cast<std::int32_t>(input.GetSigned());
                } else {
                    notValue(Decimal(input.GetSigned()));
                }
                break;
            case BindingKind::Unsigned:
                if (input.GetUnsigned() <= INT32_MAX &&
                    isSmall(static_cast<std::int64_t>(input.GetUnsigned()))) {
                    wanted = static_cast<std::int32_t>(input.GetUnsigned());
                } else if (input.GetUnsigned() > INT32_MAX && input.GetUnsigned() <= UINT32_MAX &&
                           isSmall(static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(input.GetUnsigned())))) {
                    wanted =
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(input.GetUnsigned()));
                } else {
                    notValue(Decimal(input.GetUnsigned()));
                }
                break;
            case BindingKind::String: {
                const std::string text(input.GetString());
                const auto named = smallNames.find(text);
                if (named != smallNames.end()) {
                    wanted = named->second;
                    break;
                }
                const Expected parsed =
                    IntegerOracle(Span{"Small", true, 9223372036854775808ull, INT64_MAX}, input);
                const std::int64_t number =
                    parsed.negative ? -static_cast<std::int64_t>(parsed.magnitude - 1) - 1
                                    : static_cast<std::int64_t>(parsed.magnitude);
                if (parsed.message.empty() && isSmall(number)) {
                    wanted = static_cast<std::int32_t>(number);
                } else {
                    notValue(text);
                }
                break;
            }
            case BindingKind::Enum:
                if (isSmall(input.GetEnum().value)) {
                    wanted = input.GetEnum().value;
                } else {
                    notValue(Decimal(std::int64_t{input.GetEnum().value}));
                }
                break;
            default:
                message = std::string("Couldn't assign value to 'f' of enum type because the "
                                      "input is of an invalid type ") +
                          InputKindName(input) + ".";
                break;
            }
            Small destination = Small::High;
            BindingResult status;
            FromProperty(status, destination, input, "f", registry);
            EXPECT_EQ(status.GetError(), message);
            EXPECT_EQ(static_cast<std::int32_t>(destination), wanted);
        }
    }
}

// Base64 as the blob rule reads it: only the alphabet and "=" are accepted; decoding stops at the
// first "=", full groups of four give three bytes, a final group of k characters k - 1 bytes.
TEST_F(ConversionOracle, BlobFieldsFromEveryInputKindAgreeWithTheRules) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Generator generator(kSeed ^ 3);
    std::vector<BindingProperty> inputs = InputProbes(generator);
    for (const char* text : {"YWJj", "YWI=", "YQ==", "YWI", "YQ", "Y", "YQ==YWJj", "=",
                             "====", "YW Jj", "YWJj\n", "-_", "YW\xC3\xA9", "%"}) {
        inputs.emplace_back(text);
    }
    for (int i = 0; i < 300; ++i) {
        std::string text(generator.Below(14), ' ');
        for (char& c : text) {
            c = generator.Chance(12) ? "= .-_\x80"[generator.Below(6)]
                                     : alphabet[generator.Below(64)];
        }
        inputs.emplace_back(text);
    }
    for (const BindingProperty& input : inputs) {
        SCOPED_TRACE(Describe(input));
        std::string message;
        std::vector<std::uint8_t> wanted;
        switch (input.Kind()) {
        case BindingKind::Empty:
            message = Required();
            break;
        case BindingKind::Blob: {
            const auto bytes = input.GetBlob();
            wanted.assign(bytes.begin(), bytes.end());
            break;
        }
        case BindingKind::String: {
            const std::string text(input.GetString());
            if (text.find_first_not_of(std::string(alphabet) + "=") != std::string::npos) {
                message = "Couldn't assign string value to 'f' of type blob because the input has "
                          "invalid base64 characters.";
                break;
            }
            std::uint32_t group = 0;
            int held = 0;
            for (const char c : text.substr(0, text.find('='))) {
                group =
                    (group << 6) | static_cast<std::uint32_t>(std::strchr(alphabet, c) - alphabet);
                if (++held == 4) {
                    wanted.push_back(static_cast<std::uint8_t>(group >> 16));
                    wanted.push_back(static_cast<std::uint8_t>(group >> 8));
                    wanted.push_back(static_cast<std::uint8_t>(group));
                    group = 0;
                    held = 0;
                }
            }
            group <<= 6 * (4 - held);
            for (int k = 1; k < held; ++k) {
                wanted.push_back(static_cast<std::uint8_t>(group >> (24 - 8 * k)));
            }
            break;
        }
        default:
            message = "Couldn't assign value to 'f' of type blob because the input is not a blob.";
            break;
        }
        std::vector<std::uint8_t> destination = {9, 9};
        BindingResult status;
        FromProperty(status, destination, input, "f", registry);
        EXPECT_EQ(status.GetError(), message);
        EXPECT_EQ(destination, wanted);
    }
}

// Records and enumerations inside vectors of vectors, maps of vectors and vectors of optionals
// are found through every level, in both directions and for whole values of such types.
TEST_F(ConversionOracle, RecordsAndEnumsNestedInContainersConvertAtAnyDepth) {
    const BindingResult read = ReadJson(R"({"a": ["sad", 3], "b": []})");
    ASSERT_TRUE(read.IsSuccess());
    std::unordered_map<std::string, std::vector<Mood>> moods;
    BindingResult status;
    FromProperty(status, moods, read.value, "<value>", registry);
    EXPECT_EQ(status.GetError(), "");
    EXPECT_EQ(moods.at("a"), (std::vector<Mood>{Mood::Sad, Mood::Glad}));
    EXPECT_TRUE(moods.at("b").empty());

    std::vector<std::vector<Leaf>> grid(2);
    grid[1].push_back(Leaf{4, "x", Mood::Glad, 0.5});
    BindingResult output;
    ToProperty(output, grid, registry);
    ASSERT_TRUE(output.IsSuccess()) << output.GetError();
    EXPECT_EQ(WriteJson(output.value, &registry),
              R"([[],[{"mood":"glad","n":4,"s":"x","weight":0.5}]])");

    std::vector<std::optional<Leaf>> holes;
    status.Reset();
    FromProperty(status, holes, ReadJson(R"([null, {"n": 2, "mood": "oops"}])").value, "<value>",
                 registry);
    EXPECT_EQ(status.GetError(), "oops is not a valid Mood enumeration value for 'mood'.");
    ASSERT_EQ(holes.size(), 2u);
    EXPECT_FALSE(holes[0].has_value());
    ASSERT_TRUE(holes[1].has_value()); // a failed record keeps what was assigned
    EXPECT_EQ(holes[1]->n, 2);
}

// --- Failures inside records and containers -------------------------------------------------

TEST_F(ConversionOracle, TheFirstFieldInRegistrationOrderReportsItsFailure) {
    // "alpha" sorts first, but "zeta" was registered first and is converted first.
    BindingProperty input;
    input.Member("alpha") = 300;
    input.Member("zeta") = 300;
    Pair pair;
    pair.zeta = 5;
    pair.alpha = 6;
    BindingResult status;
    FromProperty(status, pair, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Value 300 for 'zeta' of type int8 is out of range");
    EXPECT_EQ(pair.zeta, 0);
    EXPECT_EQ(pair.alpha, 6); // never reached: keeps its value

    // With "zeta" fine, "alpha" fails and "zeta" holds its converted value.
    input.Member("zeta") = -3;
    status.Reset();
    FromProperty(status, pair, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Value 300 for 'alpha' of type uint8 is out of range");
    EXPECT_EQ(pair.zeta, -3);
    EXPECT_EQ(pair.alpha, 0);
}

TEST_F(ConversionOracle, TheDeepestFailingFieldNamesTheFailureWithoutAPath) {
    Generator generator(kSeed ^ 1);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        // A vector of leaves where one element, at a random place, carries a bad mood and a bad
        // number; the number comes first in registration order.
        const std::size_t count = 1 + generator.Below(5);
        const std::size_t bad = generator.Below(count);
        BindingProperty input;
        input.Member("title") = "t";
        input.Member("tail") = 9;
        BindingProperty& leaves = input.Member("leaves");
        for (std::size_t i = 0; i < count; ++i) {
            BindingProperty& leaf = leaves.Append();
            leaf.Member("n") = static_cast<std::int32_t>(i);
            leaf.Member("mood") = i == bad ? "angry" : "glad";
            if (i == bad && generator.Chance(2)) {
                leaf.Member("n") = std::uint64_t{1} << 31;
            }
        }
        const bool badNumber = leaves.Element(bad).Member("n").Kind() == BindingKind::Unsigned;
        Outer outer;
        outer.tail = -1;
        BindingResult status;
        FromProperty(status, outer, input, "<value>", registry);
        EXPECT_EQ(status.GetError(),
                  badNumber ? "Value 2147483648 for 'n' of type int32 is out of range"
                            : "angry is not a valid Mood enumeration value for 'mood'.");
        // Elements before the failing one are converted; the failing one holds what its fields
        // got; the loop ended there, and the later field of the outer record kept its value.
        ASSERT_EQ(outer.leaves.size(), count);
        for (std::size_t i = 0; i < bad; ++i) {
            EXPECT_EQ(outer.leaves[i].n, static_cast<std::int32_t>(i));
            EXPECT_EQ(outer.leaves[i].mood, Mood::Glad);
        }
        EXPECT_EQ(outer.leaves[bad].n, badNumber ? 0 : static_cast<std::int32_t>(bad));
        EXPECT_EQ(outer.leaves[bad].mood, Mood::Calm);
        for (std::size_t i = bad + 1; i < count; ++i) {
            EXPECT_EQ(outer.leaves[i].n, 0);
        }
        EXPECT_EQ(outer.title, "t");
        EXPECT_EQ(outer.tail, -1);
    }
}

TEST_F(ConversionOracle, VectorsAndMapsStopAtTheirFirstFailingElement) {
    Generator generator(kSeed ^ 2);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        const std::size_t count = 1 + generator.Below(6);
        const std::size_t bad = generator.Below(count);
        BindingProperty collection;
        BindingProperty structure;
        std::vector<std::int64_t> values(count);
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = static_cast<std::int64_t>(generator.Below(200)) - 100;
            collection.Append() = values[i];
        }
        collection.Element(bad) = 1.0e10;
        std::vector<std::int16_t> vector(3, 7);
        BindingResult status;
        FromProperty(status, vector, collection, "f", registry);
        EXPECT_EQ(status.GetError(), OutOfRange("1e+10", "int16"));
        ASSERT_EQ(vector.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(vector[i], i < bad ? values[i] : 0) << i;
        }

        // A map converts its members in name order and stops at the first failure.
        for (std::size_t i = 0; i < count; ++i) {
            structure.Member(std::string(1, static_cast<char>('a' + i))) =
                i == bad ? BindingProperty("x") : BindingProperty(values[i]);
        }
        std::unordered_map<std::string, std::int16_t> map = {{"old", 1}};
        status.Reset();
        FromProperty(status, map, structure, "f", registry);
        EXPECT_EQ(status.GetError(), BadFormat("x", "int16"));
        EXPECT_EQ(map.count("old"), 0u);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string key(1, static_cast<char>('a' + i));
            if (i < bad) {
                EXPECT_EQ(map.at(key), values[i]);
            } else if (i > bad) {
                EXPECT_EQ(map.count(key), 0u);
            }
        }
    }
}

} // namespace
} // namespace Korvel::OracleTesting
