#include "remoting/argument_binding.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoding/decode_limits.h"

#include "remoting/content_kind.h"

namespace Korvel {
namespace {

BindingParameterDescriptor Parameter(const char* name, FieldKind kind, ArgumentLocation location,
                                     bool optional = false) {
    BindingParameterDescriptor parameter;
    parameter.name = name;
    parameter.type.kind = kind;
    parameter.optional = optional;
    parameter.location = static_cast<std::int32_t>(location);
    return parameter;
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A function with one parameter of each kind that binding treats differently.
class ArgumentBindingTest : public ::testing::Test {
protected:
    ArgumentBindingTest() {
        function_.name = "Bound";
        function_.parameters = {
            Parameter("verbose", FieldKind::Bool, ArgumentLocation::Query),
            Parameter("count", FieldKind::Int32, ArgumentLocation::Any),
            Parameter("id", FieldKind::String, ArgumentLocation::Path),
            Parameter("token", FieldKind::String, ArgumentLocation::Header),
            Parameter("shape", FieldKind::Struct, ArgumentLocation::Any),
            Parameter("list", FieldKind::Vector, ArgumentLocation::Query),
            Parameter("extra", FieldKind::Object, ArgumentLocation::Any),
            Parameter("body", FieldKind::Struct, ArgumentLocation::Body),
            Parameter("flag", FieldKind::Bool, ArgumentLocation::Any, true),
            Parameter("names", FieldKind::Map, ArgumentLocation::Any),
        };
        arguments_ = InitialArguments(function_);
    }

    BindingProperty& Argument(std::string_view name) {
        return arguments_.at(FindParameter(function_, name));
    }

    // Assigns from the query and returns the failure message (empty on success).
    std::string Query(std::string_view key, std::string_view value,
                      ArgumentLocation source = ArgumentLocation::Query) {
        BindingResult result;
        AssignByKey(result, arguments_, function_, key, value, source);
        return result.GetError();
    }

    std::string Body(std::string_view contentType, std::span<const std::uint8_t> body) {
        BindingResult result;
        DecodeBody(result, arguments_, function_, contentType, body);
        return result.GetError();
    }

    BindingFunctionDescriptor function_;
    std::vector<BindingProperty> arguments_;
};

TEST_F(ArgumentBindingTest, RequiredBoolStartsFalseOthersEmpty) {
    ASSERT_EQ(arguments_.size(), function_.parameters.size());
    EXPECT_EQ(Argument("verbose").Kind(), BindingKind::Bool);
    EXPECT_FALSE(Argument("verbose").GetBool(true));
    EXPECT_TRUE(Argument("flag").IsEmpty()); // optional bool
    EXPECT_TRUE(Argument("count").IsEmpty());
    EXPECT_TRUE(Argument("shape").IsEmpty());
}

TEST(ArgumentQuery, SplitsDecodesAndReplaces) {
    const ArgumentTexts values = ParseQuery("/a/b?x=1&y=a%20b+c&verbose&x=2&=v&k=a=b");
    EXPECT_EQ(values, (ArgumentTexts{
                          {"x", "2"}, {"y", "a b c"}, {"verbose", ""}, {"", "v"}, {"k", "a=b"}}));
    EXPECT_TRUE(ParseQuery("/a/b").empty());
    EXPECT_TRUE(ParseQuery("/a/b?").empty());
    // Only the first "?" starts the query; a trailing "&" adds the empty key.
    EXPECT_EQ(ParseQuery("/p?q=a?b&"), (ArgumentTexts{{"q", "a?b"}, {"", ""}}));
    EXPECT_EQ(ParseQuery("/p?&&"), (ArgumentTexts{{"", ""}}));
    EXPECT_EQ(ParseQuery("/p?a%2Eb=%41"), (ArgumentTexts{{"a.b", "A"}}));
}

TEST_F(ArgumentBindingTest, UnknownArgumentsAndWrongLocations) {
    EXPECT_EQ(Query("nope", "1"), "Unknown argument 'nope' for 'Bound'.");
    EXPECT_EQ(Query("", ""), "Unknown argument '' for 'Bound'.");
    EXPECT_EQ(Query("nope.deeper", "1"), "Unknown argument 'nope' for 'Bound'.");
    // Parameter names compare byte for byte.
    EXPECT_EQ(Query("Verbose", ""), "Unknown argument 'Verbose' for 'Bound'.");
    EXPECT_EQ(Query("id", "7"), "Argument 'id' for 'Bound' was specified in an invalid location.");
    EXPECT_EQ(Query("verbose", "", ArgumentLocation::Path),
              "Argument 'verbose' for 'Bound' was specified in an invalid location.");
    EXPECT_EQ(Query("token.x", "1"),
              "Argument 'token' for 'Bound' was specified in an invalid location.");
    // A code outside the table matches no source.
    function_.parameters[1].location = 3;
    EXPECT_EQ(Query("count", "3", ArgumentLocation::Path),
              "Argument 'count' for 'Bound' was specified in an invalid location.");
    function_.parameters[1].location = 0;
    EXPECT_EQ(Query("id", "7", ArgumentLocation::Path), "");
    EXPECT_EQ(Argument("id").GetString(), "7");
    // A parameter of location 0 takes values from every source, the later one replacing.
    EXPECT_EQ(Query("count", "3", ArgumentLocation::Path), "");
    EXPECT_EQ(Query("count", "4", ArgumentLocation::Query), "");
    EXPECT_EQ(Argument("count").GetString(), "4");

    // After a failure nothing more is assigned and the first message stays.
    BindingResult result;
    EXPECT_FALSE(AssignByKey(result, arguments_, function_, "nope", "1", ArgumentLocation::Query));
    EXPECT_FALSE(AssignByKey(result, arguments_, function_, "count", "9", ArgumentLocation::Query));
    EXPECT_EQ(result.GetError(), "Unknown argument 'nope' for 'Bound'.");
    EXPECT_EQ(Argument("count").GetString(), "4");
}

TEST_F(ArgumentBindingTest, EmptyTextsByKind) {
    EXPECT_EQ(Query("verbose", ""), "");
    EXPECT_TRUE(Argument("verbose").GetBool());
    EXPECT_EQ(Query("shape", "x"), "");
    EXPECT_EQ(Query("shape", ""), "");
    EXPECT_EQ(Argument("shape").Kind(), BindingKind::Structure);
    EXPECT_EQ(Argument("shape").Size(), 0u);
    EXPECT_EQ(Query("extra", ""), "");
    EXPECT_EQ(Argument("extra").Kind(), BindingKind::Structure);
    EXPECT_EQ(Query("list", ""), "");
    EXPECT_EQ(Argument("list").Kind(), BindingKind::Collection);
    EXPECT_EQ(Argument("list").Size(), 0u);
    EXPECT_EQ(Query("count", ""), "Expected value for argument 'count'.");
    // A map is not one of the kinds an empty text stands for; it needs a value like a scalar.
    EXPECT_EQ(Query("names", ""), "Expected value for argument 'names'.");
    EXPECT_TRUE(Argument("names").IsEmpty());
}

TEST_F(ArgumentBindingTest, DottedKeysBuildStructuresAndCollections) {
    EXPECT_EQ(Query("shape.b", "1"), "");
    EXPECT_EQ(Query("shape.c", "2"), "");
    EXPECT_EQ(Query("shape.d.e", ""), "");
    const BindingProperty& shape = Argument("shape");
    ASSERT_EQ(shape.Kind(), BindingKind::Structure);
    EXPECT_EQ(shape.Member("b").GetString(), "1");
    EXPECT_EQ(shape.Member("c").GetString(), "2");
    // Below the top level the text is kept as a string, the empty text too.
    EXPECT_EQ(shape.Member("d").Member("e").Kind(), BindingKind::String);

    EXPECT_EQ(Query("list.2", "x"), "");
    const BindingProperty& list = Argument("list");
    ASSERT_EQ(list.Kind(), BindingKind::Collection);
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_TRUE(list.Element(0).IsEmpty());
    EXPECT_TRUE(list.Element(1).IsEmpty());
    EXPECT_EQ(list.Element(2).GetString(), "x");
    // C-style bases: hexadecimal and octal.
    EXPECT_EQ(Query("list.0x1", "h"), "");
    EXPECT_EQ(Query("list.04", "o"), "");
    EXPECT_EQ(Query("list.0", "z"), "");
    EXPECT_EQ(list.Size(), 5u);
    EXPECT_EQ(list.Element(0).GetString(), "z");
    EXPECT_EQ(list.Element(1).GetString(), "h");
    EXPECT_EQ(list.Element(4).GetString(), "o");
    // Indices and members mix; an existing container is kept.
    EXPECT_EQ(Query("list.1.name", "n"), "");
    EXPECT_EQ(list.Element(1).Member("name").GetString(), "n");
    EXPECT_EQ(list.Size(), 5u);
    // A whole value replaced by a dotted assignment becomes a container.
    EXPECT_EQ(Query("count", "5"), "");
    EXPECT_EQ(Query("count.3", "x"), "");
    EXPECT_EQ(Argument("count").Kind(), BindingKind::Collection);
}

TEST_F(ArgumentBindingTest, BadIndicesAreRefused) {
    EXPECT_EQ(Query("list.1a", "x"), "Index 1a is in an incorrect format");
    EXPECT_EQ(Query("list.0x", "x"), "Index 0x is in an incorrect format");
    EXPECT_EQ(Query("list.08", "x"), "Index 08 is in an incorrect format");
    EXPECT_EQ(Query("list.2147483648", "x"), "Index 2147483648 is out of range");
    EXPECT_EQ(Query("list.99999999999999999999999", "x"),
              "Index 99999999999999999999999 is out of range");
    EXPECT_EQ(Query("list.0xFFFFFFFFFFFFFFFFFF", "x"),
              "Index 0xFFFFFFFFFFFFFFFFFF is out of range");
    // Accepted by the format but above the bound kept against absurd allocations.
    EXPECT_EQ(Query("list.2147483647", "x"), "Index 2147483647 is out of range");
    EXPECT_EQ(Query("list.65536", "x"), "Index 65536 is out of range");
    EXPECT_TRUE(Argument("list").IsEmpty());
    EXPECT_EQ(Query("list.65535", "x"), "");
    EXPECT_EQ(Argument("list").Size(), 65536u);
}

// Every index is bounded, and so is what the dotted keys of one call grow together: nested or
// repeated keys would otherwise multiply the bound of one index.
TEST_F(ArgumentBindingTest, DottedKeysTogetherGrowABoundedNumberOfElements) {
    std::string nested = "list";
    for (int i = 0; i < 100; ++i) {
        nested += ".65535";
    }
    EXPECT_EQ(Query(nested, "x"), "Index 65535 is out of range");
    EXPECT_EQ(Argument("list").Size(), 65536u);
    EXPECT_EQ(Argument("list").Element(65535).Size(), 0u);

    // One budget across the keys of a call.
    arguments_ = InitialArguments(function_);
    DottedKeyBudget budget;
    BindingResult result;
    EXPECT_TRUE(AssignByKey(result, arguments_, function_, "shape.a.39999", "x",
                            ArgumentLocation::Query, budget));
    EXPECT_TRUE(AssignByKey(result, arguments_, function_, "shape.a.0", "y",
                            ArgumentLocation::Query, budget));
    EXPECT_FALSE(AssignByKey(result, arguments_, function_, "shape.b.39999", "x",
                             ArgumentLocation::Query, budget));
    EXPECT_EQ(result.GetError(), "Index 39999 is out of range");
    EXPECT_EQ(Argument("shape").Member("a").Size(), 40000u);
    EXPECT_EQ(Argument("shape").Member("a").Element(0).GetString(), "y");
    // What is left of the budget can still be used.
    BindingResult rest;
    EXPECT_TRUE(AssignByKey(rest, arguments_, function_, "shape.c.25535", "z",
                            ArgumentLocation::Query, budget));
    EXPECT_FALSE(AssignByKey(rest, arguments_, function_, "shape.d.0", "z", ArgumentLocation::Query,
                             budget));
}

TEST_F(ArgumentBindingTest, DottedKeysNestNoDeeperThanTheDecoders) {
    // 512 segments below the argument: 512 levels of containers, the limit of every decoder.
    std::string key = "shape";
    for (std::size_t i = 0; i < DecodeLimits::kMaxNestingDepth; ++i) {
        key += i % 2 == 0 ? ".m" : ".0";
    }
    EXPECT_EQ(Query(key, "deep"), "");
    const BindingProperty* current = &Argument("shape");
    std::size_t levels = 0;
    while (current->Kind() == BindingKind::Structure ||
           current->Kind() == BindingKind::Collection) {
        current = current->Kind() == BindingKind::Structure ? &current->Member("m")
                                                            : &current->Element(0);
        ++levels;
    }
    EXPECT_EQ(levels, DecodeLimits::kMaxNestingDepth);
    EXPECT_EQ(current->GetString(), "deep");
    // One more is refused before anything is built.
    EXPECT_EQ(Query("list" + key.substr(5) + ".m", "x"), "Key m is nested deeper than 512 levels");
    EXPECT_TRUE(Argument("list").IsEmpty());
}

TEST_F(ArgumentBindingTest, ValueTextsAreSniffedForContainerKinds) {
    EXPECT_EQ(Query("shape", "  {\"x\":1}"), "");
    EXPECT_EQ(Argument("shape").Member("x").GetUnsigned(), 1u);
    EXPECT_EQ(Query("list", "[1,2]"), "");
    EXPECT_EQ(Argument("list").Size(), 2u);
    EXPECT_EQ(Query("extra", "---\na: b\n"), "");
    EXPECT_EQ(Argument("extra").Member("a").GetString(), "b");
    // A string parameter keeps such a text as it is.
    EXPECT_EQ(Query("count", "{\"x\":1}"), "");
    EXPECT_EQ(Argument("count").GetString(), "{\"x\":1}");
    // Nor is a map parameter sniffed: its text is left for its converter at preparation.
    EXPECT_EQ(Query("names", "{\"x\":1}"), "");
    EXPECT_EQ(Argument("names").GetString(), "{\"x\":1}");
    EXPECT_EQ(Query("names", "[1]"), "");
    EXPECT_EQ(Argument("names").GetString(), "[1]");
    // MessagePack: a fixmap {"a": 1}.
    const std::string packed = "\x81\xA1"
                               "a\x01";
    EXPECT_EQ(Query("extra", packed), "");
    EXPECT_EQ(Argument("extra").Member("a").GetSigned(), 1);
    // Texts that do not look like a document stay strings.
    EXPECT_EQ(Query("shape", "plain"), "");
    EXPECT_EQ(Argument("shape").GetString(), "plain");

    EXPECT_EQ(Query("shape", "{\"x\":"),
              "Couldn't deserialize JSON value for parameter 'shape' of 'Bound': Error: Invalid "
              "value. at offset 5.");
}

TEST_F(ArgumentBindingTest, DecodingByContentType) {
    const BindingParameterDescriptor& parameter = function_.parameters[1];
    BindingProperty target;
    BindingResult result;
    DecodeTextValue(result, target, function_, parameter, "ab\x01", "application/octet-stream",
                    false);
    ASSERT_EQ(target.Kind(), BindingKind::Blob);
    EXPECT_EQ(target.Size(), 3u);
    DecodeTextValue(result, target, function_, parameter, "[3]", "Application/JSON", false);
    EXPECT_EQ(target.Element(0).GetUnsigned(), 3u);
    DecodeTextValue(result, target, function_, parameter, "a: 1", "text/x-yaml; x=y", false);
    EXPECT_EQ(target.Member("a").GetUnsigned(), 1u);
    DecodeTextValue(result, target, function_, parameter, "\x93\x01\x02\x03",
                    "application/x-msgpack-ext", false);
    EXPECT_EQ(target.Size(), 3u);
    // Sniffing only happens without a content type.
    DecodeTextValue(result, target, function_, parameter, "[1]", "text/plain", true);
    EXPECT_EQ(target.GetString(), "[1]");
    EXPECT_TRUE(result.IsSuccess());

    DecodeTextValue(result, target, function_, parameter, "a: [", "text/x-yaml", false);
    EXPECT_TRUE(result.GetError().starts_with(
        "Couldn't deserialize YAML value for parameter 'count' of 'Bound': "))
        << result.GetError();
    BindingResult packed;
    DecodeTextValue(packed, target, function_, parameter, "\xC1", "application/x-msgpack", false);
    EXPECT_TRUE(packed.GetError().starts_with(
        "Couldn't deserialize MessagePack value for parameter 'count' of 'Bound': "))
        << packed.GetError();
}

TEST(ContentKind, BodyContentTypes) {
    EXPECT_EQ(ClassifyBodyContentType("Application/JSON; charset=utf-8"), ContentKind::Json);
    EXPECT_EQ(ClassifyBodyContentType("application/vnd.api+json"), ContentKind::Json);
    EXPECT_EQ(ClassifyBodyContentType("application/x-yaml"), ContentKind::Yaml);
    EXPECT_EQ(ClassifyBodyContentType("APPLICATION/X-MSGPACK-EXT"), ContentKind::MessagePack);
    EXPECT_EQ(ClassifyBodyContentType("text/x-yaml"), ContentKind::Other);
    EXPECT_EQ(ClassifyBodyContentType("application/jso"), ContentKind::Other);
    EXPECT_EQ(ClassifyBodyContentType(""), ContentKind::Other);
    EXPECT_EQ(ContentKindForHost(3), ContentKind::MessagePack);
    EXPECT_EQ(ContentKindForHost(4), ContentKind::Other);
}

TEST_F(ArgumentBindingTest, BodiesByContentType) {
    EXPECT_EQ(Body("application/json; charset=utf-8", Bytes("{\"a\":[1,2]}")), "");
    EXPECT_EQ(Argument("body").Member("a").Size(), 2u);
    // JSON and YAML bodies end at their first zero byte.
    EXPECT_EQ(Body("application/json", Bytes(std::string_view("{\"b\":1}\0garbage", 15))), "");
    EXPECT_EQ(Argument("body").Member("b").GetUnsigned(), 1u);
    EXPECT_EQ(Body("application/x-yaml", Bytes(std::string_view("c: 2\n\0: [", 9))), "");
    EXPECT_EQ(Argument("body").Member("c").GetUnsigned(), 2u);
    EXPECT_EQ(Body("application/x-msgpack", Bytes("\x81\xA1"
                                                  "d\x03")),
              "");
    EXPECT_EQ(Argument("body").Member("d").GetSigned(), 3);

    EXPECT_EQ(Body("application/x-msgpack", Bytes(std::string_view("\x81\xA1"
                                                                   "d\x03\x00",
                                                                   5))),
              "Extra MessgePack data found in body");
    EXPECT_EQ(Body("text/x-yaml", Bytes("a: 1")), "Unsupported body content type");
    EXPECT_EQ(Body("", Bytes("a: 1")), "Unsupported body content type");
    EXPECT_EQ(Body("application/json", Bytes("{")),
              "Error: Missing a name for object member. at offset 1.");

    // Without a body parameter the body is ignored, whatever its type.
    function_.parameters[7].location = 0;
    EXPECT_EQ(Body("text/plain", Bytes("x")), "");
}

TEST_F(ArgumentBindingTest, BodyFailureReplacesEarlierFailure) {
    BindingResult result;
    AssignByKey(result, arguments_, function_, "nope", "1", ArgumentLocation::Query);
    DecodeBody(result, arguments_, function_, "application/json", Bytes("{\"ok\":1}"));
    EXPECT_EQ(result.GetError(), "Unknown argument 'nope' for 'Bound'.");
    // The body is still decoded into its argument.
    EXPECT_EQ(Argument("body").Member("ok").GetUnsigned(), 1u);
    DecodeBody(result, arguments_, function_, "text/x-yaml", Bytes("a"));
    EXPECT_EQ(result.GetError(), "Unsupported body content type");
}

// Documents of several megabytes in each body type.
TEST_F(ArgumentBindingTest, LargeBodies) {
    constexpr std::size_t kItems = 250000;
    std::string json = "{\"items\":[";
    std::string yaml = "items:\n";
    std::string packed = "\x81\xA5items\xDD";
    packed += static_cast<char>((kItems >> 24) & 0xFF);
    packed += static_cast<char>((kItems >> 16) & 0xFF);
    packed += static_cast<char>((kItems >> 8) & 0xFF);
    packed += static_cast<char>(kItems & 0xFF);
    for (std::size_t i = 0; i < kItems; ++i) {
        json += i == 0 ? "" : ",";
        json += "\"value-" + std::to_string(i) + "\"";
        yaml += "  - value-" + std::to_string(i) + "\n";
        const std::string text = "value-" + std::to_string(i);
        packed += static_cast<char>(0xA0 | text.size());
        packed += text;
    }
    json += "]}";
    ASSERT_GT(json.size(), 3'000'000u);
    ASSERT_GT(yaml.size(), 3'000'000u);
    ASSERT_GT(packed.size(), 3'000'000u);

    for (const auto& [type, body] :
         {std::pair<const char*, const std::string*>{"application/json", &json},
          {"application/x-yaml", &yaml},
          {"application/x-msgpack", &packed}}) {
        SCOPED_TRACE(type);
        arguments_ = InitialArguments(function_);
        EXPECT_EQ(Body(type, Bytes(*body)), "");
        const BindingProperty& items = Argument("body").Member("items");
        ASSERT_EQ(items.Size(), kItems);
        EXPECT_EQ(items.Element(kItems - 1).GetString(), "value-249999");
    }
}

} // namespace
} // namespace Korvel
