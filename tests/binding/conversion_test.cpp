#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "binding/conversion_test_types.h"
#include "binding/convert_to_property.h"
#include "binding/host_value_conversion.h"

namespace {

using namespace Korvel;
using namespace Korvel::ConversionTesting;

std::string OutOfRange(const std::string& value, const char* kind) {
    return "Value " + value + " for 'f' of type " + kind + " is out of range";
}

// A double as messages render it ("%g").
std::string G(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string BadFormat(const std::string& text, const char* kind) {
    return "Value " + text + " for 'f' of type " + kind + " is in an incorrect format";
}

class Conversion : public ::testing::Test {
protected:
    Conversion() { RegisterConversionTypes(registry); }

    // Assigns `input` to `destination` as a field named "f"; returns the message ("" on success).
    template <typename T>
    std::string Assign(T& destination, const BindingProperty& input) {
        BindingResult status;
        FromProperty(status, destination, input, "f", registry);
        EXPECT_EQ(status.IsSuccess(), status.GetError().empty());
        return status.GetError();
    }

    template <typename T>
    BindingResult Build(const T& source) {
        BindingResult output;
        ToProperty(output, source, registry);
        return output;
    }

    // The integer kind T at both limits and one beyond, from every input kind that can reach them.
    template <typename T>
    void CheckLimits(const char* kind) {
        SCOPED_TRACE(kind);
        using Limits = std::numeric_limits<T>;
        const auto min = static_cast<std::int64_t>(Limits::min());
        const auto max = static_cast<std::uint64_t>(Limits::max());
        constexpr bool is64 = sizeof(T) == 8;
        T value{};
        const auto expectValue = [&](const BindingProperty& input, std::uint64_t expected) {
            value = T{1};
            EXPECT_EQ(Assign(value, input), "");
            EXPECT_EQ(static_cast<std::uint64_t>(value), static_cast<std::uint64_t>(T(expected)));
        };
        const auto expectRange = [&](const BindingProperty& input, const std::string& shown) {
            value = T{1};
            EXPECT_EQ(Assign(value, input), OutOfRange(shown, kind));
            EXPECT_EQ(value, T{0}); // the failing field gets its zero value
        };

        // The maximum from unsigned, signed, text and float inputs.
        expectValue(BindingProperty(max), max);
        expectValue(BindingProperty(std::to_string(max)), max);
        if (!is64) {
            expectValue(BindingProperty(static_cast<std::int64_t>(max)), max);
            expectValue(BindingProperty(static_cast<double>(max)), max);
            expectRange(BindingProperty(max + 1), std::to_string(max + 1));
            expectRange(BindingProperty(static_cast<std::int64_t>(max + 1)),
                        std::to_string(max + 1));
            expectRange(BindingProperty(std::to_string(max + 1)), std::to_string(max + 1));
            expectRange(BindingProperty(static_cast<double>(max) + 1.0),
                        G(static_cast<double>(max) + 1.0));
        }
        // The minimum from signed, text and float inputs.
        expectValue(BindingProperty(min), static_cast<std::uint64_t>(min));
        expectValue(BindingProperty(std::to_string(min)), static_cast<std::uint64_t>(min));
        expectValue(BindingProperty(static_cast<double>(min)), static_cast<std::uint64_t>(min));
        if (Limits::is_signed && !is64) {
            expectRange(BindingProperty(min - 1), std::to_string(min - 1));
            expectRange(BindingProperty(std::to_string(min - 1)), std::to_string(min - 1));
            expectRange(BindingProperty(static_cast<double>(min) - 1.0),
                        G(static_cast<double>(min) - 1.0));
        }
        if (!Limits::is_signed) {
            expectRange(BindingProperty(std::int64_t{-1}), "-1");
            expectRange(BindingProperty("-1"), "-1");
            expectRange(BindingProperty(-0.5), "-0.5");
            // The sign alone makes a text out of range for an unsigned field.
            expectRange(BindingProperty("-0"), "-0");
        }
        // Enum records are tested as signed 32-bit values.
        if (!Limits::is_signed) {
            expectRange(BindingProperty(BindingEnumRecord{-1, nullptr}), "-1");
        }
        expectValue(BindingProperty(BindingEnumRecord{100, nullptr}), 100);
    }

    BindingRegistry registry;
};

TEST_F(Conversion, IntegerKindsAtTheirLimits) {
    CheckLimits<std::int8_t>("int8");
    CheckLimits<std::uint8_t>("uint8");
    CheckLimits<std::int16_t>("int16");
    CheckLimits<std::uint16_t>("uint16");
    CheckLimits<std::int32_t>("int32");
    CheckLimits<std::uint32_t>("uint32");
    CheckLimits<std::int64_t>("int64");
    CheckLimits<std::uint64_t>("uint64");
}

TEST_F(Conversion, SixtyFourBitKindsBeyondTheirLimits) {
    std::int64_t i64 = 1;
    EXPECT_EQ(Assign(i64, BindingProperty(std::uint64_t{9223372036854775808u})),
              OutOfRange("9223372036854775808", "int64"));
    EXPECT_EQ(Assign(i64, BindingProperty("9223372036854775808")),
              OutOfRange("9223372036854775808", "int64"));
    EXPECT_EQ(Assign(i64, BindingProperty("-9223372036854775809")),
              OutOfRange("-9223372036854775809", "int64"));
    // 2^63 passes a comparison with the maximum taken as a double, yet has no int64 value.
    EXPECT_EQ(Assign(i64, BindingProperty(9223372036854775808.0)),
              OutOfRange("9.22337e+18", "int64"));
    EXPECT_EQ(Assign(i64, BindingProperty(-1e19)), OutOfRange("-1e+19", "int64"));
    // Hexadecimal texts reach both ends exactly; one beyond overflows the parse.
    EXPECT_EQ(Assign(i64, BindingProperty("-0x8000000000000000")), "");
    EXPECT_EQ(i64, INT64_MIN);
    EXPECT_EQ(Assign(i64, BindingProperty("0x8000000000000000")),
              OutOfRange("0x8000000000000000", "int64"));

    std::uint64_t u64 = 1;
    EXPECT_EQ(Assign(u64, BindingProperty("18446744073709551616")),
              OutOfRange("18446744073709551616", "uint64"));
    EXPECT_EQ(Assign(u64, BindingProperty(18446744073709551616.0)),
              OutOfRange("1.84467e+19", "uint64"));
    EXPECT_EQ(Assign(u64, BindingProperty(std::int64_t{INT64_MIN})),
              OutOfRange("-9223372036854775808", "uint64"));
    // A minus sign after blanks is still a minus sign.
    EXPECT_EQ(Assign(u64, BindingProperty(" -5")), OutOfRange(" -5", "uint64"));
    EXPECT_EQ(Assign(u64, BindingProperty(9007199254740992.0)), "");
    EXPECT_EQ(u64, 9007199254740992u);
    EXPECT_EQ(Assign(u64, BindingProperty("0xFFFFFFFFFFFFFFFF")), "");
    EXPECT_EQ(u64, UINT64_MAX);
    // strtoull reads "-18446744073709551615" as 1; the sign alone refuses it.
    EXPECT_EQ(Assign(u64, BindingProperty("-18446744073709551615")),
              OutOfRange("-18446744073709551615", "uint64"));

    std::int32_t i32 = 1;
    EXPECT_EQ(Assign(i32, BindingProperty(std::nan(""))), OutOfRange("nan", "int32"));
    EXPECT_EQ(Assign(i32, BindingProperty(std::numeric_limits<double>::infinity())),
              OutOfRange("inf", "int32"));
}

TEST_F(Conversion, IntegerTextUsesAutomaticBase) {
    std::int32_t value = 0;
    const auto parsed = [&](const char* text) {
        value = -7;
        const std::string message = Assign(value, BindingProperty(text));
        EXPECT_EQ(message, "") << text;
        return value;
    };
    EXPECT_EQ(parsed("0x1F"), 31);
    EXPECT_EQ(parsed("0X1f"), 31);
    EXPECT_EQ(parsed("017"), 15);
    EXPECT_EQ(parsed("  +12"), 12);
    EXPECT_EQ(parsed("-0x10"), -16);
    EXPECT_EQ(parsed(""), 0); // the empty text is 0 without a message

    std::uint8_t byte = 0;
    EXPECT_EQ(Assign(byte, BindingProperty("0x1F")), "");
    EXPECT_EQ(byte, 31);
    EXPECT_EQ(Assign(byte, BindingProperty("0x100")), OutOfRange("0x100", "uint8"));

    value = 5;
    EXPECT_EQ(Assign(value, BindingProperty("12abc")), BadFormat("12abc", "int32"));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Assign(value, BindingProperty("   ")), BadFormat("   ", "int32"));
    EXPECT_EQ(Assign(value, BindingProperty("08")), BadFormat("08", "int32"));
    EXPECT_EQ(Assign(value, BindingProperty("12 ")), BadFormat("12 ", "int32"));
    EXPECT_EQ(Assign(value, BindingProperty("0x")), BadFormat("0x", "int32"));
    // The format test comes before the range test.
    EXPECT_EQ(Assign(byte, BindingProperty("999x")), BadFormat("999x", "uint8"));
}

TEST_F(Conversion, IntegersFromOtherKinds) {
    std::int32_t value = 0;
    EXPECT_EQ(Assign(value, BindingProperty(2.9)), "");
    EXPECT_EQ(value, 2);
    EXPECT_EQ(Assign(value, BindingProperty(-2.9)), "");
    EXPECT_EQ(value, -2);
    EXPECT_EQ(Assign(value, BindingProperty()), "A value for 'f' is required.");
    EXPECT_EQ(Assign(value, BindingProperty(true)),
              "Couldn't assign value to 'f' of type int32 because the input is of an invalid "
              "type bool.");
    BindingProperty list;
    list.Append();
    EXPECT_EQ(Assign(value, list), "Couldn't assign value to 'f' of type int32 because the input "
                                   "is of an invalid type collection.");
    std::uint16_t u16 = 0;
    BindingProperty blob;
    blob.SetBlob(std::vector<std::uint8_t>{1});
    EXPECT_EQ(Assign(u16, blob), "Couldn't assign value to 'f' of type uint16 because the input "
                                 "is of an invalid type blob.");
    EXPECT_EQ(Assign(u16, BindingProperty::EmptyValue()), "A value for 'f' is required.");
}

TEST_F(Conversion, FloatingPointFields) {
    float f32 = 1.0f;
    EXPECT_EQ(Assign(f32, BindingProperty(0.1)), "");
    EXPECT_EQ(f32, 0.1f); // narrowed to 32 bits
    EXPECT_EQ(Assign(f32, BindingProperty(3.4028234663852886e38)), "");
    EXPECT_EQ(f32, std::numeric_limits<float>::max());
    EXPECT_EQ(Assign(f32, BindingProperty(1e39)), OutOfRange("1e+39", "float"));
    EXPECT_EQ(f32, 0.0f);
    EXPECT_EQ(Assign(f32, BindingProperty(-1e39)), OutOfRange("-1e+39", "float"));
    EXPECT_EQ(Assign(f32, BindingProperty("1e39")), OutOfRange("1e39", "float"));
    EXPECT_EQ(Assign(f32, BindingProperty(std::uint64_t{UINT64_MAX})), "");
    EXPECT_EQ(f32, 18446744073709551615.0f); // integers are never out of range
    EXPECT_EQ(Assign(f32, BindingProperty(std::int64_t{-3})), "");
    EXPECT_EQ(f32, -3.0f);

    double f64 = 1.0;
    EXPECT_EQ(Assign(f64, BindingProperty("0x1p3")), "");
    EXPECT_EQ(f64, 8.0);
    EXPECT_EQ(Assign(f64, BindingProperty(" -2.5e-3")), "");
    EXPECT_EQ(f64, -2.5e-3);
    EXPECT_EQ(Assign(f64, BindingProperty("")), "");
    EXPECT_EQ(f64, 0.0);
    EXPECT_EQ(Assign(f64, BindingProperty("1e-400")), ""); // underflow is not overflow
    EXPECT_EQ(Assign(f64, BindingProperty("1e400")), OutOfRange("1e400", "double"));
    EXPECT_EQ(Assign(f64, BindingProperty(std::numeric_limits<double>::infinity())),
              OutOfRange("inf", "double"));
    EXPECT_EQ(Assign(f64, BindingProperty("1.5.")), BadFormat("1.5.", "double"));
    EXPECT_EQ(Assign(f64, BindingProperty("  ")), BadFormat("  ", "double"));
    EXPECT_EQ(Assign(f64, BindingProperty(1.7976931348623157e308)), "");
    EXPECT_EQ(Assign(f64, BindingProperty(false)),
              "Couldn't assign value to 'f' of type double because the input is of an invalid "
              "type bool.");
    EXPECT_EQ(Assign(f64, BindingProperty(BindingEnumRecord{-4, nullptr})), "");
    EXPECT_EQ(f64, -4.0);
}

TEST_F(Conversion, BoolFields) {
    bool flag = false;
    for (const char* text : {"1", "true"}) {
        flag = false;
        EXPECT_EQ(Assign(flag, BindingProperty(text)), "");
        EXPECT_TRUE(flag);
    }
    for (const char* text : {"0", "false"}) {
        flag = true;
        EXPECT_EQ(Assign(flag, BindingProperty(text)), "");
        EXPECT_FALSE(flag);
    }
    flag = true;
    EXPECT_EQ(Assign(flag, BindingProperty("TRUE")),
              "Value TRUE for 'f' of type bool is in an incorrect format. Options are \"true\", "
              "\"false\", \"1\", \"0\".");
    EXPECT_FALSE(flag);
    EXPECT_EQ(Assign(flag, BindingProperty(std::int64_t{1})),
              "Couldn't assign value to 'f' of type bool because the input is of an invalid type "
              "signed.");
    EXPECT_EQ(Assign(flag, BindingProperty(std::uint64_t{1})),
              "Couldn't assign value to 'f' of type bool because the input is of an invalid type "
              "unsigned.");
    EXPECT_EQ(Assign(flag, BindingProperty()), "A value for 'f' is required.");
    EXPECT_EQ(Assign(flag, BindingProperty(true)), "");
    EXPECT_TRUE(flag);
}

TEST_F(Conversion, StringFields) {
    std::string text = "old";
    EXPECT_EQ(Assign(text, BindingProperty("new")), "");
    EXPECT_EQ(text, "new");
    EXPECT_EQ(Assign(text, BindingProperty(std::uint64_t{5})),
              "Couldn't assign value to 'f' because the input is not a string.");
    EXPECT_EQ(text, "");
    EXPECT_EQ(Assign(text, BindingProperty()), "A value for 'f' is required.");

    const StaticTypeId& severity = StaticType::Identity<Severity>();
    EXPECT_EQ(Assign(text, BindingProperty(BindingEnumRecord{1, &severity})), "");
    EXPECT_EQ(text, "warn");
    EXPECT_EQ(Assign(text, BindingProperty(BindingEnumRecord{7, &severity})),
              "7 is not a valid enumeration value for 'f'.");
    EXPECT_EQ(
        Assign(text, BindingProperty(BindingEnumRecord{0, &StaticType::Identity<Unlisted>()})),
        "Couldn't assign value to 'f' because the enumeration type of the input is not "
        "registered.");
}

TEST_F(Conversion, EnumFields) {
    Severity severity = Severity::Warn;
    for (const BindingProperty& zero :
         {BindingProperty("info"), BindingProperty("0"), BindingProperty(std::int64_t{0}),
          BindingProperty(std::uint64_t{0})}) {
        severity = Severity::Warn;
        EXPECT_EQ(Assign(severity, zero), "");
        EXPECT_EQ(severity, Severity::Info);
    }
    EXPECT_EQ(Assign(severity, BindingProperty("error")), "");
    EXPECT_EQ(severity, Severity::Error);
    EXPECT_EQ(Assign(severity, BindingProperty("0x2")), "");
    EXPECT_EQ(severity, Severity::Error);
    EXPECT_EQ(Assign(severity, BindingProperty("Info")),
              "Info is not a valid Severity enumeration value for 'f'.");
    EXPECT_EQ(severity, Severity::Info); // the zero value
    EXPECT_EQ(Assign(severity, BindingProperty("7")),
              "7 is not a valid Severity enumeration value for 'f'.");
    EXPECT_EQ(Assign(severity, BindingProperty("1x")),
              "1x is not a valid Severity enumeration value for 'f'.");
    EXPECT_EQ(Assign(severity, BindingProperty(std::int64_t{-3})),
              "-3 is not a valid Severity enumeration value for 'f'.");
    // Only 32-bit numbers name enumerators: 2^32 is not 0.
    EXPECT_EQ(Assign(severity, BindingProperty(std::int64_t{4294967296})),
              "4294967296 is not a valid Severity enumeration value for 'f'.");
    EXPECT_EQ(Assign(severity, BindingProperty(std::uint64_t{4294967296})),
              "4294967296 is not a valid Severity enumeration value for 'f'.");
    // Enum records are taken by value whatever their type.
    EXPECT_EQ(Assign(severity, BindingProperty(BindingEnumRecord{2, nullptr})), "");
    EXPECT_EQ(severity, Severity::Error);
    EXPECT_EQ(Assign(severity, BindingProperty(BindingEnumRecord{5, nullptr})),
              "5 is not a valid Severity enumeration value for 'f'.");
    EXPECT_EQ(Assign(severity, BindingProperty(1.0)),
              "Couldn't assign value to 'f' of enum type because the input is of an invalid type "
              "float.");
    EXPECT_EQ(Assign(severity, BindingProperty()), "A value for 'f' is required.");

    // Storage widths: 1 byte signed, 8 bytes sign-extended.
    Tiny tiny = Tiny::Zero;
    EXPECT_EQ(Assign(tiny, BindingProperty("low")), "");
    EXPECT_EQ(tiny, Tiny::Low);
    EXPECT_EQ(Assign(tiny, BindingProperty(std::uint64_t{4294967295u})), "");
    EXPECT_EQ(tiny, Tiny::Low); // the 32-bit pattern of -1
    Wide wide = Wide::Big;
    EXPECT_EQ(Assign(wide, BindingProperty(std::int64_t{-2})), "");
    EXPECT_EQ(static_cast<std::int64_t>(wide), -2);

    BindingResult built = Build(tiny);
    ASSERT_TRUE(built.IsSuccess());
    ASSERT_EQ(built.value.Kind(), BindingKind::Enum);
    EXPECT_EQ(built.value.GetEnum().value, -1);
    EXPECT_EQ(built.value.GetEnum().type, &StaticType::Identity<Tiny>());
    built = Build(wide);
    EXPECT_EQ(built.value.GetEnum().value, -2);
    EXPECT_EQ(built.value.GetEnum().type, &StaticType::Identity<Wide>());
}

TEST_F(Conversion, UnregisteredTypesFailClearly) {
    // "unlisted" is an enum field whose enumeration was never registered; "late" a struct field
    // whose record was registered after the record that holds it.
    Orphans orphans;
    BindingProperty input;
    input.Member("unlisted") = "only";
    BindingResult status;
    FromProperty(status, orphans, input, "<value>", registry);
    EXPECT_EQ(status.GetError(),
              "Couldn't assign value to 'unlisted' because its enumeration type is not "
              "registered.");

    input.RemoveMember("unlisted");
    input.Member("late").Member("number") = 1;
    status.Reset();
    FromProperty(status, orphans, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Couldn't assign value to 'late' because the input is an "
                                 "unregistered structure or not a structure at all.");

    BindingResult output;
    ToProperty(output, orphans, registry);
    EXPECT_FALSE(output.IsSuccess());
    EXPECT_EQ(output.GetError(),
              "Couldn't convert value of 'unlisted' because its enumeration type is not "
              "registered.");

    BindingRegistry empty;
    Inner inner;
    output.Reset();
    ToProperty(output, inner, empty);
    EXPECT_EQ(output.GetError(),
              "Couldn't convert native value because it's an unregistered structure.");
    status.Reset();
    FromProperty(status, inner, input, "<value>", empty);
    EXPECT_EQ(status.GetError(), "Couldn't assign value to '<value>' because the input is an "
                                 "unregistered structure or not a structure at all.");
    BindingProperty untouched("kept");
    EXPECT_FALSE(ConvertToProperty(inner, untouched, empty));
    EXPECT_EQ(untouched.GetString(), "kept");
}

TEST_F(Conversion, BlobAndObjectFields) {
    std::vector<std::uint8_t> blob{9};
    EXPECT_EQ(Assign(blob, BindingProperty("YWJj")), "");
    EXPECT_EQ(blob, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(Assign(blob, BindingProperty("YQ==")), "");
    EXPECT_EQ(blob, (std::vector<std::uint8_t>{'a'}));
    EXPECT_EQ(Assign(blob, BindingProperty("")), "");
    EXPECT_TRUE(blob.empty());
    blob = {9};
    EXPECT_EQ(Assign(blob, BindingProperty("YW Jj")),
              "Couldn't assign string value to 'f' of type blob because the input has invalid "
              "base64 characters.");
    EXPECT_TRUE(blob.empty());
    BindingProperty bytes;
    bytes.SetBlob(std::vector<std::uint8_t>{0, 255});
    EXPECT_EQ(Assign(blob, bytes), "");
    EXPECT_EQ(blob, (std::vector<std::uint8_t>{0, 255}));
    EXPECT_EQ(Assign(blob, BindingProperty(std::int64_t{1})),
              "Couldn't assign value to 'f' of type blob because the input is not a blob.");
    EXPECT_EQ(Assign(blob, BindingProperty()), "A value for 'f' is required.");

    BindingProperty object("old");
    BindingProperty input;
    input.Member("a").Append() = "x";
    EXPECT_EQ(Assign(object, input), "");
    EXPECT_EQ(object, input);
    EXPECT_EQ(Assign(object, BindingProperty()), ""); // any kind, "empty" included
    EXPECT_TRUE(object.IsEmpty());
    // An input inside the destination's own tree.
    object = input;
    EXPECT_EQ(Assign(object, std::as_const(object).Member("a")), "");
    EXPECT_EQ(object.Kind(), BindingKind::Collection);
    EXPECT_EQ(object.Element(0).GetString(), "x");
}

TEST_F(Conversion, CallbackFieldsAreUnsigned32BitHandles) {
    BindingCallback callback{5};
    EXPECT_EQ(Assign(callback, BindingProperty("0x10")), "");
    EXPECT_EQ(callback.id, 16u);
    EXPECT_EQ(Assign(callback, BindingProperty(std::uint64_t{4294967296})),
              OutOfRange("4294967296", "callback"));
    EXPECT_EQ(callback.id, 0u);
    EXPECT_EQ(Assign(callback, BindingProperty(true)), "Couldn't assign value to 'f' of type "
                                                       "callback because the input is of an "
                                                       "invalid type bool.");
    callback.id = 9;
    const BindingResult built = Build(callback);
    EXPECT_EQ(built.value.Kind(), BindingKind::Unsigned);
    EXPECT_EQ(built.value.GetUnsigned(), 9u);
}

TEST_F(Conversion, VectorFields) {
    std::vector<std::int32_t> numbers{5, 5, 5, 5};
    BindingProperty input;
    input.Append() = 1;
    input.Append(); // "empty": the element keeps its initial value
    input.Append() = "0x3";
    EXPECT_EQ(Assign(numbers, input), "");
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 0, 3}));

    EXPECT_EQ(Assign(numbers, BindingProperty()),
              "Couldn't assign value to 'f' of type vector because the input not a collection.");
    EXPECT_TRUE(numbers.empty());
    std::vector<bool> bits{true};
    EXPECT_EQ(Assign(bits, BindingProperty()), "A value for 'f' is required.");
    EXPECT_EQ(Assign(bits, BindingProperty("x")),
              "Couldn't assign value to 'f' of type vector because the input not a collection.");
    BindingProperty flags;
    flags.Append() = true;
    flags.Append() = "0";
    flags.Append() = "1";
    flags.Append();
    EXPECT_EQ(Assign(bits, flags), "");
    EXPECT_EQ(bits, (std::vector<bool>{true, false, true, false}));

    // The first failing element ends the loop; its message names the vector field.
    BindingProperty bad;
    bad.Append() = 1;
    bad.Append() = 300;
    bad.Append() = "x";
    std::vector<std::int8_t> small;
    EXPECT_EQ(Assign(small, bad), OutOfRange("300", "int8"));
    EXPECT_EQ(small, (std::vector<std::int8_t>{1, 0, 0}));

    std::vector<Inner> inners;
    BindingProperty records;
    records.Append().Member("number") = 4;
    records.Append() = 2;
    EXPECT_EQ(Assign(inners, records),
              "Couldn't assign value to 'f' of type Inner because the input not a structure.");
    ASSERT_EQ(inners.size(), 2u);
    EXPECT_EQ(inners[0].number, 4);

    std::vector<std::vector<std::int32_t>> grid;
    BindingProperty rows;
    rows.Append().Append() = 1;
    rows.Append();
    rows.Append().Append() = -2;
    EXPECT_EQ(Assign(grid, rows), "");
    EXPECT_EQ(grid, (std::vector<std::vector<std::int32_t>>{{1}, {}, {-2}}));

    const BindingResult built = Build(std::vector<bool>{true, false});
    ASSERT_EQ(built.value.Size(), 2u);
    EXPECT_EQ(built.value.Element(0).Kind(), BindingKind::Bool);
    EXPECT_TRUE(built.value.Element(0).GetBool());
    EXPECT_FALSE(built.value.Element(1).GetBool(true));
    const BindingResult none = Build(std::vector<std::int32_t>{});
    EXPECT_EQ(none.value.Kind(), BindingKind::Collection);
    EXPECT_EQ(none.value.Size(), 0u);
}

