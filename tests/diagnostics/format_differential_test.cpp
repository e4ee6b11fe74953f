// The message formatter compared with the C library's snprintf: every conversion the formatter
// performs must print what snprintf prints for the same conversion, once the letter and length
// modifier are brought to the argument's type, and the walk over a template must pick the
// arguments, stop and truncate as a template with numbered and sequential placeholders says.
// Cases come from a seeded generator, so every run checks the same ones.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/format_message.h"
#include "diagnostics/operation_result.h"
#include "support/split_mix.h"

namespace Korvel {

// A type that renders through its own text: a run of one character.
struct CharacterRun {
    std::size_t count;
    char c;
};

std::string FormatArgumentText(const CharacterRun& run) {
    return std::string(run.count, run.c);
}

namespace {

class Generator : public Korvel::Testing::SplitMix64 {
public:
    using SplitMix64::SplitMix64;
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    char Pick(const char* set) { return set[Below(static_cast<int>(std::strlen(set)))]; }
};

enum class Kind { Int32, UInt32, Int64, UInt64, Double, Char, CText, String, StringView, Result };
constexpr int kKindCount = 10;

// One argument of any type, with its descriptor for the core routine.
struct Value {
    Kind kind = Kind::Int32;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    double d = 0;
    char c = 0;
    std::string text;
    const char* cText = nullptr;
    std::string_view view;
    OperationResult result;

    FormatArgument Argument() const {
        switch (kind) {
        case Kind::Int32:
            return {&i32, &FormatTypes::kInt32};
        case Kind::UInt32:
            return {&u32, &FormatTypes::kUInt32};
        case Kind::Int64:
            return {&i64, &FormatTypes::kInt64};
        case Kind::UInt64:
            return {&u64, &FormatTypes::kUInt64};
        case Kind::Double:
            return {&d, &FormatTypes::kDouble};
        case Kind::Char:
            return {&c, &FormatTypes::kChar};
        case Kind::CText:
            return {&cText, &FormatTypes::kCText};
        case Kind::String:
            return {&text, &FormatTypes::kString};
        case Kind::StringView:
            return {&view, &FormatTypes::kStringView};
        case Kind::Result:
            return {&result, &FormatTypes::kOperationResult};
        }
        return {nullptr, nullptr};
    }

    // The conversions the type accepts, its default first.
    const char* Accepted() const {
        switch (kind) {
        case Kind::Int32:
        case Kind::Int64:
            return "dciouxX";
        case Kind::UInt32:
        case Kind::UInt64:
            return "ucdioxX";
        case Kind::Double:
            return "gaefGAEF";
        case Kind::Char:
            return "cdiouxX";
        default:
            return "s";
        }
    }

    bool UsableAsInt() const {
        return kind == Kind::Int32 || kind == Kind::UInt32 || kind == Kind::Int64 ||
               kind == Kind::UInt64 || kind == Kind::Char;
    }

    int AsInt() const {
        switch (kind) {
        case Kind::Int32:
            return i32;
        case Kind::UInt32:
            return static_cast<int>(u32);
        case Kind::Int64:
            return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(i64)));
        case Kind::UInt64:
            return static_cast<int>(static_cast<uint32_t>(u64));
        case Kind::Char:
            return c;
        default:
            return 0;
        }
    }

    // What a text argument prints under "%s".
    std::string Text() const {
        switch (kind) {
        case Kind::CText:
            return cText != nullptr ? cText : "(null)";
        case Kind::String:
            return std::string(text.c_str());
        case Kind::StringView:
            return std::string(view.begin(), view.end()).c_str();
        case Kind::Result:
            if (!result.failed) {
                return "Success";
            }
            if (result.message.Text() == nullptr) {
                return "";
            }
            return std::string(result.message.Text()) + " (" + std::to_string(result.code) + ")";
        default:
            return "";
        }
    }
};

std::string RandomText(Generator& random, int longest, const char* alphabet) {
    std::string text;
    const int length = random.Below(longest + 1);
    for (int i = 0; i < length; ++i) {
        text += random.Pick(alphabet);
    }
    return text;
}

