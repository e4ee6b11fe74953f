#include "encoding/msgpack_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/allocation.h"
#include "encoding/decode_limits.h"
#include "support/refused_allocations.h"

namespace Korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    BindingResult result;
    std::size_t used = 0;
};

Decoded Decode(const Bytes& bytes) {
    Decoded decoded;
    decoded.used = 12345;
    decoded.result = DecodeMessagePack(bytes.data(), bytes.size(), decoded.used);
    return decoded;
}

// Decodes and expects a failure with `message` after `used` bytes.
void ExpectFailure(const Bytes& bytes, const std::string& message, std::size_t used) {
    const Decoded decoded = Decode(bytes);
    EXPECT_FALSE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.GetError(), message);
    EXPECT_EQ(decoded.result.value.Kind(), BindingKind::Structure);
    EXPECT_EQ(decoded.result.value.Size(), 1u);
    EXPECT_EQ(decoded.used, used);
}

TEST(MsgPackDecoder, ScalarFormats) {
    struct Case {
        Bytes bytes;
        BindingKind kind;
        std::int64_t signedValue;
        std::uint64_t unsignedValue;
    };
    const Case cases[] = {
        {{0x05}, BindingKind::Signed, 5, 0},
        {{0x7F}, BindingKind::Signed, 127, 0},
        {{0xFF}, BindingKind::Signed, -1, 0},
        {{0xE0}, BindingKind::Signed, -32, 0},
        {{0xCC, 0x05}, BindingKind::Unsigned, 0, 5},
        {{0xCD, 0x12, 0x34}, BindingKind::Unsigned, 0, 0x1234},
        {{0xCE, 0xDE, 0xAD, 0xBE, 0xEF}, BindingKind::Unsigned, 0, 0xDEADBEEF},
        {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         BindingKind::Unsigned,
         0,
         UINT64_MAX},
        {{0xD0, 0xFF}, BindingKind::Signed, -1, 0},
        {{0xD0, 0x80}, BindingKind::Signed, -128, 0},
        {{0xD1, 0x80, 0x00}, BindingKind::Signed, -32768, 0},
        {{0xD2, 0xFF, 0xFF, 0xFF, 0xFE}, BindingKind::Signed, -2, 0},
        {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, BindingKind::Signed, INT64_MIN, 0},
        {{0xD3, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, BindingKind::Signed, INT64_MAX, 0},
    };
    for (const Case& c : cases) {
        const Decoded decoded = Decode(c.bytes);
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        ASSERT_TRUE(decoded.result.IsSuccess());
        EXPECT_EQ(decoded.used, c.bytes.size());
        EXPECT_EQ(decoded.result.value.Kind(), c.kind);
        EXPECT_EQ(decoded.result.value.GetSigned(), c.signedValue);
        EXPECT_EQ(decoded.result.value.GetUnsigned(), c.unsignedValue);
    }

    EXPECT_EQ(Decode({0xC3}).result.value.Kind(), BindingKind::Bool);
    EXPECT_TRUE(Decode({0xC3}).result.value.GetBool());
    EXPECT_FALSE(Decode({0xC2}).result.value.GetBool(true));
    EXPECT_EQ(Decode({0xC0}).result.value.Kind(), BindingKind::Empty);
    EXPECT_EQ(Decode({0xC0}).used, 1u);
    // float 32 1.5 and float 64 -0.25
    EXPECT_EQ(Decode({0xCA, 0x3F, 0xC0, 0x00, 0x00}).result.value.GetFloat(), 1.5);
    EXPECT_EQ(Decode({0xCB, 0xBF, 0xD0, 0, 0, 0, 0, 0, 0}).result.value.GetFloat(), -0.25);
    EXPECT_TRUE(std::isnan(Decode({0xCA, 0x7F, 0xC0, 0, 0}).result.value.GetFloat()));
}

TEST(MsgPackDecoder, WidthsAndSignsAtTheirEnds) {
    // uint forms never sign-extend; int forms always do.
    EXPECT_EQ(Decode({0xCC, 0xFF}).result.value.GetUnsigned(), 255u);
    EXPECT_EQ(Decode({0xCD, 0xFF, 0xFF}).result.value.GetUnsigned(), 65535u);
    EXPECT_EQ(Decode({0xCE, 0xFF, 0xFF, 0xFF, 0xFF}).result.value.GetUnsigned(), 4294967295u);
    EXPECT_EQ(Decode({0xCF, 0x80, 0, 0, 0, 0, 0, 0, 0}).result.value.GetUnsigned(),
              std::uint64_t{1} << 63);
    EXPECT_EQ(Decode({0xD0, 0x7F}).result.value.GetSigned(), 127);
    EXPECT_EQ(Decode({0xD1, 0x7F, 0xFF}).result.value.GetSigned(), 32767);
    EXPECT_EQ(Decode({0xD1, 0xFF, 0xFF}).result.value.GetSigned(), -1);
    EXPECT_EQ(Decode({0xD2, 0x80, 0, 0, 0}).result.value.GetSigned(), INT32_MIN);
    EXPECT_EQ(Decode({0xD2, 0x7F, 0xFF, 0xFF, 0xFF}).result.value.GetSigned(), INT32_MAX);
    EXPECT_EQ(
        Decode({0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}).result.value.GetSigned(),
        -2);
    EXPECT_EQ(Decode({0xCC, 0x05}).result.value.Kind(), BindingKind::Unsigned);
    EXPECT_EQ(Decode({0xD0, 0x05}).result.value.Kind(), BindingKind::Signed);

    // float 32 is widened, not re-rounded: 0.1f stays the single-precision value.
    const Decoded single = Decode({0xCA, 0x3D, 0xCC, 0xCC, 0xCD});
    EXPECT_EQ(single.result.value.Kind(), BindingKind::Float);
    EXPECT_EQ(single.result.value.GetFloat(), static_cast<double>(0.1f));
    EXPECT_NE(single.result.value.GetFloat(), 0.1);
    EXPECT_EQ(Decode({0xCA, 0xFF, 0x80, 0, 0}).result.value.GetFloat(), -INFINITY);
    EXPECT_EQ(
        Decode({0xCB, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}).result.value.GetFloat(),
        0.1);

    // The largest fix forms: a 31-byte fixstr, 15 elements, 15 pairs.
    Bytes text = {0xBF};
    text.resize(32, 'q');
    EXPECT_EQ(Decode(text).result.value.GetString(), std::string(31, 'q'));
    Bytes array = {0x9F};
    array.resize(16, 0x07);
    array.push_back(0x08); // trailing
    const Decoded elements = Decode(array);
    EXPECT_EQ(elements.result.value.Size(), 15u);
    EXPECT_EQ(elements.used, 16u);
    Bytes map = {0x8F};
    for (char key = 'a'; key < 'a' + 15; ++key) {
        map.insert(map.end(), {0xA1, static_cast<std::uint8_t>(key), 0x01});
    }
    const Decoded members = Decode(map);
    EXPECT_EQ(members.result.value.Size(), 15u);
    EXPECT_EQ(members.result.value.Member("o").GetSigned(), 1);
    EXPECT_EQ(members.used, map.size());
}

TEST(MsgPackDecoder, MapKeys) {
    // Every string form is a key, the empty string too.
    const Bytes keys = {0x84, 0xA0, 0x01, 0xD9, 0x01, 'b', 0x02, 0xDA, 0x00, 0x01,
                        'c',  0x03, 0xDB, 0,    0,    0,   0x01, 'd',  0x04};
    const Decoded decoded = Decode(keys);
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.used, keys.size());
    EXPECT_EQ(decoded.result.value.Size(), 4u);
    EXPECT_TRUE(decoded.result.value.HasMember(""));
    EXPECT_EQ(decoded.result.value.Member("").GetSigned(), 1);
    EXPECT_EQ(decoded.result.value.Member("d").GetSigned(), 4);

    // Anything else is refused, naming the offset just after the key's format byte.
    const std::string message = "Invalid MessagePack data at position 2. Map keys must be strings.";
    for (std::uint8_t format : {0xC0, 0xC2, 0xC3, 0xC4, 0xCA, 0xCC, 0xD0, 0xE0, 0xFF, 0x80, 0x90,
                                0xDC, 0xDE, 0xC1, 0xC7, 0xD4}) {
        SCOPED_TRACE(static_cast<int>(format));
        ExpectFailure({0x81, format, 0x00, 0x00, 0x00, 0x00}, message, 2);
    }
    // The second key of a map, after a value.
    ExpectFailure({0x82, 0xA1, 'a', 0xC3, 0xC3, 0x01},
                  "Invalid MessagePack data at position 5. Map keys must be strings.", 5);
    // A truncated key reports the width of its length.
    ExpectFailure({0x81, 0xDA, 0x00},
                  "Invalid MessagePack data. 16-bit integer value at position 2 is truncated.", 2);
    ExpectFailure({0x81, 0xDB, 0x00, 0x00, 0x00, 0x09, 'x'},
                  "Invalid MessagePack data. String of size 9 at position 6 is truncated.", 6);
}

