#include "binding/host_value_conversion.h"
#include "encoding/decode_limits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "diagnostics/allocation.h"
#include "support/host_values.h"
#include "support/live_memory.h"

namespace Korvel::Testing {
enum class HostValueTestState : std::int32_t { Idle = 0, Busy = 1, Broken = -3 };
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(enum, Korvel::Testing::HostValueTestState)

namespace Korvel::Testing {
namespace {

// Converts a host value built by the test host's own code; fails the test on a failure.
BindingProperty FromHost(const HostValue& source) {
    HostValueResult error;
    BindingProperty target;
    EXPECT_TRUE(FromHostValue(error, target, source, "<result>")) << error.Message();
    EXPECT_FALSE(error.failed);
    return target;
}

// The message of a conversion that must fail.
std::string FailureOf(const HostValue& source, BindingProperty* target = nullptr) {
    HostValueResult error;
    BindingProperty local;
    EXPECT_FALSE(FromHostValue(error, target != nullptr ? *target : local, source, "<result>"));
    EXPECT_TRUE(error.failed);
    EXPECT_EQ(error.value.kind, 0u);
    return error.Message();
}

std::vector<std::string> MemberNames(const BindingProperty& value) {
    std::vector<std::string> names;
    for (const auto& member : value.Members()) {
        names.emplace_back(member.name);
    }
    return names;
}

TEST(FromHostValue, ScalarsFollowTheirKinds) {
    HostValueArena arena;
    EXPECT_TRUE(FromHost(arena.Build(nullptr)).IsEmpty());

    // Only the first byte of a bool's payload counts.
    HostValue flag = arena.Raw(1);
    flag.payload.unsignedValue = 0x0100;
    EXPECT_EQ(FromHost(flag).Kind(), BindingKind::Bool);
    EXPECT_FALSE(FromHost(flag).GetBool(true));
    flag.payload.unsignedValue = 0x02;
    EXPECT_TRUE(FromHost(flag).GetBool());

    EXPECT_EQ(FromHost(arena.Signed(-5)).GetSigned(), -5);
    EXPECT_EQ(FromHost(arena.Unsigned(UINT64_MAX)).GetUnsigned(), UINT64_MAX);
    EXPECT_EQ(FromHost(arena.Build(2.5)).GetFloat(), 2.5);
    EXPECT_EQ(FromHost(arena.Text("abc")).GetString(), "abc");

    const std::vector<uint8_t> bytes = {0, 1, 255};
    const BindingProperty blob = FromHost(arena.Build(Json::binary(bytes)));
    ASSERT_EQ(blob.Kind(), BindingKind::Blob);
    EXPECT_EQ(std::vector<uint8_t>(blob.GetBlob().begin(), blob.GetBlob().end()), bytes);

    // Owned and borrowed texts and byte blocks read alike.
    HostValue owned = arena.Text("xyz");
    owned.kind = static_cast<uint32_t>(HostValueKind::OwnedText);
    EXPECT_EQ(FromHost(owned).GetString(), "xyz");
}

TEST(FromHostValue, StructuresListMembersByNameAndLaterEntriesWin) {
    HostValueArena arena;
    const BindingProperty value =
        FromHost(arena.Structure({{"b", arena.Signed(1)},
                                  {"a", arena.Collection({arena.Text("x"), arena.Build(nullptr)})},
                                  {"b", arena.Signed(2)}}));
    EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(value.Member("b").GetSigned(), 2);
    ASSERT_EQ(value.Member("a").Size(), 2u);
    EXPECT_EQ(value.Member("a").Element(0).GetString(), "x");
    EXPECT_TRUE(value.Member("a").Element(1).IsEmpty());

    // A repeated container replaces the earlier one instead of merging into it.
    const BindingProperty replaced =
        FromHost(arena.Structure({{"c", arena.Build(Json{{"x", 1}, {"y", 2}})},
                                  {"c", arena.Build(Json{{"z", 3}})},
                                  {"d", arena.Build(Json::array({1, 2, 3}))},
                                  {"d", arena.Build(Json::array({4}))}}));
    EXPECT_EQ(MemberNames(replaced.Member("c")), (std::vector<std::string>{"z"}));
    ASSERT_EQ(replaced.Member("d").Size(), 1u);
    EXPECT_EQ(replaced.Member("d").Element(0).GetSigned(), 4);
}

TEST(FromHostValue, ThousandsOfRepeatedAndDistinctNames) {
    HostValueArena arena;
    std::vector<std::pair<std::string, HostValue>> members;
    for (int i = 0; i < 20000; ++i) {
        members.emplace_back("same", arena.Signed(i));
        members.emplace_back("m" + std::to_string(i % 3000), arena.Signed(i));
    }
    const BindingProperty value = FromHost(arena.Structure(members));
    EXPECT_EQ(value.Size(), 3001u);
    EXPECT_EQ(value.Member("same").GetSigned(), 19999);
    EXPECT_EQ(value.Member("m0").GetSigned(), 18000);
    EXPECT_EQ(value.Member("m2999").GetSigned(), 17999);
}

TEST(FromHostValue, UnknownKindsFailWithTheIncompatibleTypeMessage) {
    HostValueArena arena;
    EXPECT_EQ(FailureOf(arena.Raw(11)), "Couldn't assign value to '<result>' of type object "
                                        "because the input is of an incompatible type ''.");
    EXPECT_EQ(FailureOf(arena.Raw(0xFFFFFFFFu)),
              "Couldn't assign value to '<result>' of type object because the input is of an "
              "incompatible type ''.");

    // Deep inside a value: the conversion stops there and keeps what it built before.
    BindingProperty partial;
    const HostValue nested =
        arena.Structure({{"a", arena.Signed(1)},
                         {"b", arena.Collection({arena.Signed(2), arena.Raw(42), arena.Signed(3)})},
                         {"c", arena.Signed(4)}});
    EXPECT_EQ(FailureOf(nested, &partial), "Couldn't assign value to '<result>' of type object "
                                           "because the input is of an incompatible type ''.");
    EXPECT_EQ(partial.Member("a").GetSigned(), 1);
    EXPECT_EQ(partial.Member("b").Element(0).GetSigned(), 2);
    EXPECT_FALSE(partial.HasMember("c"));

    // A second failure replaces the first message; Reset empties the output.
    HostValueResult error;
    BindingProperty target;
    EXPECT_FALSE(FromHostValue(error, target, arena.Raw(12), "first"));
    EXPECT_FALSE(FromHostValue(error, target, arena.Raw(13), "second"));
    EXPECT_NE(std::string(error.Message()).find("'second'"), std::string::npos);
    error.Reset();
    EXPECT_FALSE(error.failed);
    EXPECT_STREQ(error.Message(), "");
}

TEST(FromHostValue, NullDataWithACountIsRefused) {
    HostValueArena arena;
    struct Case {
        HostValueKind kind;
        const char* message;
    };
    const Case cases[] = {
        {HostValueKind::BorrowedText, "Couldn't assign value to '<result>' because the input "
                                      "string of length 4 has no data."},
        {HostValueKind::OwnedBytes, "Couldn't assign value to '<result>' because the input blob "
                                    "of length 4 has no data."},
        {HostValueKind::Collection, "Couldn't assign value to '<result>' because the input "
                                    "collection of length 4 has no data."},
        {HostValueKind::Structure, "Couldn't assign value to '<result>' because the input "
                                   "structure of length 4 has no data."},
    };
    for (const Case& c : cases) {
        HostValue value = arena.Raw(static_cast<uint32_t>(c.kind));
        value.payload.collection.count = 4;
        EXPECT_EQ(FailureOf(value), c.message);

        // With no count there is nothing to read: an empty value of the kind.
        value.payload.collection.count = 0;
        const BindingProperty empty = FromHost(value);
        EXPECT_TRUE(empty.IsDefault());
        EXPECT_FALSE(empty.IsEmpty());
    }

    HostValueMember unnamed{};
    unnamed.value = arena.Signed(1);
    HostValue structure = arena.Raw(static_cast<uint32_t>(HostValueKind::Structure));
    structure.payload.structure.members = &unnamed;
    structure.payload.structure.count = 1;
    EXPECT_EQ(FailureOf(structure),
              "Couldn't assign value to '<result>' because a member of the input structure has "
              "no name.");
}

// Host texts are NUL-terminated and their stated length is not used: a text ends at its
// terminator whether the length is right, too long, too short or zero.
TEST(FromHostValue, TextsEndAtTheirTerminatorWhateverTheStatedLength) {
    HostValueArena arena;
    const char text[] = "ab\0cdef";
    const char whole[] = "abcdef";
    HostValue value = arena.Raw(static_cast<uint32_t>(HostValueKind::BorrowedText));
    for (uint32_t length : {7u, 2u, 1u, 0u, 100u}) {
        SCOPED_TRACE(length);
        value.payload.text.length = length;
        value.payload.text.data = text;
        EXPECT_EQ(FromHost(value).GetString(), "ab");
        value.payload.text.data = whole;
        EXPECT_EQ(FromHost(value).GetString(), "abcdef");
    }
}

TEST(FromHostValue, NestingIsLimitedAndCyclesEnd) {
    HostValueArena arena;
    HostValue value = arena.Signed(7);
    for (std::size_t i = 0; i < DecodeLimits::kMaxNestingDepth; ++i) {
        value = arena.Collection({value});
    }
    const BindingProperty deepest = FromHost(value);
    const BindingProperty* at = &deepest;
    for (std::size_t i = 0; i < DecodeLimits::kMaxNestingDepth; ++i) {
        ASSERT_EQ(at->Kind(), BindingKind::Collection);
        at = &at->Element(0);
    }
    EXPECT_EQ(at->GetSigned(), 7);

    value = arena.Structure({{"x", value}});
    EXPECT_EQ(FailureOf(value), "Couldn't assign value to '<result>' because the input is nested "
                                "deeper than 512 levels.");

    // A collection that contains itself.
    HostValue cycle[1];
    cycle[0] = arena.Raw(static_cast<uint32_t>(HostValueKind::Collection));
    cycle[0].payload.collection.items = cycle;
    cycle[0].payload.collection.count = 1;
    EXPECT_NE(FailureOf(cycle[0]).find("nested deeper"), std::string::npos);
}

// Arrays and byte blocks that several entries point at are converted once per entry. A few shared
// parts convert as usual; sharing that would expand a small input into an enormous tree ends with
// a message instead of exhausting time and memory.
TEST(FromHostValue, SharedPartsExpandOnlySoFar) {
    HostValueArena arena;
    const HostValue pair = arena.Collection({arena.Text("x"), arena.Signed(2)});
    const BindingProperty twice = FromHost(arena.Structure({{"a", pair}, {"b", pair}}));
    EXPECT_EQ(twice.Member("a"), twice.Member("b"));
    EXPECT_EQ(twice.Member("b").Element(0).GetString(), "x");

    // Each level holds the level below twice: 22 levels describe 2^22 numbers.
    HostValue doubled = arena.Signed(1);
    for (int i = 0; i < 22; ++i) {
        doubled = arena.Collection({doubled, doubled});
    }
    EXPECT_EQ(FailureOf(doubled),
              "Couldn't assign value to '<result>' because the input's shared parts expand to "
              "more than " +
                  std::to_string(DecodeLimits::kMaxSharedCopiedNodes) + " values.");

    // One large byte block named by many entries of one collection.
    const std::vector<uint8_t> block(std::size_t{1} << 20, 0xAB);
    HostValue bytes = arena.Raw(static_cast<uint32_t>(HostValueKind::BorrowedBytes));
    bytes.payload.bytes.data = block.data();
    bytes.payload.bytes.length = static_cast<uint32_t>(block.size());
    EXPECT_EQ(FromHost(arena.Collection({bytes, bytes})).Element(1).Size(), block.size());
    EXPECT_EQ(FailureOf(arena.Collection(std::vector<HostValue>(4096, bytes))),
              "Couldn't assign value to '<result>' because the input's shared parts expand to "
              "more than " +
                  std::to_string(DecodeLimits::kMaxSharedCopiedBytes) + " bytes.");
}

TEST(ToHostValue, KindsAndOwnership) {
    BindingProperty value;
    value.Member("b").SetBool(true);
    value.Member("s").SetSigned(-2);
    value.Member("u").SetUnsigned(3);
    value.Member("f").SetFloat(0.5);
    value.Member("t").SetString("text");
    value.Member("x").SetBlob(std::vector<uint8_t>{1, 2});
    value.Member("e");
    value.Member("c").Append().SetString("one");
    value.Member("c").Append().MakeStructure();

    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, value, nullptr);
    EXPECT_EQ(ReadHostValueKinds(host), (Json{{"$", 10},
                                              {"b", 1},
                                              {"c", {{"$", 9}, {"items", {6, {{"$", 10}}}}}},
                                              {"e", 0},
                                              {"f", 4},
                                              {"s", 2},
                                              {"t", 6},
                                              {"u", 3},
                                              {"x", 8}}));
    EXPECT_EQ(ReadHostValue(host).dump(),
              R"({"b":true,"c":["one",{}],"e":null,"f":0.5,"s":-2,"t":"text","u":3,)"
              R"("x":{"bytes":[1,2],"subtype":null}})");
    ASSERT_EQ(+host.payload.structure.count, 8u);
    for (uint32_t i = 0; i < host.payload.structure.count; ++i) {
        EXPECT_EQ(+host.payload.structure.members[i].ownsName, 1);
    }
    EXPECT_STREQ(host.payload.structure.members[5].name, "t");
    EXPECT_EQ(+host.payload.structure.members[5].value.payload.text.length, 4u);
    ReleaseHostValue(host);
    EXPECT_EQ(+host.kind, 0u);
    EXPECT_EQ(+host.payload.unsignedValue, 0u);
}

TEST(ToHostValue, EnumerationsTravelByNameWhenTheRegistryHasOne) {
    BindingRegistry registry;
    registry.RegisterEnum<HostValueTestState>("HostValueTestState")
        .AddValue("Idle", 0)
        .AddValue("Busy", 1);
    const StaticTypeId& type = StaticType::Identity<HostValueTestState>();

    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, BindingProperty(BindingEnumRecord{1, &type}), &registry);
    EXPECT_EQ(+host.kind, 6u);
    EXPECT_EQ(ReadHostValue(host), "Busy");

