#include "encoding/json_writer.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "binding/binding_visitor.h"
#include "binding/conversion_test_types.h"
#include "binding/convert_to_property.h"
#include "diagnostics/allocation.h"
#include "encoding/json_reader.h"
#include "support/live_memory.h"
#include "support/refused_allocations.h"

namespace {

using namespace Korvel;
using namespace Korvel::ConversionTesting;

TEST(JsonWriter, EmptyValues) {
    EXPECT_EQ(WriteJson(BindingProperty()), "");
    EXPECT_EQ(WriteJson(BindingProperty(), nullptr, "\r\n"), "");
    BindingProperty value;
    value.Member("a");
    EXPECT_EQ(WriteJson(value), R"({"a":null})");
    value.Clear();
    value.MakeStructure();
    EXPECT_EQ(WriteJson(value), "{}");
    EXPECT_EQ(WriteJson(value, nullptr, "\n"), "{}");
    value.Clear();
    value.MakeCollection();
    EXPECT_EQ(WriteJson(value, nullptr, "\n"), "[]");
}

TEST(JsonWriter, CompactForm) {
    BindingProperty value;
    value.Member("b").Append() = true;
    value.Member("b").Append();
    value.Member("a") = 1;
    EXPECT_EQ(WriteJson(value), R"({"a":1,"b":[true,null]})");
    EXPECT_EQ(WriteJson(value, nullptr, ""), R"({"a":1,"b":[true,null]})");

    BindingProperty numbers;
    numbers.Append() = std::int64_t{-5};
    numbers.Append() = std::uint64_t{UINT64_MAX};
    numbers.Append() = std::int64_t{INT64_MIN};
    numbers.Append() = 1.0;
    numbers.Append() = 0.1;
    numbers.Append() = -2.5e-7;
    numbers.Append() = 1e300;
    numbers.Append() = false;
    EXPECT_EQ(WriteJson(numbers), "[-5,18446744073709551615,-9223372036854775808,1.0,0.1,-2.5e-7,"
                                  "1e300,false]");
}

// Blocks allocated minus blocks freed: what the memory figures count as in use.
std::int64_t BlocksInUse() {
    MemoryStatistics stats{};
    ReadMemoryStatistics(&stats);
    return static_cast<std::int64_t>(stats.blocksAllocated - stats.blocksFreed);
}

TEST(JsonWriter, ReadingAndWritingLeaveTheBlocksInUseAsTheyWere) {
    // The writers' and the reader's buffers start from nothing; each must count as one block
    // allocated and one freed, or every document read or written shifts the block figures.
    BindingProperty value;
    value.Member("text").SetString(std::string(10000, 'x'));
    value.Member("list").Element(3) = 1;
    const std::int64_t before = BlocksInUse();
    const std::string compact = WriteJson(value);
    EXPECT_EQ(BlocksInUse(), before);
    const std::string pretty = WriteJson(value, nullptr, "\n");
    EXPECT_EQ(BlocksInUse(), before);
    {
        const BindingResult read = ReadJson(pretty);
        ASSERT_TRUE(read.IsSuccess());
        EXPECT_EQ(WriteJson(read.value), compact);
    }
    EXPECT_EQ(BlocksInUse(), before);
}

TEST(JsonWriter, NonFiniteFloatsAreNull) {
    BindingProperty value;
    value.Append() = std::numeric_limits<double>::quiet_NaN();
    value.Append() = std::numeric_limits<double>::infinity();
    value.Append() = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(WriteJson(value), "[null,null,null]");
    EXPECT_TRUE(ReadJson(WriteJson(value)).IsSuccess());
}

TEST(JsonWriter, StringsAndBlobs) {
    BindingProperty value;
    value.Append() = "a\"b\\c\n\x01/\xC3\xA9";
    value.Append().SetBlob(std::vector<std::uint8_t>{'a', 'b'});
    value.Append().SetBlob(std::vector<std::uint8_t>{});
    value.Append() = "";
    EXPECT_EQ(WriteJson(value), R"(["a\"b\\c\n\u0001/)"
                                "\xC3\xA9"
                                R"(","YWI=","",""])");
}