TEST(MsgPackDecoder, StringsAndBlobs) {
    EXPECT_EQ(Decode({0xA3, 'a', 'b', 'c'}).result.value.GetString(), "abc");
    EXPECT_EQ(Decode({0xD9, 0x02, 'h', 'i'}).result.value.GetString(), "hi");
    EXPECT_EQ(Decode({0xDA, 0x00, 0x01, 'x'}).result.value.GetString(), "x");
    EXPECT_EQ(Decode({0xDB, 0, 0, 0, 0x02, 'o', 'k'}).result.value.GetString(), "ok");
    EXPECT_EQ(Decode({0xA0}).result.value.Kind(), BindingKind::String);
    EXPECT_EQ(Decode({0xDB, 0, 0, 0, 0}).result.value.Kind(), BindingKind::String);
    // An empty bin is an empty blob, not an empty value.
    for (const Bytes& bytes : {Bytes{0xC4, 0x00}, Bytes{0xC5, 0, 0}, Bytes{0xC6, 0, 0, 0, 0}}) {
        const Decoded decoded = Decode(bytes);
        EXPECT_EQ(decoded.result.value.Kind(), BindingKind::Blob);
        EXPECT_EQ(decoded.result.value.Size(), 0u);
        EXPECT_EQ(decoded.used, bytes.size());
    }

    Bytes long_text = {0xDA, 0x01, 0x2C}; // str 16 of 300 bytes
    long_text.resize(3 + 300, 'z');
    EXPECT_EQ(Decode(long_text).result.value.GetString(), std::string(300, 'z'));

    for (const Bytes& bytes : {Bytes{0xC4, 0x02, 0x00, 0xFF}, Bytes{0xC5, 0x00, 0x02, 0x00, 0xFF},
                               Bytes{0xC6, 0, 0, 0, 0x02, 0x00, 0xFF}}) {
        const Decoded decoded = Decode(bytes);
        ASSERT_EQ(decoded.result.value.Kind(), BindingKind::Blob);
        const auto blob = decoded.result.value.GetBlob();
        EXPECT_EQ(Bytes(blob.begin(), blob.end()), (Bytes{0x00, 0xFF}));
        EXPECT_EQ(decoded.used, bytes.size());
    }
}