    // No enumerator of the value: the number, sign-extended, also with a registry.
    ToHostValue(host, BindingProperty(BindingEnumRecord{-3, &type}), &registry);
    EXPECT_EQ(+host.kind, 2u);
    EXPECT_EQ(+host.payload.signedValue, -3);

    // Without a registry, or for an enumeration it does not know, the number.
    ToHostValue(host, BindingProperty(BindingEnumRecord{1, &type}), nullptr);
    EXPECT_EQ(+host.kind, 2u);
    EXPECT_EQ(+host.payload.signedValue, 1);
    BindingRegistry empty;
    ToHostValue(host, BindingProperty(BindingEnumRecord{1, &type}), &empty);
    EXPECT_EQ(+host.payload.signedValue, 1);
    // A record without a type cannot be looked up either; the lowest 32-bit value stays negative.
    ToHostValue(host, BindingProperty(BindingEnumRecord{INT32_MIN, nullptr}), &registry);
    EXPECT_EQ(+host.kind, 2u);
    EXPECT_EQ(+host.payload.signedValue, int64_t{INT32_MIN});
    ReleaseHostValue(host);
}

// Hooks that hand every request on to the hooks in effect before them and note which blocks
// were text copies, so a test can tell which allocation entry a block came from.
struct DuplicateRecorder {
    AllocationHooks inner;
    std::vector<const void*> copies;
};

void* ForwardAllocate(std::size_t size, void* context) {
    const AllocationHooks& inner = static_cast<DuplicateRecorder*>(context)->inner;
    return inner.allocate(size, inner.context);
}
void ForwardFree(void* block, void* context) {
    const AllocationHooks& inner = static_cast<DuplicateRecorder*>(context)->inner;
    inner.free(block, inner.context);
}
void* ForwardReallocate(void* block, std::size_t size, void* context) {
    const AllocationHooks& inner = static_cast<DuplicateRecorder*>(context)->inner;
    return inner.reallocate(block, size, inner.context);
}
char* RecordDuplicate(const char* text, void* context) {
    auto& recorder = *static_cast<DuplicateRecorder*>(context);
    char* copy = recorder.inner.duplicateText(text, recorder.inner.context);
    recorder.copies.push_back(copy);
    return copy;
}
std::size_t ForwardBlockSize(void* block, void* context) {
    const AllocationHooks& inner = static_cast<DuplicateRecorder*>(context)->inner;
    return inner.blockSize(block, inner.context);
}

TEST(ToHostValue, TextsAndMemberNamesAreCopiedWithDuplicateText) {
    BindingRegistry registry;
    registry.RegisterEnum<HostValueTestState>("HostValueTestState").AddValue("Busy", 1);
    BindingProperty value;
    value.Member("name").SetString("text");
    value.Member("state").SetEnum(1, StaticType::Identity<HostValueTestState>());
    value.Member("list").Append().SetString("x");

    DuplicateRecorder recorder{CurrentAllocationHooks(), {}};
    recorder.copies.reserve(16);
    ASSERT_NE(recorder.inner.duplicateText, nullptr);
    SetAllocationHooks(&ForwardAllocate, &ForwardFree, &ForwardReallocate, &RecordDuplicate,
                       &ForwardBlockSize, &recorder);
    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, value, &registry);
    // Every name and every text of the record, in member order: "list" with its element "x",
    // "name" with "text", "state" with the enumerator's name "Busy".
    std::vector<const void*> texts;
    if (host.kind == static_cast<uint32_t>(HostValueKind::Structure) &&
        host.payload.structure.count == 3) {
        const HostValueMember* members = host.payload.structure.members;
        texts = {members[0].name, members[0].value.payload.collection.items[0].payload.text.data,
                 members[1].name, members[1].value.payload.text.data,
                 members[2].name, members[2].value.payload.text.data};
    }
    std::vector<const void*> copies = recorder.copies;
    ReleaseHostValue(host);
    SetAllocationHooks(recorder.inner.allocate, recorder.inner.free, recorder.inner.reallocate,
                       recorder.inner.duplicateText, recorder.inner.blockSize,
                       recorder.inner.context);