TEST(JsonWriter, PrettyForm) {
    BindingProperty value;
    value.Member("b") = 1;
    value.Member("a") = 2;
    EXPECT_EQ(WriteJson(value, nullptr, "\r\n"), "{\r\n    \"a\": 2,\r\n    \"b\": 1\r\n}");

    BindingProperty nested;
    nested.Member("e").MakeStructure();
    nested.Member("l").MakeCollection();
    nested.Member("n").Append() = 1;
    nested.Member("n").Append().Member("x") = "y";
    EXPECT_EQ(WriteJson(nested, nullptr, "\n"), "{\n"
                                                "    \"e\": {},\n"
                                                "    \"l\": [],\n"
                                                "    \"n\": [\n"
                                                "        1,\n"
                                                "        {\n"
                                                "            \"x\": \"y\"\n"
                                                "        }\n"
                                                "    ]\n"
                                                "}");
    EXPECT_EQ(WriteJson(nested.Member("n"), nullptr, "<br>"),
              "[<br>    1,<br>    {<br>        \"x\": \"y\"<br>    }<br>]");
    // A line break inside a string is escaped, so only the writer's own breaks are replaced.
    EXPECT_EQ(WriteJson(BindingProperty("a\nb"), nullptr, "\r\n"), "\"a\\nb\"");
}

TEST(JsonWriter, EnumsByNameWithARegistry) {
    BindingRegistry registry;
    RegisterConversionTypes(registry);
    BindingProperty value;
    value.Append().SetEnum(-1, StaticType::Identity<Tiny>());
    value.Append().SetEnum(2, StaticType::Identity<Severity>());
    value.Append().SetEnum(5, StaticType::Identity<Severity>()); // no enumerator
    value.Append().SetEnum(0, StaticType::Identity<Unlisted>()); // not registered
    EXPECT_EQ(WriteJson(value), "[-1,2,5,0]");
    EXPECT_EQ(WriteJson(value, &registry), R"(["low","error",5,0])");
}

TEST(JsonWriter, EveryControlCharacterIsEscapedAndOtherBytesKept) {
    std::string text;
    for (char c = 1; c < 0x20; ++c) {
        text.push_back(c);
    }
    text += "\x7f\"\\/\xC3\xA9\xE2\x80\xA8\xFF";
    BindingProperty value;
    value.Member(text) = text;
    const std::string escaped = R"(\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000B\f\r)"
                                R"(\u000E\u000F\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017)"
                                R"(\u0018\u0019\u001A\u001B\u001C\u001D\u001E\u001F)"
                                "\x7f\\\"\\\\/\xC3\xA9\xE2\x80\xA8\xFF";
    EXPECT_EQ(WriteJson(value), "{\"" + escaped + "\":\"" + escaped + "\"}");
    const BindingResult back = ReadJson(WriteJson(value));
    ASSERT_TRUE(back.IsSuccess()) << back.GetError();
    EXPECT_EQ(back.value, value);
}

TEST(JsonWriter, FloatsReadBackToTheSameBits) {
    BindingProperty forms;
    for (const double d : {-0.0, 5e-324, -5e-324, 1.7976931348623157e308, 1e20, 1e21, 1e-7, 1e-6,
                           2.2250738585072014e-308}) {
        forms.Append() = d;
    }
    EXPECT_EQ(WriteJson(forms), "[-0.0,5e-324,-5e-324,1.7976931348623157e308,"
                                "100000000000000000000.0,1e21,1e-7,0.000001,"
                                "2.2250738585072014e-308]");

    // Random bit patterns: normal numbers of every exponent and subnormal ones.
    std::mt19937_64 random(20261209);
    BindingProperty list;
    for (int i = 0; i < 30000; ++i) {
        std::uint64_t bits = random();
        if (i % 3 == 1) {
            bits &= 0x800FFFFFFFFFFFFFu;
        }
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) {
            list.Append() = d;
        }
    }
    const BindingResult back = ReadJson(WriteJson(list));
    ASSERT_TRUE(back.IsSuccess()) << back.GetError();
    ASSERT_EQ(back.value.Size(), list.Size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < list.Size(); ++i) {
        const double written = list.Element(i).GetFloat();
        const double read = back.value.Element(i).GetFloat();
        if (back.value.Element(i).Kind() != BindingKind::Float ||
            std::memcmp(&written, &read, sizeof read) != 0) {
            ++differing;
        }
    }
    EXPECT_EQ(differing, 0u);
}