double RandomDouble(Generator& random) {
    static const double special[] = {0.0,     -0.0,    1.0,     -1.5,   0.1,    123456.789,
                                     1e300,   -1e-300, 1e16,    5e-324, 1e-5,   99999.5,
                                     0.00001, 1e21,    -2.5e-7, 42.0,   1.0 / 3};
    if (random.Chance(60)) {
        return special[random.Below(sizeof special / sizeof special[0])];
    }
    // Any bit pattern that is a finite number.
    double value;
    do {
        const uint64_t bits = random.Next();
        std::memcpy(&value, &bits, sizeof value);
    } while (value != value || value - value != 0);
    return value;
}

uint64_t RandomBits(Generator& random) {
    static const uint64_t special[] = {0,
                                       1,
                                       0x7F,
                                       0x80,
                                       0xFF,
                                       0x7FFFFFFF,
                                       0x80000000,
                                       0xFFFFFFFF,
                                       0x100000000ULL,
                                       0x123456789ABCDEFULL,
                                       0x7FFFFFFFFFFFFFFFULL,
                                       0x8000000000000000ULL,
                                       0xFFFFFFFFFFFFFFFFULL};
    if (random.Chance(40)) {
        return special[random.Below(sizeof special / sizeof special[0])];
    }
    const uint64_t value = random.Next();
    return value >> random.Below(64);
}

// Values live in a deque, so the descriptors' pointers stay valid as values are added.
Value& AddValue(std::deque<Value>& values, Generator& random, Kind kind) {
    Value& value = values.emplace_back();
    value.kind = kind;
    const uint64_t bits = RandomBits(random);
    value.i32 = static_cast<int32_t>(static_cast<uint32_t>(bits));
    value.u32 = static_cast<uint32_t>(bits);
    value.i64 = static_cast<int64_t>(bits);
    value.u64 = bits;
    value.d = RandomDouble(random);
    value.c = static_cast<char>(random.Chance(20) ? random.Below(256) : random.Pick("aZ~ 0%"));
    value.text = RandomText(random, 12, "abcXYZ %-#019$*.lhn%");
    value.cText = random.Chance(5) ? nullptr : value.text.c_str();
    // Not terminated where it ends: the text goes on beyond it.
    value.view = std::string_view(value.text).substr(0, value.text.size() / 2 + 1);
    switch (random.Below(3)) {
    case 0:
        value.result = OperationResult::Success();
        break;
    case 1:
        value.result = OperationResult::Failure(static_cast<int32_t>(bits), value.text);
        break;
    default:
        value.result =
            OperationResult::FailureWithStaticText(404, random.Chance(50) ? "Not Found" : nullptr);
        break;
    }
    return value;
}

// A conversion as the template spells it, apart from the argument index.
struct Spec {
    std::string flags;
    int widthKind = 0; // 0 none, 1 digits, 2 "*"
    int width = 0;
    int precisionKind = 0; // 0 none, 1 ".", 2 ".digits", 3 ".*"
    int precision = 0;
    std::string modifier;
    char letter = 0; // 0 for a bare numbered placeholder
};

Spec RandomSpec(Generator& random, const Value& value) {
    static const char* const modifiers[] = {"", "", "", "h", "hh", "l", "ll", "L", "j", "t", "z"};
    Spec spec;
    const int flagCount = random.Chance(50) ? 0 : random.Below(4) + 1;
    for (int i = 0; i < flagCount; ++i) {
        spec.flags += random.Pick("-+ #0");
    }
    spec.widthKind = random.Below(3);
    spec.width = random.Below(30) + 1;
    spec.precisionKind = random.Below(4);
    spec.precision = random.Below(25);
    spec.modifier = modifiers[random.Below(sizeof modifiers / sizeof modifiers[0])];
    // Mostly letters the type accepts, sometimes any other conversion letter (never "%", which
    // right after the "%" would be a literal percent sign).
    spec.letter = random.Chance(60) ? random.Pick(value.Accepted())
                                    : random.Pick("diouxXcsfFeEgGaApnSCmbkqwy!&[_");
    return spec;
}

