// MessagePack in requests: which bodies and value texts are read as MessagePack, and what a
// caller receives for each prefix of a body.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "remoting/argument_binding.h"
#include "remoting/content_kind.h"

namespace Korvel {
namespace {

BindingParameterDescriptor Parameter(const char* name, FieldKind kind, ArgumentLocation location) {
    BindingParameterDescriptor parameter;
    parameter.name = name;
    parameter.type.kind = kind;
    parameter.location = static_cast<std::int32_t>(location);
    return parameter;
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class MsgPackArguments : public ::testing::Test {
protected:
    MsgPackArguments() {
        function_.name = "Take";
        function_.parameters = {
            Parameter("object", FieldKind::Object, ArgumentLocation::Any),
            Parameter("vector", FieldKind::Vector, ArgumentLocation::Any),
            Parameter("shape", FieldKind::Struct, ArgumentLocation::Any),
            Parameter("text", FieldKind::String, ArgumentLocation::Any),
            Parameter("names", FieldKind::Map, ArgumentLocation::Any),
            Parameter("payload", FieldKind::Struct, ArgumentLocation::Body),
        };
        arguments_ = InitialArguments(function_);
    }

    // Assigns a query value and returns the failure message (empty on success).
    std::string Query(std::string_view key, std::string_view value) {
        arguments_ = InitialArguments(function_);
        BindingResult result;
        AssignByKey(result, arguments_, function_, key, value, ArgumentLocation::Query);
        return result.GetError();
    }

    std::string Body(std::string_view contentType, std::string_view body) {
        arguments_ = InitialArguments(function_);
        BindingResult result;
        DecodeBody(result, arguments_, function_, contentType, Bytes(body));
        return result.GetError();
    }

    BindingProperty& Argument(std::string_view name) {
        return arguments_.at(FindParameter(function_, name));
    }

    BindingFunctionDescriptor function_;
    std::vector<BindingProperty> arguments_;
};

// Every first byte of a one-byte value text: only object, vector and struct parameters look at
// it, and only 0x80-0x9F and 0xDC-0xDF make it MessagePack.
TEST_F(MsgPackArguments, SniffingByFirstByte) {
    for (const char* name : {"object", "vector", "shape"}) {
        for (unsigned byte = 1; byte <= 0xFF; ++byte) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(byte));
            const std::string text(1, static_cast<char>(byte));
            const std::string error = Query(name, text);
            const BindingProperty& value = Argument(name);
            if (byte >= 0x80 && byte <= 0x8F) {
                // A map that declares pairs and ends at once holds none.
                EXPECT_EQ(error, "");
                EXPECT_EQ(value.Kind(), BindingKind::Structure);
                EXPECT_EQ(value.Size(), 0u);
            } else if (byte >= 0x90 && byte <= 0x9F) {
                EXPECT_EQ(error, "");
                EXPECT_EQ(value.Kind(), BindingKind::Collection);
                EXPECT_EQ(value.Size(), 0u);
            } else if (byte >= 0xDC && byte <= 0xDF) {
                EXPECT_EQ(error, "Couldn't deserialize MessagePack value for parameter '" +
                                     std::string(name) + "' of 'Take': Invalid MessagePack data. " +
                                     (byte % 2 == 0 ? "16" : "32") +
                                     "-bit integer value at position 1 is truncated.");
            } else if (byte == '{' || byte == '[') {
                EXPECT_TRUE(error.starts_with("Couldn't deserialize JSON value for parameter '" +
                                              std::string(name) + "' of 'Take': "))
                    << error;
            } else {
                EXPECT_EQ(error, "");
                EXPECT_EQ(value.Kind(), BindingKind::String);
                EXPECT_EQ(value.GetString(), text);
            }
        }
    }
    // Other kinds keep the text, MessagePack-looking or not.
    for (const char* name : {"text", "names"}) {
        for (const std::string text : {"\x81\xA1k\x01", "\xDC", "\x91\xC1"}) {
            EXPECT_EQ(Query(name, text), "");
            EXPECT_EQ(Argument(name).GetString(), text);
        }
    }
}

// A sniffed text decodes like a body, containers of every width included; the failure message
// carries the decoder's own text, position and all.
TEST_F(MsgPackArguments, SniffedTexts) {
    EXPECT_EQ(Query("shape", std::string("\xDE\x00\x01\xA1k\xDC\x00\x02\xC3\xD0\x80", 11)), "");
    const BindingProperty& k = Argument("shape").Member("k");
    ASSERT_EQ(k.Size(), 2u);
    EXPECT_TRUE(k.Element(0).GetBool());
    EXPECT_EQ(k.Element(1).GetSigned(), -128);

    EXPECT_EQ(Query("vector", std::string("\xDD\x00\x00\x00\x02\xA0\xCC\xFF", 8)), "");
    ASSERT_EQ(Argument("vector").Size(), 2u);
    EXPECT_EQ(Argument("vector").Element(1).GetUnsigned(), 255u);

    // Zero bytes of a URL-decoded query value are part of the MessagePack text: a text cut at the
    // first one would still decode, as a shorter array.
    const ArgumentTexts query = ParseQuery("/take?vector=%93%00%C0%01");
    ASSERT_EQ(query.count("vector"), 1u);
    EXPECT_EQ(Query("vector", query.at("vector")), "");
    ASSERT_EQ(Argument("vector").Size(), 3u);
    EXPECT_EQ(Argument("vector").Element(0).GetSigned(), 0);
    EXPECT_EQ(Argument("vector").Element(1).Kind(), BindingKind::Empty);
    EXPECT_EQ(Argument("vector").Element(2).GetSigned(), 1);

    // Value texts are not checked for trailing bytes.
    EXPECT_EQ(Query("object", std::string("\x90\xC1", 2)), "");
    EXPECT_EQ(Argument("object").Kind(), BindingKind::Collection);

    EXPECT_EQ(Query("object", "\x81\x01\x02"),
              "Couldn't deserialize MessagePack value for parameter 'object' of 'Take': Invalid "
              "MessagePack data at position 2. Map keys must be strings.");
    EXPECT_EQ(Query("object", "\x92\xD4\x01\x02"),
              "Couldn't deserialize MessagePack value for parameter 'object' of 'Take': Invalid "
              "MessagePack data at position 2.");
    EXPECT_EQ(Query("shape", "\x81\xA3k"),
              "Couldn't deserialize MessagePack value for parameter 'shape' of 'Take': Invalid "
              "MessagePack data. String of size 3 at position 2 is truncated.");
    EXPECT_EQ(Query("vector", std::string("\x91\xC5\x00\x04xy", 6)),
              "Couldn't deserialize MessagePack value for parameter 'vector' of 'Take': Invalid "
              "MessagePack data. Raw bytes of size 4 at position 4 are truncated.");
}

// A content type picks MessagePack by its prefix, whatever the case and the parameters after it.
TEST_F(MsgPackArguments, MessagePackContentTypes) {
    const std::string body("\x82\xA1"
                           "a\x01\xA1"
                           "b\x92\xC3\xC0",
                           9);
    for (const char* type :
         {"application/x-msgpack", "APPLICATION/X-MSGPACK", "Application/X-MsgPack; charset=binary",
          "application/x-msgpack-ext", "Application/X-MSGPACK-Ext;v=2", "application/x-msgpack2"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(ClassifyBodyContentType(type), ContentKind::MessagePack);
        EXPECT_EQ(Body(type, body), "");
        const BindingProperty& payload = Argument("payload");
        EXPECT_EQ(payload.Member("a").GetSigned(), 1);
        ASSERT_EQ(payload.Member("b").Size(), 2u);
        EXPECT_TRUE(payload.Member("b").Element(0).GetBool());
        EXPECT_EQ(payload.Member("b").Element(1).Kind(), BindingKind::Empty);

        // The same type given for a value text decodes it, for any parameter kind.
        BindingProperty target;
        BindingResult result;
        DecodeTextValue(result, target, function_, function_.parameters[3], body, type, false);
        EXPECT_TRUE(result.IsSuccess()) << result.GetError();
        EXPECT_EQ(target.Member("a").GetSigned(), 1);
    }
    for (const char* type : {"application/msgpack", "application/x-msgpac", "x-msgpack",
                             " application/x-msgpack", "text/x-msgpack", ""}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(ClassifyBodyContentType(type), ContentKind::Other);
        EXPECT_EQ(Body(type, body), "Unsupported body content type");
    }
}

// Each prefix of a body: a cut between items gives the containers what they hold so far, a cut
// inside an item the decoder's message alone, and bytes after the value the extra-data message.
TEST_F(MsgPackArguments, EveryPrefixOfABody) {
    const std::string body("\x82\xA1"
                           "a\x01\xA1"
                           "b\x92\xC3\xC0",
                           9);
    const char* const errors[] = {
        "", "", "Invalid MessagePack data. String of size 1 at position 2 is truncated.",
        "", "", "Invalid MessagePack data. String of size 1 at position 5 is truncated.",
        "", "", "",
        "",
    };
    const std::size_t members[] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 2};
    const std::size_t elements[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    for (std::size_t cut = 1; cut <= body.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(Body("application/x-msgpack", body.substr(0, cut)), errors[cut]);
        if (errors[cut][0] != '\0') {
            continue;
        }
        const BindingProperty& payload = Argument("payload");
        ASSERT_EQ(payload.Kind(), BindingKind::Structure);
        EXPECT_EQ(payload.Size(), members[cut]);
        EXPECT_EQ(payload.Member("b").Size(), elements[cut]);
    }
    EXPECT_EQ(Body("application/x-msgpack", body + '\xC0'), "Extra MessgePack data found in body");
    EXPECT_EQ(Argument("payload").Kind(), BindingKind::Empty);
    // A failing value followed by more bytes reports the failure, not the extra bytes.
    EXPECT_EQ(Body("application/x-msgpack", std::string("\xC1\x00", 2)),
              "Invalid MessagePack data at position 1.");
    EXPECT_EQ(Body("application/x-msgpack", std::string("\x91\xCD\x01", 3)),
              "Invalid MessagePack data. 16-bit integer value at position 2 is truncated.");
}

} // namespace
} // namespace Korvel