TEST(MsgPackDecoder, Containers) {
    // {"b": [1, true, nil], "a": {"x": -1}} with map 16, array 32 and a fixmap inside
    const Bytes bytes = {0xDE, 0x00, 0x02, 0xA1, 'b', 0xDD, 0,    0,   0,   0x03,
                         0x01, 0xC3, 0xC0, 0xA1, 'a', 0x81, 0xA1, 'x', 0xFF};
    const Decoded decoded = Decode(bytes);
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.used, bytes.size());
    const BindingProperty& value = decoded.result.value;
    ASSERT_EQ(value.Kind(), BindingKind::Structure);
    const BindingProperty& b = value.Member("b");
    ASSERT_EQ(b.Size(), 3u);
    EXPECT_EQ(b.Element(0).GetSigned(), 1);
    EXPECT_TRUE(b.Element(1).GetBool());
    EXPECT_EQ(b.Element(2).Kind(), BindingKind::Empty);
    EXPECT_EQ(value.Member("a").Member("x").GetSigned(), -1);

    EXPECT_EQ(Decode({0x90}).result.value.Kind(), BindingKind::Collection);
    EXPECT_EQ(Decode({0x80}).result.value.Kind(), BindingKind::Structure);
    EXPECT_EQ(Decode({0xDC, 0x00, 0x00}).result.value.Size(), 0u);
    EXPECT_EQ(Decode({0xDF, 0, 0, 0, 0x01, 0xA1, 'k', 0x07}).result.value.Member("k").GetSigned(),
              7);
}