// The conversion snprintf is given for `spec` and `value`: a letter outside the type's set
// becomes its default, and the length modifier is the one of the value's type (a 32-bit integer
// or a character may keep "h" or "hh" for an integer conversion, where they only narrow what is
// printed).
std::string Normalised(const Spec& spec, const Value& value, bool bare) {
    const char* accepted = value.Accepted();
    const bool wide = value.kind == Kind::Int64 || value.kind == Kind::UInt64;
    if (bare) {
        // The type's default modifier and letter.
        return std::string(wide ? "%ll" : "%") + accepted[0];
    }
    const char letter =
        !bare && std::strchr(accepted, spec.letter) != nullptr ? spec.letter : accepted[0];
    std::string modifier;
    switch (value.kind) {
    case Kind::Int32:
    case Kind::UInt32:
    case Kind::Char:
        if ((spec.modifier == "h" || spec.modifier == "hh") && letter != 'c') {
            modifier = spec.modifier;
        }
        break;
    case Kind::Int64:
    case Kind::UInt64:
        if (letter != 'c') {
            modifier = "ll";
        }
        break;
    default:
        break;
    }
    std::string format = "%" + spec.flags;
    if (spec.widthKind == 1) {
        format += std::to_string(spec.width);
    } else if (spec.widthKind == 2) {
        format += "*";
    }
    if (spec.precisionKind == 1) {
        format += ".";
    } else if (spec.precisionKind == 2) {
        format += "." + std::to_string(spec.precision);
    } else if (spec.precisionKind == 3) {
        format += ".*";
    }
    return format + modifier + letter;
}

// snprintf with the conversion's star values and a value of the right C type.
template <class T>
std::string Print(const std::string& format, const std::vector<int>& stars, T value) {
    std::vector<char> buffer(1);
    for (int pass = 0; pass < 2; ++pass) {
        int printed = -1;
        switch (stars.size()) {
        case 0:
            printed = std::snprintf(buffer.data(), buffer.size(), format.c_str(), value);
            break;
        case 1:
            printed = std::snprintf(buffer.data(), buffer.size(), format.c_str(), stars[0], value);
            break;
        default:
            printed = std::snprintf(buffer.data(), buffer.size(), format.c_str(), stars[0],
                                    stars[1], value);
            break;
        }
        if (printed < 0) {
            return "<snprintf failed>";
        }
        if (static_cast<std::size_t>(printed) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(printed));
        }
        buffer.resize(static_cast<std::size_t>(printed) + 1);
    }
    return "<snprintf grew>";
}

std::string Reference(const Spec& spec, const Value& value, const std::vector<int>& stars,
                      bool bare) {
    const std::string format = Normalised(spec, value, bare);
    switch (value.kind) {
    case Kind::Int32:
        return Print(format, stars, static_cast<int>(value.i32));
    case Kind::UInt32:
        return Print(format, stars, static_cast<unsigned>(value.u32));
    case Kind::Int64:
        if (format.back() == 'c') {
            return Print(format, stars, value.AsInt());
        }
        return Print(format, stars, static_cast<long long>(value.i64));
    case Kind::UInt64:
        if (format.back() == 'c') {
            return Print(format, stars, value.AsInt());
        }
        return Print(format, stars, static_cast<unsigned long long>(value.u64));
    case Kind::Double:
        return Print(format, stars, value.d);
    case Kind::Char:
        return Print(format, stars, static_cast<int>(value.c));
    default:
        return Print(format, stars, value.Text().c_str());
    }
}

// The template text of a conversion; `index` 0 is sequential, `starIndex` entries 0 are
// sequential "*".
std::string Spell(const Spec& spec, int index, const int starIndex[2], bool bare) {
    std::string text = "%";
    if (index != 0) {
        text += std::to_string(index);
        if (bare) {
            return text;
        }
        text += "$";
    }
    text += spec.flags;
    if (spec.widthKind == 1) {
        text += std::to_string(spec.width);
    } else if (spec.widthKind == 2) {
        text += "*";
        if (starIndex[0] != 0) {
            text += std::to_string(starIndex[0]) + "$";
        }
    }
    if (spec.precisionKind == 1) {
        text += ".";
    } else if (spec.precisionKind == 2) {
        text += "." + std::to_string(spec.precision);
    } else if (spec.precisionKind == 3) {
        text += ".*";
        if (starIndex[1] != 0) {
            text += std::to_string(starIndex[1]) + "$";
        }
    }
    return text + spec.modifier + spec.letter;
}