TEST_F(Conversion, EnumerationsInsideVectorsAndMaps) {
    std::vector<Severity> severities{Severity::Error};
    BindingProperty input;
    input.Append() = "warn";
    input.Append() = std::int64_t{2};
    input.Append(); // "empty": the element keeps its initial value
    input.Append() = "0x1";
    EXPECT_EQ(Assign(severities, input), "");
    EXPECT_EQ(severities, (std::vector<Severity>{Severity::Warn, Severity::Error, Severity::Info,
                                                 Severity::Warn}));
    input.Append() = "fatal";
    EXPECT_EQ(Assign(severities, input),
              "fatal is not a valid Severity enumeration value for 'f'.");
    ASSERT_EQ(severities.size(), 5u);
    EXPECT_EQ(severities[4], Severity::Info);

    std::unordered_map<std::string, Severity> byKey{{"old", Severity::Warn}};
    BindingProperty members;
    members.Member("a") = "error";
    members.Member("b") = std::uint64_t{1};
    EXPECT_EQ(Assign(byKey, members), "");
    EXPECT_EQ(byKey, (std::unordered_map<std::string, Severity>{{"a", Severity::Error},
                                                                {"b", Severity::Warn}}));
    members.Member("c") = 1.5;
    EXPECT_EQ(Assign(byKey, members), "Couldn't assign value to 'f' of enum type because the "
                                      "input is of an invalid type float.");

    // Out: enum records of the enumeration's identity, numbers that are no enumerator included.
    const BindingResult built =
        Build(std::vector<Severity>{Severity::Warn, static_cast<Severity>(5)});
    ASSERT_TRUE(built.IsSuccess()) << built.GetError();
    ASSERT_EQ(built.value.Size(), 2u);
    EXPECT_EQ(built.value.Element(0).GetEnum().value, 1);
    EXPECT_EQ(built.value.Element(0).GetEnum().type, &StaticType::Identity<Severity>());
    EXPECT_EQ(built.value.Element(1).GetEnum().value, 5);

    // Elements of an enumeration that was never registered fail in both directions.
    const BindingResult unlisted = Build(std::vector<Unlisted>{Unlisted::Only});
    EXPECT_EQ(unlisted.GetError(), "Couldn't convert value of '<value>' because its enumeration "
                                   "type is not registered.");
    std::vector<Unlisted> back;
    BindingProperty one;
    one.Append() = "only";
    EXPECT_EQ(Assign(back, one),
              "Couldn't assign value to 'f' because its enumeration type is not registered.");
}