TEST(MsgPackDecoder, EndOfInputAndTrailingData) {
    // Input that ends inside a container keeps what was read.
    Decoded decoded = Decode({0x92, 0x01});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Size(), 1u);
    EXPECT_EQ(decoded.used, 2u);
    decoded = Decode({0x82, 0xA1, 'a', 0x01, 0xA1, 'b'});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Size(), 1u);

    // Decoding stops after the first complete value.
    decoded = Decode({0x91, 0x01, 0x01});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.used, 2u);
    EXPECT_EQ(Decode({0x01, 0x02}).used, 1u);

    decoded = Decode({});
    EXPECT_TRUE(decoded.result.IsSuccess());
    EXPECT_TRUE(decoded.result.value.IsEmpty());
    EXPECT_EQ(decoded.used, 0u);
    std::size_t used = 9;
    EXPECT_TRUE(DecodeMessagePack(nullptr, 0, used).IsSuccess());
    EXPECT_EQ(used, 0u);
}

TEST(MsgPackDecoder, FormatErrors) {
    ExpectFailure({0x81, 0x01, 0x02},
                  "Invalid MessagePack data at position 2. Map keys must be strings.", 2);
    ExpectFailure({0x91, 0x81, 0xC0, 0x01},
                  "Invalid MessagePack data at position 3. Map keys must be strings.", 3);
    for (std::uint8_t format : {0xC1, 0xC7, 0xC8, 0xC9, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}) {
        SCOPED_TRACE(static_cast<int>(format));
        ExpectFailure({format, 0x01, 0x01, 0x01}, "Invalid MessagePack data at position 1.", 1);
    }
    ExpectFailure({0x92, 0x01, 0xC1}, "Invalid MessagePack data at position 3.", 3);
}

TEST(MsgPackDecoder, TruncationMessages) {
    const std::string prefix = "Invalid MessagePack data. ";
    ExpectFailure({0xCD, 0x01}, prefix + "16-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xCD}, prefix + "16-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xCC}, prefix + "8-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xD0}, prefix + "8-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xD9}, prefix + "8-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xC4}, prefix + "8-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xDA, 0x00}, prefix + "16-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xDC, 0x00}, prefix + "16-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xCA, 0, 0, 0}, prefix + "32-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xDF, 0, 0}, prefix + "32-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xC6, 0}, prefix + "32-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0x91, 0xCB, 0, 0, 0, 0, 0, 0, 0},
                  prefix + "64-bit integer value at position 2 is truncated.", 2);
    ExpectFailure({0xD3}, prefix + "64-bit integer value at position 1 is truncated.", 1);
    ExpectFailure({0xA3, 0x61, 0x62}, prefix + "String of size 3 at position 1 is truncated.", 1);
    ExpectFailure({0xD9, 0x05, 'a'}, prefix + "String of size 5 at position 2 is truncated.", 2);
    ExpectFailure({0x81, 0xA2, 'k'}, prefix + "String of size 2 at position 2 is truncated.", 2);
    ExpectFailure({0xC5, 0x00, 0x04, 1, 2},
                  prefix + "Raw bytes of size 4 at position 3 are truncated.", 3);
    // A declared length near 4 GiB is compared with what is left, not added to the position.
    ExpectFailure({0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
                  prefix + "String of size 4294967295 at position 5 is truncated.", 5);
    ExpectFailure({0xC6, 0xFF, 0xFF, 0xFF, 0xFF},
                  prefix + "Raw bytes of size 4294967295 at position 5 are truncated.", 5);
}

TEST(MsgPackDecoder, RepeatedKeys) {
    // {"a": 1, "a": 2}: the later scalar wins.
    Decoded decoded = Decode({0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02});
    EXPECT_EQ(decoded.result.value.Member("a").GetSigned(), 2);

    // {"a": [1, 2, 3], "a": [9]}: written over from index 0, the rest stays.
    decoded = Decode({0x82, 0xA1, 'a', 0x93, 0x01, 0x02, 0x03, 0xA1, 'a', 0x91, 0x09});
    const BindingProperty& list = decoded.result.value.Member("a");
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_EQ(list.Element(0).GetSigned(), 9);
    EXPECT_EQ(list.Element(2).GetSigned(), 3);

    // {"a": {"x": 1}, "a": {"y": 2}}: merged.
    decoded = Decode({0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02});
    EXPECT_EQ(decoded.result.value.Member("a").Member("x").GetSigned(), 1);
    EXPECT_EQ(decoded.result.value.Member("a").Member("y").GetSigned(), 2);

    // A scalar replaces an earlier collection or structure, and the map goes on reading keys.
    decoded = Decode({0x83, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x05, 0xA1, 'b', 0x06});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.result.value.Member("a").GetSigned(), 5);
    EXPECT_EQ(decoded.result.value.Member("b").GetSigned(), 6);
    decoded = Decode({0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0xA1, 's'});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.result.value.Member("a").GetString(), "s");

    // An element that is itself a collection is written over like any other.
    decoded = Decode({0x82, 0xA1, 'a', 0x91, 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x07});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.result.value.Member("a").Element(0).GetSigned(), 7);

    // nil leaves the earlier value.
    decoded = Decode({0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0});
    EXPECT_EQ(decoded.result.value.Member("a").GetSigned(), 1);
}