std::string Format(const std::string& tmpl, const std::deque<Value>& values,
                   std::size_t size = kFormatMessageBufferSize) {
    std::vector<FormatArgument> arguments;
    for (const Value& value : values) {
        arguments.push_back(value.Argument());
    }
    std::vector<char> buffer(size == 0 ? 1 : size);
    const std::size_t length = FormatMessageInto(buffer.data(), size, tmpl.c_str(),
                                                 arguments.data(), static_cast<int>(values.size()));
    return std::string(buffer.data(), length);
}

// "" when the texts are equal, else where and how they differ (long texts are not printed whole).
std::string Difference(const std::string& got, const std::string& want) {
    if (got == want) {
        return "";
    }
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) {
        ++at;
    }
    return "lengths " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
           ", first difference at " + std::to_string(at) + ": '" + got.substr(at, 12) +
           "' instead of '" + want.substr(at, 12) + "'";
}

Kind KindAt(int i) {
    return static_cast<Kind>(i % kKindCount);
}

TEST(FormatDifferential, OneConversionPrintsWhatSnprintfPrints) {
    Generator random(0x5EED0001);
    int differences = 0;
    for (int round = 0; round < 30000; ++round) {
        std::deque<Value> values;
        const Value& value = AddValue(values, random, KindAt(round));
        Spec spec = RandomSpec(random, value);
        // "%" followed by digits 1..9 would be an argument index; without flags a width must
        // exceed the count to stay a width, which the star arguments below raise to at most 3.
        if (spec.flags.empty() && spec.widthKind == 1 && spec.width <= 3) {
            spec.width += 3;
        }
        const bool positional = random.Chance(50);
        const bool bare = positional && random.Chance(15);
        // Star values: small, negative ones included (a negative width left-justifies, a
        // negative precision counts as none), of every type usable as an integer.
        std::vector<int> stars;
        int starIndex[2] = {0, 0};
        std::deque<Value> starValues;
        for (int which = 0; which < 2 && !bare; ++which) {
            if ((which == 0 ? spec.widthKind : spec.precisionKind) != (which == 0 ? 2 : 3)) {
                continue;
            }
            static const Kind integers[] = {Kind::Int32, Kind::UInt32, Kind::Int64, Kind::UInt64,
                                            Kind::Char};
            Value& star = AddValue(starValues, random, integers[random.Below(5)]);
            const int small = random.Below(56) - 15;
            star.i32 = small;
            star.u32 = static_cast<uint32_t>(small);
            star.i64 = static_cast<int64_t>(0x500000000LL) * random.Below(3) + small;
            star.u64 = static_cast<uint64_t>(star.i64);
            star.c = static_cast<char>(small);
            stars.push_back(star.AsInt());
        }
        std::deque<Value> arguments;
        int valueIndex = 0;
        if (positional) {
            // The value at a random place among the star arguments, each named by its index.
            const int position = random.Below(static_cast<int>(starValues.size()) + 1);
            std::size_t nextStar = 0;
            for (int i = 0; i <= static_cast<int>(starValues.size()); ++i) {
                if (i == position) {
                    arguments.push_back(value);
                    valueIndex = i + 1;
                    continue;
                }
                // The width's "*" comes first when there is one.
                const int slot = spec.widthKind == 2 && nextStar == 0 ? 0 : 1;
                starIndex[slot] = i + 1;
                arguments.push_back(starValues[nextStar++]);
            }
        } else {
            arguments = starValues;
            arguments.push_back(value);
        }
        const std::string tmpl =
            "<" + Spell(spec, valueIndex, starIndex, bare) + (bare ? "|" : ">");
        const std::string expected = "<" + Reference(spec, value, stars, bare) + (bare ? "|" : ">");
        const std::string got = Format(tmpl, arguments);
        EXPECT_EQ(got, expected) << "template '" << tmpl << "', argument kind "
                                 << static_cast<int>(value.kind) << ", round " << round;
        if (got != expected && ++differences > 20) {
            FAIL() << "too many differences";
        }
    }
}