TEST(JsonWriter, OddShapes) {
    // A scalar root has no line to break, in either form.
    EXPECT_EQ(WriteJson(BindingProperty("x"), nullptr, "\r\n"), "\"x\"");
    BindingProperty number;
    number = std::int64_t{-3};
    EXPECT_EQ(WriteJson(number, nullptr, "\n"), "-3");
    // Empty containers and null elements inside an array.
    BindingProperty list;
    list.Append().MakeCollection();
    list.Append().MakeStructure();
    list.Append();
    EXPECT_EQ(WriteJson(list), "[[],{},null]");
    EXPECT_EQ(WriteJson(list, nullptr, "\r\n"), "[\r\n    [],\r\n    {},\r\n    null\r\n]");
    // Blobs of every length modulo three; the smallest enum value as a number.
    BindingProperty blobs;
    blobs.Append().SetBlob(std::vector<std::uint8_t>{0xFF});
    blobs.Append().SetBlob(std::vector<std::uint8_t>{0xFF, 0xFE, 0xFD});
    blobs.Append().SetBlob(std::vector<std::uint8_t>{0, 1, 2, 3});
    blobs.Append().SetEnum(INT32_MIN, StaticType::Identity<Severity>());
    EXPECT_EQ(WriteJson(blobs), R"(["/w==","//79","AAECAw==",-2147483648])");
    // Members in byte order of their names, bytes above 0x7F last.
    const BindingResult read = ReadJson("{\"\xC3\xA9\":1,\"z\":2,\"\":3,\"Z\":4,\"\x7f\":5}");
    ASSERT_TRUE(read.IsSuccess());
    EXPECT_EQ(WriteJson(read.value), "{\"\":3,\"Z\":4,\"z\":2,\"\x7f\":5,\"\xC3\xA9\":1}");
}

// The writers reckon the room a string needs as 2 + 6 bytes per byte in 32 bits: from this length
// on the product wraps. Such texts need gigabytes, so the test runs in 64-bit processes only.
constexpr std::size_t kWrappingLength = 715827883;

TEST(JsonWriter, TextsTooLongForThe32BitReckoningAreWrittenWhole) {
    if (sizeof(void*) < 8) {
        GTEST_SKIP() << "a 32-bit process cannot hold the text and its JSON form together";
    }
    {
        // A member's value, with escapes at both ends, between two other members.
        BindingProperty value;
        {
            std::string text(kWrappingLength, 'a');
            text.front() = '"';
            text.back() = '\x1f';
            value.Member("b").SetString(text);
        }
        value.Member("a") = 1;
        value.Member("c") = 2;
        const std::string json = WriteJson(value);
        ASSERT_EQ(json.size(), kWrappingLength + 26);
        EXPECT_EQ(json.substr(0, 16), R"({"a":1,"b":"\"aa)");
        EXPECT_EQ(json.substr(json.size() - 16), R"(aa\u001F","c":2})");
        EXPECT_EQ(json.find_first_not_of('a', 14), json.size() - 14);
    }
    {
        // A member's name, in pretty form.
        BindingProperty value;
        {
            std::string name(kWrappingLength, 'k');
            name.back() = '\n';
            value.Member(name) = true;
        }
        value.Member("z").MakeCollection();
        const std::string json = WriteJson(value, nullptr, "\r\n");
        ASSERT_EQ(json.size(), kWrappingLength + 33);
        EXPECT_EQ(json.substr(0, 10), "{\r\n    \"kk");
        EXPECT_EQ(json.substr(json.size() - 29), "kkk\\n\": true,\r\n    \"z\": []\r\n}");
    }
}

BindingProperty DeepTree(std::size_t depth) {
    BindingProperty deep;
    BindingProperty* at = &deep;
    for (std::size_t i = 0; i < depth; ++i) {
        at = &at->Member("k").Append();
    }
    *at = 1;
    return deep;
}

TEST(JsonWriter, DeepTreesDoNotRecurse) {
    constexpr std::size_t kDepth = 100000;
    const std::string compact = WriteJson(DeepTree(kDepth));
    ASSERT_EQ(compact.size(), kDepth * 8 + 1);
    EXPECT_EQ(compact.substr(0, 14), R"({"k":[{"k":[{")");
    EXPECT_EQ(compact.substr(kDepth * 6 - 1, 5), "[1]}]");
    EXPECT_EQ(compact.substr(compact.size() - 5), "}]}]}");

    // Pretty text grows with the square of the depth; a thousand levels suffice.
    const std::string pretty = WriteJson(DeepTree(1000), nullptr, "\n");
    EXPECT_NE(pretty.find(std::string(4 * 1999, ' ') + "1"), std::string::npos);
}