TEST_F(Conversion, RecordsInsideMapsAndOptionals) {
    std::unordered_map<std::string, Inner> byName{{"old", {1, "one"}}};
    BindingProperty input;
    input.Member("x").Member("number") = 5;
    input.Member("y"); // "empty": no entry
    input.Member("z").Member("label") = "zed";
    EXPECT_EQ(Assign(byName, input), "");
    EXPECT_EQ(byName, (std::unordered_map<std::string, Inner>{{"x", {5, ""}}, {"z", {0, "zed"}}}));
    input.Member("w") = "not a record";
    EXPECT_EQ(Assign(byName, input),
              "Couldn't assign value to 'f' of type Inner because the input not a structure.");

    std::optional<Inner> maybe;
    BindingProperty record;
    record.Member("label") = "l";
    EXPECT_EQ(Assign(maybe, record), "");
    ASSERT_TRUE(maybe.has_value());
    EXPECT_EQ(*maybe, (Inner{0, "l"}));
    EXPECT_EQ(Build(maybe).value.Member("label").GetString(), "l");
    EXPECT_EQ(Assign(maybe, BindingProperty()), "");
    EXPECT_FALSE(maybe.has_value());
    EXPECT_TRUE(Build(maybe).value.IsEmpty());
}

TEST_F(Conversion, MapFields) {
    std::unordered_map<std::string, std::int32_t> map{{"old", 1}};
    BindingProperty input;
    input.Member("b") = 2;
    input.Member("a") = "1";
    input.Member("skipped");
    EXPECT_EQ(Assign(map, input), "");
    EXPECT_EQ(map, (std::unordered_map<std::string, std::int32_t>{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(Assign(map, BindingProperty(std::int64_t{1})),
              "Couldn't assign value to 'f' of type map because the input not a structure.");
    EXPECT_TRUE(map.empty());
    input.Member("c") = true;
    EXPECT_EQ(Assign(map, input), "Couldn't assign value to 'f' of type int32 because the input "
                                  "is of an invalid type bool.");

    const BindingResult built =
        Build(std::unordered_map<std::string, Severity>{{"k", Severity::Warn}});
    ASSERT_TRUE(built.IsSuccess());
    EXPECT_EQ(built.value.Member("k").GetEnum().value, 1);
}

TEST_F(Conversion, RecordsMissingAndRequiredFields) {
    Flagged flagged;
    flagged.first = 11;
    flagged.last = 12;
    BindingProperty input;
    input.Member("needed") = 5;
    input.Member("unknown") = "ignored";
    input.Member("last"); // "empty": the field keeps its value
    BindingResult status;
    FromProperty(status, flagged, input, "<value>", registry);
    EXPECT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_EQ(flagged.first, 11);
    EXPECT_EQ(flagged.needed, 5);
    EXPECT_EQ(flagged.last, 12);

    input.Member("needed").Clear();
    status.Reset();
    FromProperty(status, flagged, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Couldn't assign value to '<value>' of type Flagged because the "
                                 "input structure doesn't have required field 'needed'.");

    status.Reset();
    FromProperty(status, flagged, BindingProperty(), "<value>", registry);
    EXPECT_EQ(status.GetError(), "A value for '<value>' is required.");
    status.Reset();
    FromProperty(status, flagged, BindingProperty("x"), "<value>", registry);
    EXPECT_EQ(status.GetError(),
              "Couldn't assign value to '<value>' of type Flagged because the input not a "
              "structure.");
}

TEST_F(Conversion, PartialAssignmentAndFirstFailure) {
    Ordered ordered{1, 2, 3};
    BindingProperty input;
    input.Member("a") = 10;
    input.Member("b") = 1000;
    input.Member("c") = 30;
    BindingResult status;
    FromProperty(status, ordered, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Value 1000 for 'b' of type int8 is out of range");
    EXPECT_EQ(ordered.a, 10); // converted before the failure
    EXPECT_EQ(ordered.b, 0);  // the failing field's zero value
    EXPECT_EQ(ordered.c, 3);  // untouched after it

    // A status that has already failed keeps its message; scalars still get their zero value.
    std::int32_t number = 9;
    std::string text = "t";
    FromProperty(status, number, BindingProperty("x"), "g", registry);
    FromProperty(status, text, BindingProperty(std::int64_t{1}), "g", registry);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(status.GetError(), "Value 1000 for 'b' of type int8 is out of range");

    // The deepest failing field's name, without a path.
    Every every;
    BindingProperty nested;
    nested.Member("inners").Append().Member("number") = "many";
    status.Reset();
    FromProperty(status, every, nested, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Value many for 'number' of type int32 is in an incorrect format");

    // ToProperty stops at the first failing field and passes its message on unchanged.
    BindingResult output;
    output.SetError("earlier");
    ToProperty(output, ordered, registry);
    EXPECT_EQ(output.GetError(), "earlier");
}

TEST_F(Conversion, OmitDefaultAndOptionalFields) {
    Flagged flagged;
    BindingResult built = Build(flagged);
    ASSERT_TRUE(built.IsSuccess());
    EXPECT_FALSE(built.value.HasMember("omitted"));
    EXPECT_FALSE(built.value.HasMember("omittedText"));
    EXPECT_TRUE(built.value.HasMember("first")); // 0 without the flag is kept
    flagged.omitted = 1;
    flagged.omittedText = "x";
    built = Build(flagged);
    EXPECT_EQ(built.value.Member("omitted").GetSigned(), 1);
    EXPECT_EQ(built.value.Member("omittedText").GetString(), "x");
    EXPECT_EQ(built.value.Size(), 5u);

    Every every;
    built = Build(every);
    EXPECT_FALSE(built.value.HasMember("maybe")); // an optional without a value is left out
    every.maybe = 0;
    built = Build(every);
    EXPECT_TRUE(built.value.HasMember("maybe"));

    std::optional<std::int32_t> maybe = 4;
    EXPECT_EQ(Assign(maybe, BindingProperty()), "");
    EXPECT_FALSE(maybe.has_value());
    EXPECT_EQ(Assign(maybe, BindingProperty("7")), "");
    EXPECT_EQ(maybe.value_or(-1), 7);
    EXPECT_EQ(Assign(maybe, BindingProperty("x")), BadFormat("x", "int32"));
    EXPECT_FALSE(maybe.has_value());

    // Inside a record an absent or "empty" member leaves an optional field as it is, like any
    // other field; a value engages it.
    every.maybe = 3;
    every.maybeText.reset();
    BindingProperty input;
    input.Member("maybe");
    BindingResult status;
    FromProperty(status, every, input, "<value>", registry);
    EXPECT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_EQ(every.maybe, std::optional<std::int32_t>(3));
    EXPECT_FALSE(every.maybeText.has_value());
    input.Member("maybe") = std::int64_t{-4};
    input.Member("maybeText") = "t";
    FromProperty(status, every, input, "<value>", registry);
    EXPECT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_EQ(every.maybe, std::optional<std::int32_t>(-4));
    EXPECT_EQ(every.maybeText, std::optional<std::string>("t"));
    input.Member("maybe") = "many";
    FromProperty(status, every, input, "<value>", registry);
    EXPECT_EQ(status.GetError(), "Value many for 'maybe' of type int32 is in an incorrect format");
    EXPECT_FALSE(every.maybe.has_value());
}

TEST_F(Conversion, WholeRecordsBothWays) {
    const Every sample = SampleEvery();
    BindingProperty value;
    ASSERT_TRUE(ConvertToProperty(sample, value, registry));
    EXPECT_EQ(value.Member("i8").Kind(), BindingKind::Signed);
    EXPECT_EQ(value.Member("u64").GetUnsigned(), UINT64_MAX);
    EXPECT_EQ(value.Member("f32").GetFloat(), static_cast<double>(0.1f));
    EXPECT_EQ(value.Member("blob").Kind(), BindingKind::Blob);
    EXPECT_EQ(value.Member("severity").GetEnum().value, 2);
    EXPECT_EQ(value.Member("inners").Element(1).Member("label").GetString(), "two");
    EXPECT_EQ(value.Member("byName").Member("x").Member("number").GetSigned(), 10);
    EXPECT_EQ(value.Member("callback").GetUnsigned(), 42u);
    EXPECT_EQ(value.Member("bits").Element(3).GetBool(), true);

    Every back;
    BindingResult status;
    FromProperty(status, back, value, "<value>", registry);
    ASSERT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_TRUE(back == sample);
}

// A record published to the host and read back from it: enumerations travel by name, blobs as
// bytes, and every field comes back as it was.
TEST_F(Conversion, RecordsSurviveTheTripThroughHostValues) {
    const Every sample = SampleEvery();
    BindingProperty value;
    ASSERT_TRUE(ConvertToProperty(sample, value, registry));
    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, value, &registry);
    HostValueResult error;
    BindingProperty back;
    ASSERT_TRUE(FromHostValue(error, back, host, "<result>")) << error.Message();
    ReleaseHostValue(host);
    EXPECT_EQ(back.Member("severity").GetString(), "error");
    EXPECT_EQ(back.Member("severities").Element(0).GetString(), "warn");

    Every native;
    BindingResult status;
    FromProperty(status, native, back, "<value>", registry);
    ASSERT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_TRUE(native == sample);
}

TEST_F(Conversion, SelfContainingRecordsStopAtTheNestingLimit) {
    // Built without recursion: each level is a structure whose "children" holds the next.
    BindingProperty deep;
    BindingProperty* level = &deep;
    for (int i = 0; i < 2000; ++i) {
        level->Member("name") = "n";
        level = &level->Member("children").Append();
    }
    Node node;
    BindingResult status;
    FromProperty(status, node, deep, "<value>", registry);
    EXPECT_EQ(status.GetError(),
              "Couldn't assign value to 'children' because the input is nested deeper than 512 "
              "levels.");

    Node native;
    Node* at = &native;
    for (int i = 0; i < 600; ++i) {
        at->children.emplace_back();
        at = &at->children.back();
    }
    BindingResult output;
    ToProperty(output, native, registry);
    EXPECT_EQ(output.GetError(),
              "Couldn't convert native value because it is nested deeper than 512 levels.");

    // Within the limit both directions work.
    BindingProperty shallow;
    shallow.Member("children").Append().Member("name") = "leaf";
    status.Reset();
    FromProperty(status, node, shallow, "<value>", registry);
    ASSERT_TRUE(status.IsSuccess());
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0].name, "leaf");
}

} // namespace