// A generated template, its arguments and its expected output (up to where the walk stops).
struct Case {
    std::string tmpl;
    std::string expected;
    std::deque<Value> values;
};

Case RandomTemplate(Generator& random) {
    Case c;
    const int count = random.Below(4) + 1;
    for (int i = 0; i < count; ++i) {
        Value& value = AddValue(c.values, random, KindAt(random.Below(kKindCount)));
        // Any integer may serve as a "*": keep its low 32 bits small, so that widths stay
        // within what the reference prints.
        const int small = random.Below(80) - 20;
        value.i32 = small;
        value.u32 = static_cast<uint32_t>(small);
        value.i64 = static_cast<int64_t>((value.u64 & ~uint64_t{0xFFFFFFFF}) +
                                         static_cast<uint32_t>(small));
        value.u64 = static_cast<uint64_t>(value.i64);
    }
    int counter = 1;
    bool stopped = false;
    const int pieces = random.Below(7) + 1;
    for (int piece = 0; piece < pieces && !stopped; ++piece) {
        if (random.Chance(35)) {
            // Ordinary text, or a doubled percent sign.
            if (random.Chance(20)) {
                c.tmpl += "%%";
                c.expected += "%";
            } else {
                const std::string literal = RandomText(random, 6, "abcXYZ -#*.lhn") + "_";
                c.tmpl += literal;
                c.expected += literal;
            }
            continue;
        }
        const int chosen = random.Below(count);
        const Value& target = c.values[static_cast<std::size_t>(chosen)];
        Spec spec = RandomSpec(random, target);
        const int form = random.Below(3); // 0 sequential, 1 explicit index, 2 bare "%N"
        if (form == 0 && spec.flags.empty() && spec.widthKind == 1 && spec.width <= count) {
            spec.width += count; // a number up to the count would name an argument
        }
        int starIndex[2] = {0, 0};
        std::vector<int> stars;
        bool stop = false;
        auto takeStar = [&](int slot) {
            int index;
            if (random.Chance(50)) {
                // Explicit, sometimes naming an argument that does not exist.
                index = random.Chance(5) ? count + 1 : random.Below(count) + 1;
                starIndex[slot] = index;
            } else {
                index = counter++;
            }
            if (index > count || !c.values[static_cast<std::size_t>(index - 1)].UsableAsInt()) {
                stop = true;
                return;
            }
            stars.push_back(c.values[static_cast<std::size_t>(index - 1)].AsInt());
        };
        if (form != 2) {
            if (spec.widthKind == 2) {
                takeStar(0);
            }
            if (spec.precisionKind == 3 && !stop) {
                takeStar(1);
            }
        }
        int index = form == 0 ? 0 : chosen + 1;
        int used = index;
        if (!stop && form == 0) {
            used = counter++;
            if (used > count) {
                stop = true;
            }
        }
        // A stop ends the output before this conversion; the rest of the template is not read.
        c.tmpl += Spell(spec, index, starIndex, form == 2);
        if (stop) {
            stopped = true;
            break;
        }
        c.expected +=
            Reference(spec, c.values[static_cast<std::size_t>(used - 1)], stars, form == 2);
        if (form == 2) {
            c.tmpl += "|";
            c.expected += "|";
        }
    }
    return c;
}

TEST(FormatDifferential, TemplatesMixingNumberedAndSequentialConversions) {
    Generator random(0x5EED0002);
    int differences = 0;
    for (int round = 0; round < 5000 && differences < 20; ++round) {
        Case c = RandomTemplate(random);
        const std::string got = Format(c.tmpl, c.values);
        EXPECT_EQ(got, c.expected) << "template '" << c.tmpl << "', round " << round;
        differences += got != c.expected ? 1 : 0;
    }
}