    ASSERT_EQ(texts.size(), 6u);
    std::sort(texts.begin(), texts.end());
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(copies, texts);
}

TEST(ToHostValue, ReleaseFreesEverythingThatWasAllocated) {
    BindingProperty value;
    value.Member("name").SetString("a longer text than a few bytes");
    value.Member("bytes").SetBlob(std::vector<uint8_t>(100, 7));
    BindingProperty& list = value.Member("list");
    for (int i = 0; i < 10; ++i) {
        BindingProperty& item = list.Append();
        item.Member("k").SetString("v" + std::to_string(i));
        item.Member("n").SetSigned(i);
    }
    value.Member("empty list").MakeCollection();

    const uint64_t bytesBefore = LiveBytes();
    const uint64_t blocksBefore = LiveBlocks();
    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, value, nullptr);
    // 4 names, 1 text, 1 byte block, 2 arrays for the root and the list, then for each of the 10
    // items its member array, 2 names and 1 text; no array for the empty list.
    EXPECT_EQ(LiveBlocks() - blocksBefore, 4u + 1 + 1 + 2 + 10 * 4);

    // Converting into a record that holds a tree releases that tree first.
    ToHostValue(host, value, nullptr);
    EXPECT_EQ(LiveBlocks() - blocksBefore, 48u);
    ToHostValue(host, BindingProperty(), nullptr);
    EXPECT_EQ(LiveBlocks(), blocksBefore);
    EXPECT_EQ(LiveBytes(), bytesBefore);

    ToHostValue(host, value, nullptr);
    ReleaseHostValue(host);
    EXPECT_EQ(LiveBlocks(), blocksBefore);
    EXPECT_EQ(LiveBytes(), bytesBefore);
    // Releasing an empty record again does nothing.
    ReleaseHostValue(host);
    EXPECT_EQ(LiveBlocks(), blocksBefore);
}