TEST(JsonWriter, AWriterThatCannotGrowItsStackThrows) {
    // The writer's stack of open levels grows by half; refused reallocations from 5000 bytes on
    // stop it a few hundred levels down, while the text is still shorter than its first 4096
    // bytes. The refused stack must not be written through.
    const BindingProperty deep = DeepTree(1000);
    const std::uint64_t before = Testing::LiveBytes();
    {
        Testing::RefusedAllocations refused(5000, Testing::RefusedAllocations::Entries::Reallocate);
        EXPECT_THROW(WriteJson(deep), std::bad_alloc);
        EXPECT_GT(refused.Refused(), 0u);
    }
    EXPECT_EQ(Testing::LiveBytes(), before);
    EXPECT_EQ(WriteJson(deep).size(), 1000u * 8 + 1);
}

// Records the walk of BindingProperty::Accept.
class Recorder final : public BindingVisitor {
public:
    void Null() override { log += "null "; }
    void Bool(bool value) override { log += value ? "true " : "false "; }
    void Int64(std::int64_t value) override { log += "i" + std::to_string(value) + " "; }
    void Uint64(std::uint64_t value) override { log += "u" + std::to_string(value) + " "; }
    void Double(double value) override { log += "d" + std::to_string(value) + " "; }
    void String(std::string_view text) override { log += "s:" + std::string(text) + " "; }
    void Blob(std::span<const std::uint8_t> bytes) override {
        log += "blob" + std::to_string(bytes.size()) + " ";
    }
    void Enum(const BindingEnumRecord& value) override {
        log += "e" + std::to_string(value.value) + " ";
    }
    void StartArray(std::size_t count) override { log += "[" + std::to_string(count) + " "; }
    void BeginElement(std::size_t index) override { log += "<" + std::to_string(index) + " "; }
    void EndElement(std::size_t index) override { log += std::to_string(index) + "> "; }
    void EndArray() override { log += "] "; }
    void StartObject(std::size_t count) override { log += "{" + std::to_string(count) + " "; }
    void Key(std::string_view name) override { log += "k:" + std::string(name) + " "; }
    void EndMember(std::string_view name) override { log += "/" + std::string(name) + " "; }
    void EndObject() override { log += "} "; }

    std::string log;
};

TEST(BindingVisitor, WalkOrder) {
    BindingProperty value;
    value.Member("z").Append() = "x";
    value.Member("z").Append();
    value.Member("a").SetBlob(std::vector<std::uint8_t>{1, 2});
    value.Member("m").SetEnum(3, StaticType::Identity<Severity>());
    value.Member("b").MakeStructure();
    Recorder recorder;
    value.Accept(recorder);
    EXPECT_EQ(recorder.log, "{4 k:a blob2 /a k:b {0 } /b k:m e3 /m k:z [2 <0 s:x 0> <1 null 1> ] "
                            "/z } ");
}

class JsonRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(JsonRoundTrip, RecordWithEveryFieldKindComesBackUnchanged) {
    BindingRegistry registry;
    RegisterConversionTypes(registry);
    const Every sample = SampleEvery();
    BindingProperty value;
    ASSERT_TRUE(ConvertToProperty(sample, value, registry));

    for (const BindingRegistry* names : {static_cast<const BindingRegistry*>(&registry),
                                         static_cast<const BindingRegistry*>(nullptr)}) {
        const std::string text = WriteJson(value, names, GetParam());
        BindingResult read = ReadJson(text);
        ASSERT_TRUE(read.IsSuccess()) << read.GetError() << "\n" << text;
        // The text form is stable: writing what was read gives the same text.
        EXPECT_EQ(WriteJson(read.value, names, GetParam()), text);

        Every back;
        BindingResult status;
        FromProperty(status, back, read.value, "<value>", registry);
        ASSERT_TRUE(status.IsSuccess()) << status.GetError() << "\n" << text;
        EXPECT_TRUE(back == sample) << text;

        BindingProperty again;
        ASSERT_TRUE(ConvertToProperty(back, again, registry));
        EXPECT_EQ(again, value);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, JsonRoundTrip, ::testing::Values("", "\n", "\r\n"));

} // namespace