TEST(FormatDifferential, TruncationAtEveryBufferSizeKeepsAPrefix) {
    Generator random(0x5EED0003);
    for (int round = 0; round < 300; ++round) {
        Case c = RandomTemplate(random);
        std::vector<FormatArgument> arguments;
        for (const Value& value : c.values) {
            arguments.push_back(value.Argument());
        }
        for (std::size_t size = 1; size <= c.expected.size() + 2; ++size) {
            std::vector<char> buffer(size + 8, '\x7f');
            const std::size_t length =
                FormatMessageInto(buffer.data(), size, c.tmpl.c_str(), arguments.data(),
                                  static_cast<int>(arguments.size()));
            const std::size_t want = c.expected.size() < size ? c.expected.size() : size - 1;
            ASSERT_EQ(length, want) << "template '" << c.tmpl << "', size " << size;
            EXPECT_EQ(std::string(buffer.data(), length), c.expected.substr(0, want))
                << "template '" << c.tmpl << "', size " << size;
            EXPECT_EQ(buffer[length], '\0');
            for (std::size_t i = size; i < buffer.size(); ++i) {
                ASSERT_EQ(buffer[i], '\x7f') << "written beyond a buffer of " << size << " bytes";
            }
        }
        // A buffer of no bytes is left alone.
        char untouched = '\x7f';
        EXPECT_EQ(FormatMessageInto(&untouched, 0, c.tmpl.c_str(), arguments.data(),
                                    static_cast<int>(arguments.size())),
                  0u);
        EXPECT_EQ(untouched, '\x7f');
    }
}

TEST(FormatDifferential, LengthModifiersPrintTheSameOnEveryWordSize) {
    // The template's own modifier never decides how many bytes of the value are read: "%ld"
    // and "%lx" print the whole 64-bit value where long has 32 bits as well, and "%Lf", "%jd",
    // "%zu", "%td" take the argument as the type it is.
    const int64_t big = 0x123456789LL;
    const uint64_t huge = 0xFEDCBA9876543210ULL;
    EXPECT_EQ(FormatMessage("%ld|%lx|%1$lu", big, big), "4886718345|123456789|4886718345");
    EXPECT_EQ(FormatMessage("%ld %lo", int64_t{-2}, huge), "-2 1773345651416625031020");
    EXPECT_EQ(FormatMessage("%jd %zu %td", big, huge, int64_t{-7}),
              "4886718345 18364758544493064720 -7");
    EXPECT_EQ(FormatMessage("%Lf %hf %lf", 1.5, 2.25, -0.5), "1.500000 2.250000 -0.500000");
    EXPECT_EQ(FormatMessage("%lld %llx", 5, 255u), "5 ff");
    EXPECT_EQ(FormatMessage("%zd %jx %tu", int32_t{-1}, uint32_t{0xABCDEF01u}, int32_t{-1}),
              "-1 abcdef01 4294967295");
    // "h" and "hh" narrow a 32-bit value as printf does.
    EXPECT_EQ(FormatMessage("%hhd %hd %hhu %hx", 300, 70000, -1, uint32_t{0x12345678u}),
              "44 4464 255 5678");
    EXPECT_EQ(FormatMessage("%hhd", '\xC8'), "-56");
    // "%lc" and "%ls" would read wide characters; the types print bytes.
    EXPECT_EQ(FormatMessage("%lc%ls%llc", 'a', "bc", int64_t{0x100000064LL}), "abcd");
}

TEST(FormatDifferential, CharacterConversionsDropShortModifiers) {
    // C defines "h" and "hh" only for integer conversions; with "c" the types hand printf a
    // plain "%c", which prints the low byte as "hh" would suggest.
    const int32_t code = 0x141;
    const char letter = 'q';
    for (const char* directive : {"%hhc", "%hc", "%-3hhc", "%1$hc"}) {
        for (const FormatArgument& argument : {FormatArgument{&code, &FormatTypes::kInt32},
                                               FormatArgument{&letter, &FormatTypes::kChar}}) {
            char text[64] = {};
            // The directive as the walk gathers it: without the index.
            const std::string gathered =
                std::string(directive).find('$') != std::string::npos
                    ? "%" + std::string(directive).substr(std::strlen("%1$"))
                    : std::string(directive);
            std::memcpy(text, gathered.c_str(), gathered.size());
            char output[16] = {};
            FormatRenderContext context{};
            context.output = output;
            context.room = sizeof output;
            context.directive = text;
            context.directiveLength = gathered.size();
            context.acceptedConversions = argument.type->acceptedConversions;
            context.defaultModifier = argument.type->defaultModifier;
            context.value = argument.value;
            const std::size_t written = argument.type->render(context);
            const std::string expected = argument.value == &code ? "A" : "q";
            EXPECT_EQ(std::string(output, written),
                      gathered.find('-') != std::string::npos ? expected + "  " : expected)
                << directive;
            EXPECT_EQ(std::string(text).find('h'), std::string::npos)
                << directive << " became " << text;
        }
    }
}