TEST(MsgPackDecoder, RepeatedKeysAcrossKinds) {
    // nil in a repeated array leaves the element it lands on.
    Decoded decoded = Decode({0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x92, 0xC0, 0x09});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    const BindingProperty& list = decoded.result.value.Member("a");
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list.Element(0).GetSigned(), 1);
    EXPECT_EQ(list.Element(1).GetSigned(), 9);

    // A container replaces an earlier value of another kind.
    decoded = Decode({0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x91, 0x02});
    ASSERT_EQ(decoded.result.value.Member("a").Kind(), BindingKind::Collection);
    EXPECT_EQ(decoded.result.value.Member("a").Size(), 1u);
    decoded = Decode({0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x81, 0xA1, 'x', 0x03});
    ASSERT_EQ(decoded.result.value.Member("a").Kind(), BindingKind::Structure);
    EXPECT_EQ(decoded.result.value.Member("a").Size(), 1u);
    decoded = Decode({0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x03, 0xA1, 'a', 0x90});
    ASSERT_EQ(decoded.result.value.Member("a").Kind(), BindingKind::Collection);
    EXPECT_EQ(decoded.result.value.Member("a").Size(), 0u);

    // A repeated map merges at every level: an inner repeated key is merged again.
    decoded = Decode({0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x92, 0x01, 0x02, 0xA1, 'a', 0x81, 0xA1,
                      'x', 0x91, 0x05});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    const BindingProperty& x = decoded.result.value.Member("a").Member("x");
    ASSERT_EQ(x.Size(), 2u);
    EXPECT_EQ(x.Element(0).GetSigned(), 5);
    EXPECT_EQ(x.Element(1).GetSigned(), 2);
}

TEST(MsgPackDecoder, EndsInsideContainers) {
    // A key without its value adds no member.
    Decoded decoded = Decode({0x81, 0xA1, 'a'});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Kind(), BindingKind::Structure);
    EXPECT_EQ(decoded.result.value.Size(), 0u);
    EXPECT_EQ(decoded.used, 3u);
    // An open container two levels down keeps what it read, and its parents stay.
    decoded = Decode({0x92, 0x81, 0xA1, 'k', 0x93, 0x01});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.used, 6u);
    ASSERT_EQ(decoded.result.value.Size(), 1u);
    EXPECT_EQ(decoded.result.value.Element(0).Member("k").Size(), 1u);
    // A failure deep inside discards everything read before it and reports where it stopped.
    ExpectFailure({0x92, 0x81, 0xA1, 'k', 0x93, 0x01, 0xCE, 0x00},
                  "Invalid MessagePack data. 32-bit integer value at position 7 is truncated.", 7);
    ExpectFailure({0x81, 0xA1, 'k', 0xC4, 0x03, 0x01},
                  "Invalid MessagePack data. Raw bytes of size 3 at position 5 are truncated.", 5);
    // A container that closes early leaves the bytes after it unread.
    decoded = Decode({0x82, 0xA1, 'a', 0x90, 0xA1, 'b', 0x80, 0xC1});
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.used, 7u);
    EXPECT_EQ(decoded.result.value.Size(), 2u);
}

std::uint64_t BytesAllocated() {
    MemoryStatistics statistics{};
    ReadMemoryStatistics(&statistics);
    return statistics.bytesAllocated;
}