// A record may mix what it owns with what it borrows: borrowed texts and byte blocks, names an
// entry does not own and payloads of unknown kinds are left to their owner.
TEST(ReleaseHostValue, FreesOnlyWhatTheRecordOwns) {
    static const char kBorrowedName[] = "borrowed";
    static const char kBorrowedText[] = "text";
    static const uint8_t kBorrowedBytes[] = {1, 2, 3};
    const uint64_t blocksBefore = LiveBlocks();
    const uint64_t bytesBefore = LiveBytes();

    auto* items = static_cast<HostValue*>(Allocate(4 * sizeof(HostValue)));
    ASSERT_NE(items, nullptr);
    std::memset(items, 0, 4 * sizeof(HostValue));
    items[0].kind = static_cast<uint32_t>(HostValueKind::BorrowedText);
    items[0].payload.text = {kBorrowedText, 4};
    items[1].kind = static_cast<uint32_t>(HostValueKind::BorrowedBytes);
    items[1].payload.bytes = {kBorrowedBytes, 3};
    items[2].kind = 42;
    items[2].payload.text = {kBorrowedText, 4};
    items[3].kind = static_cast<uint32_t>(HostValueKind::OwnedText);
    items[3].payload.text = {DuplicateText("owned"), 5};

    auto* members = static_cast<HostValueMember*>(Allocate(2 * sizeof(HostValueMember)));
    ASSERT_NE(members, nullptr);
    std::memset(members, 0, 2 * sizeof(HostValueMember));
    members[0].name = kBorrowedName;
    members[0].ownsName = 0;
    members[0].value.kind = static_cast<uint32_t>(HostValueKind::Collection);
    members[0].value.payload.collection = {items, 4};
    members[1].name = DuplicateText("owned name");
    members[1].ownsName = 1;
    members[1].value.kind = static_cast<uint32_t>(HostValueKind::BorrowedText);
    members[1].value.payload.text = {kBorrowedText, 4};

    HostValue record = MakeEmptyHostValue();
    record.kind = static_cast<uint32_t>(HostValueKind::Structure);
    record.payload.structure = {members, 2};
    ReleaseHostValue(record);
    // Both arrays, the owned text and the owned name are gone; freeing a borrowed pointer would
    // have been caught by the sanitizer.
    EXPECT_EQ(LiveBlocks(), blocksBefore);
    EXPECT_EQ(LiveBytes(), bytesBefore);
    const HostValue empty = MakeEmptyHostValue();
    EXPECT_EQ(std::memcmp(&record, &empty, sizeof(HostValue)), 0);

    // A borrowed byte block on its own is only emptied.
    HostValue borrowed = MakeEmptyHostValue();
    borrowed.kind = static_cast<uint32_t>(HostValueKind::BorrowedBytes);
    borrowed.payload.bytes = {kBorrowedBytes, 3};
    ReleaseHostValue(borrowed);
    EXPECT_EQ(std::memcmp(&borrowed, &empty, sizeof(HostValue)), 0);
    EXPECT_EQ(LiveBlocks(), blocksBefore);
}