TEST(FormatDifferential, NumberBeyondTheCountIsAWidth) {
    std::deque<Value> values;
    Generator random(7);
    Value& text = AddValue(values, random, Kind::CText);
    text.text = "ab";
    text.cText = text.text.c_str();
    EXPECT_EQ(Format("[%3 x]", values), "[ abx]");
    EXPECT_EQ(Format("[%3.1 x]", values), "[  ax]");
    EXPECT_EQ(Format("[%5$s]", values), "[   abs]"); // "$" is the letter, replaced by "s"
    EXPECT_EQ(Format("[%12345678901s]", values).substr(0, 8), "[       ");
    // An explicit index names an argument; the sequential counter is not moved by it.
    Value& number = AddValue(values, random, Kind::Int32);
    number.i32 = -12;
    EXPECT_EQ(Format("[%2$05d|%s|%2|%d]", values), "[-0012|ab|-12|-12]");
    // "%3" is a width here; argument 1 is taken sequentially, then argument 2.
    EXPECT_EQ(Format("[%3$d|%s]", values), "[ abd|-12]");
}

TEST(FormatDifferential, StopsEndTheMessageWhereTheyOccur) {
    std::deque<Value> values;
    Generator random(9);
    Value& width = AddValue(values, random, Kind::UInt64);
    width.u64 = 0xFFFFFFFF00000004ULL; // low half 4
    Value& text = AddValue(values, random, Kind::StringView);
    text.text = "xyz";
    text.view = text.text;
    EXPECT_EQ(Format("a%*sb", values), "a xyzb");
    EXPECT_EQ(Format("a%*sb%sc", values), "a xyzb"); // sequential beyond the count
    EXPECT_EQ(Format("a%2$*2$sb", values), "a");     // "*" naming text
    EXPECT_EQ(Format("a%2$.*3$sb", values), "a");    // "*" beyond the count
    // A "*" followed by digits without "$" is a sequential "*"; the digit is the letter.
    EXPECT_EQ(Format("a%2$.*1$sb%2$*3sc", values), "axyzb xyzsc");
    // The directive's length, without index and "$", decides; 59 characters pass.
    const std::string flags57(57, ' ');
    EXPECT_EQ(Format("<%2$" + flags57 + "s>", values), "<xyz>");
    EXPECT_EQ(Format("<%2$ " + flags57 + "s>", values), "<");
    EXPECT_EQ(Format("<%2$" + std::string(56, '-') + "*1$s>", values), "<xyz >");
    EXPECT_EQ(Format("<%2$" + std::string(57, '-') + "*1$s>", values), "<");
}

TEST(FormatDifferential, HugeWidthsPadLongTextsAsPrintfWould) {
    // Only the first 4095 characters are kept, but they must be those printf would print: a
    // width larger than a long text still pads it on the left.
    const std::string longText(17000, 'a');
    const std::string padded = std::string(3000, ' ') + std::string(1095, 'a');
    EXPECT_EQ(Difference(FormatMessage("%20000s|", longText), padded), "");
    EXPECT_EQ(Difference(FormatMessage("%20000s|", longText.c_str()), padded), "");
    EXPECT_EQ(Difference(FormatMessage("%20000s|", std::string_view(longText)), padded), "");
    EXPECT_EQ(Difference(FormatMessage("%*s|", 20000, longText), padded), "");
    EXPECT_EQ(Difference(FormatMessage("%20000.16990s|", longText),
                         std::string(3010, ' ') + std::string(1085, 'a')),
              "");
    EXPECT_EQ(Difference(FormatMessage("%1$-20000s|", longText), std::string(4095, 'a')), "");

    // Texts longer than the buffer keep their full length for the width.
    const std::string fiveThousand(5000, 'v');
    const std::string thousandPadded = std::string(1000, ' ') + std::string(3095, 'v');
    EXPECT_EQ(Difference(FormatMessage("%6000s", std::string_view(fiveThousand)), thousandPadded),
              "");
    EXPECT_EQ(Difference(FormatMessage("%6000s", CharacterRun{5000, 'v'}), thousandPadded), "");
    EXPECT_EQ(Difference(FormatMessage("%.4500s|", std::string_view(fiveThousand)),
                         std::string(4095, 'v')),
              "");
    EXPECT_EQ(Difference(FormatMessage("%4600.4500s|", std::string_view(fiveThousand)),
                         std::string(100, ' ') + std::string(3995, 'v')),
              "");
    EXPECT_EQ(Difference(FormatMessage("%1$4600.*2$s|", std::string_view(fiveThousand), 4500),
                         std::string(100, ' ') + std::string(3995, 'v')),
              "");
}