TEST(MsgPackDecoder, DeclaredCountsDoNotDriveAllocation) {
    const std::uint64_t before = BytesAllocated();
    // array 32 and map 32 declaring 4 294 967 295 items in a few bytes.
    Decoded decoded = Decode({0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Size(), 3u);
    EXPECT_EQ(decoded.used, 8u);
    decoded = Decode({0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'k', 0x01, 0xA1, 'l'});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Size(), 1u);
    decoded = Decode({0xDD, 0x0F, 0xFF, 0xFF, 0xFF, 0xC0});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Size(), 1u);
    decoded = Decode({0x91, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.result.value.Element(0).Size(), 0u);
    EXPECT_LT(BytesAllocated() - before, 64u * 1024u);
}

TEST(MsgPackDecoder, NestedDeclaredCountsDoNotMultiplyAllocation) {
    // 200 nested arrays that each declare 4 294 967 295 elements, the innermost holding 16 384
    // nils: every array is open while the rest of the input is still ahead, yet the whole input
    // can fill only one of them.
    Bytes bytes;
    for (int level = 0; level < 200; ++level) {
        bytes.insert(bytes.end(), {0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
    }
    bytes.resize(bytes.size() + 16384, 0xC0);
    const std::uint64_t before = BytesAllocated();
    const Decoded decoded = Decode(bytes);
    const std::uint64_t allocated = BytesAllocated() - before;
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.used, bytes.size());
    const BindingProperty* inner = &decoded.result.value;
    for (int level = 1; level < 200; ++level) {
        ASSERT_EQ(inner->Size(), 1u);
        inner = &inner->Element(0);
    }
    EXPECT_EQ(inner->Size(), 16384u);
    // The innermost array's elements, their growth and the 199 small outer arrays: a few hundred
    // kilobytes. Reserving what the remaining input could hold at every level would take about
    // 200 times the innermost array.
    EXPECT_LT(allocated, 4u * 1024u * 1024u);
}

Bytes NestedArrays(std::size_t levels) {
    Bytes bytes(levels, 0x91);
    bytes.push_back(0x01);
    return bytes;
}

TEST(MsgPackDecoder, RunningOutOfMemoryFailsTheDecode) {
    // An array of 100 000 ones; its element array needs more than a mebibyte, which is refused.
    Bytes bytes = {0xdd, 0x00, 0x01, 0x86, 0xa0};
    bytes.resize(bytes.size() + 100000, 0x01);
    Decoded decoded;
    {
        Testing::RefusedAllocations refused(std::size_t{1} << 20);
        decoded = Decode(bytes);
        EXPECT_GT(refused.Refused(), 0u);
    }
    ASSERT_FALSE(decoded.result.IsSuccess()) << decoded.result.value.Size() << " elements";
    EXPECT_NE(decoded.result.GetError().find("Not enough memory to hold the decoded value."),
              std::string::npos)
        << decoded.result.GetError();

    // With memory back the same bytes decode whole.
    const Decoded whole = Decode(bytes);
    ASSERT_TRUE(whole.result.IsSuccess()) << whole.result.GetError();
    EXPECT_EQ(whole.result.value.Size(), 100000u);
}

TEST(MsgPackDecoder, NestingLimit) {
    const std::size_t limit = DecodeLimits::kMaxNestingDepth;
    Decoded decoded = Decode(NestedArrays(limit));
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    const BindingProperty* inner = &decoded.result.value;
    for (std::size_t i = 0; i < limit; ++i) {
        inner = &inner->Element(0);
    }
    EXPECT_EQ(inner->GetSigned(), 1);

    ExpectFailure(NestedArrays(limit + 1),
                  "Invalid MessagePack data at position " + std::to_string(limit + 1) +
                      ". Nesting is deeper than " + std::to_string(limit) + " levels.",
                  limit + 1);
    // Maps count too, and a million levels end in the same error.
    Bytes maps;
    for (std::size_t i = 0; i <= limit; ++i) {
        maps.insert(maps.end(), {0x81, 0xA1, 'k'});
    }
    maps.push_back(0x01);
    EXPECT_FALSE(Decode(maps).result.IsSuccess());
    maps.erase(maps.begin(), maps.begin() + 3);
    decoded = Decode(maps);
    ASSERT_TRUE(decoded.result.IsSuccess()) << decoded.result.GetError();
    EXPECT_EQ(decoded.used, maps.size());
    decoded = Decode(NestedArrays(1000000));
    EXPECT_FALSE(decoded.result.IsSuccess());
    EXPECT_EQ(decoded.used, limit + 1);
}

} // namespace
} // namespace Korvel