TEST(ToHostValue, DeepTreesNeedNoRecursion) {
    BindingProperty root;
    BindingProperty* at = &root;
    for (int i = 0; i < 100000; ++i) {
        at = &(i % 2 == 0 ? at->Append() : at->Member("m"));
    }
    at->SetString("leaf");
    const uint64_t blocksBefore = LiveBlocks();
    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, root, nullptr);
    const HostValue* node = &host;
    for (int i = 0; i < 100000; ++i) {
        node = i % 2 == 0 ? &node->payload.collection.items[0]
                          : &node->payload.structure.members[0].value;
    }
    EXPECT_EQ(+node->kind, 6u);
    EXPECT_STREQ(node->payload.text.data, "leaf");
    ReleaseHostValue(host);
    EXPECT_EQ(LiveBlocks(), blocksBefore);
}

TEST(HostValueConversion, RoundTripKeepsTheValue) {
    BindingProperty value;
    value.Member("z").SetUnsigned(UINT64_MAX);
    value.Member("a").Append().SetFloat(-1.25);
    value.Member("a").Append().SetBlob(std::vector<uint8_t>{});
    value.Member("a").Append();
    value.Member("m").Member("deeper").SetString("");
    value.Member("n").SetSigned(INT64_MIN);

    HostValue host = MakeEmptyHostValue();
    ToHostValue(host, value, nullptr);
    EXPECT_EQ(FromHost(host), value);
    ReleaseHostValue(host);
}

} // namespace
} // namespace Korvel::Testing