TEST(FormatDifferential, ResultRecordsPadAndCutAsOneText) {
    const OperationResult small = OperationResult::Failure(7, "abc");
    EXPECT_EQ(FormatMessage("[%1$.5s|%1$10.5s|%1$-10.5s|%1$.2s]", small),
              "[abc (|     abc (|abc (     |ab]");
    EXPECT_EQ(FormatMessage("[%*.*s]", -9, 6, small), "[abc (7   ]");
    EXPECT_EQ(FormatMessage("[%1$*2$s]", small, 10), "[   abc (7)]");
    // A message longer than a whole message still counts for its full length under a width.
    const OperationResult longFailure = OperationResult::Failure(503, std::string(5000, 'm'));
    EXPECT_EQ(Difference(FormatMessage("%6000s", longFailure),
                         std::string(994, ' ') + std::string(3101, 'm')),
              "");
    EXPECT_EQ(Difference(FormatMessage("%-6000s", longFailure), std::string(4095, 'm')), "");
    std::vector<char> buffer(9000);
    const FormatArgument argument{&longFailure, &FormatTypes::kOperationResult};
    const std::size_t length =
        FormatMessageInto(buffer.data(), buffer.size(), "%-5010s|", &argument, 1);
    EXPECT_EQ(
        Difference(std::string(buffer.data(), length), std::string(5000, 'm') + " (503)    |"), "");
}

TEST(FormatDifferential, TheCoreRoutineFillsABufferLargerThanAMessage) {
    // FormatMessage keeps 4095 characters; the core routine fills whatever buffer it is given,
    // with what snprintf would write there.
    const int32_t five = 5;
    const double third = 1.0 / 3;
    const std::string longText(9000, 't');
    const char* cText = longText.c_str();
    const std::string_view view(longText);
    const FormatArgument arguments[] = {{&five, &FormatTypes::kInt32},
                                        {&third, &FormatTypes::kDouble},
                                        {&cText, &FormatTypes::kCText},
                                        {&view, &FormatTypes::kStringView}};
    std::vector<char> buffer(40000);
    const auto format = [&](const char* tmpl) {
        const std::size_t length =
            FormatMessageInto(buffer.data(), buffer.size(), tmpl, arguments, 4);
        return std::string(buffer.data(), length);
    };
    const auto print = [](const char* format, auto value) {
        std::vector<char> out(40000);
        const int printed = std::snprintf(out.data(), out.size(), format, value);
        return std::string(out.data(), static_cast<std::size_t>(printed));
    };
    EXPECT_EQ(Difference(format("%1$20000d"), print("%20000d", 5)), "");
    EXPECT_EQ(Difference(format("%1$-20000d|"), print("%-20000d|", 5)), "");
    EXPECT_EQ(Difference(format("%1$.12000d"), print("%.12000d", 5)), "");
    EXPECT_EQ(Difference(format("%2$.10000f"), print("%.10000f", third)), "");
    EXPECT_EQ(Difference(format("%2$30000.10000e"), print("%30000.10000e", third)), "");
    EXPECT_EQ(Difference(format("%3$s"), longText), "");
    EXPECT_EQ(Difference(format("%3$20000s"), print("%20000s", cText)), "");
    EXPECT_EQ(Difference(format("%4$s"), longText), "");
    EXPECT_EQ(Difference(format("%4$20000.8000s"), print("%20000.8000s", cText)), "");
}

} // namespace
} // namespace Korvel
