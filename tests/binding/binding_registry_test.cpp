#include "binding/binding_registry.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "remoting/builtin_types.h"

namespace Korvel::Testing {

enum class Level : std::int16_t { Low = 1, High = 2 };

struct Inner {
    std::int32_t value = 0;
};

struct Outer {
    Inner inner;
    std::vector<Inner> inners;
};

struct EveryKind {
    bool flag;
    std::int8_t i8;
    std::uint8_t u8;
    std::int16_t i16;
    std::uint16_t u16;
    std::int32_t i32;
    std::uint32_t u32;
    std::int64_t i64;
    std::uint64_t u64;
    float f32;
    double f64;
    std::string text;
    BindingProperty object;
    std::vector<std::uint8_t> blob;
    std::vector<std::string> texts;
    Level level;
    Inner inner;
    BindingCallback callback;
    std::unordered_map<std::string, Inner> byName;
    std::optional<std::int32_t> maybe;
    std::vector<Level> levels;
    std::vector<std::vector<std::int32_t>> nested;
};

// Registered types wrapped in optionals and held in maps.
struct Wrapped {
    std::optional<Inner> maybeInner;
    std::optional<Level> maybeLevel;
    std::unordered_map<std::string, Level> levelsByName;
    std::optional<std::vector<Inner>> maybeInners;
};

} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(enum, Korvel::Testing::Level)
KORVEL_STATIC_TYPE(struct, Korvel::Testing::Inner)
KORVEL_STATIC_TYPE(struct, Korvel::Testing::Outer)
KORVEL_STATIC_TYPE(struct, Korvel::Testing::EveryKind)
KORVEL_STATIC_TYPE(struct, Korvel::Testing::Wrapped)

namespace {

using namespace Korvel;
using Testing::EveryKind;

TEST(FieldKind, Names) {
    const char* expected[] = {"",       "bool",   "int8",   "uint8",    "int16",
                              "uint16", "int32",  "uint32", "int64",    "uint64",
                              "float",  "double", "string", "object",   "blob",
                              "vector", "enum",   "struct", "callback", "map"};
    for (std::uint32_t code = 0; code < 20; ++code) {
        EXPECT_STREQ(FieldKindName(static_cast<FieldKind>(code)), expected[code]) << code;
    }
    EXPECT_STREQ(FieldKindName(static_cast<FieldKind>(20)), "");
}

TEST(BindingRegistry, SecondRegistrationChangesNothing) {
    BindingRegistry registry;
    auto first = registry.RegisterStruct<Testing::Inner>("A");
    EXPECT_FALSE(first.alreadyRegistered);
    first.SetDescription("first").AddTag("t1");
    KORVEL_BINDING_FIELD(first, Testing::Inner, value, "value", "the value", kBindingRequired);

    auto second = registry.RegisterStruct(sizeof(Testing::Outer), "A",
                                          StaticType::Identity<Testing::Outer>());
    EXPECT_TRUE(second.alreadyRegistered);
    EXPECT_EQ(second.descriptor, first.descriptor);
    second.SetDescription("second").AddTag("t2").SetNameSpace("ns");
    second.AddField<std::string>("extra", 0, "", 0);
    second.AddValue("v", 1);

    const BindingTypeDescriptor* a = registry.FindTypeByName("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->description, "first");
    EXPECT_EQ(a->tags, std::vector<std::string>{"t1"});
    EXPECT_EQ(a->nameSpace, "");
    ASSERT_EQ(a->fields.size(), 1u);
    EXPECT_TRUE(a->values.empty());
    EXPECT_EQ(a->size, sizeof(Testing::Inner));
    EXPECT_EQ(a->hash, StaticType::HashCode<Testing::Inner>());
    EXPECT_EQ(a->identity, &StaticType::Identity<Testing::Inner>());
    EXPECT_EQ(a->registry, &registry);
    EXPECT_FALSE(a->isEnum);

    const BindingFieldDescriptor& field = a->fields[0];
    EXPECT_EQ(field.name, "value");
    EXPECT_EQ(field.description, "the value");
    EXPECT_EQ(field.offset, offsetof(Testing::Inner, value));
    EXPECT_EQ(field.type.kind, FieldKind::Int32);
    EXPECT_TRUE(field.Required());
    EXPECT_FALSE(field.OmitDefault());
    EXPECT_EQ(field.owner, a);
    EXPECT_EQ(field.identity, &StaticType::Identity<std::int32_t>());
    EXPECT_NE(field.converter, nullptr);
    EXPECT_EQ(registry.FindTypeByHash(StaticType::Identity<Testing::Inner>()), a);
    EXPECT_EQ(registry.FindTypeByHash(StaticType::Identity<Testing::Outer>()), nullptr);
}

TEST(BindingRegistry, NestedTypesMustBeRegisteredFirst) {
    BindingRegistry tooLate;
    {
        auto outer = tooLate.RegisterStruct<Testing::Outer>("Outer");
        KORVEL_BINDING_FIELD(outer, Testing::Outer, inner, "inner", "", 0);
        KORVEL_BINDING_FIELD(outer, Testing::Outer, inners, "inners", "", 0);
        auto inner = tooLate.RegisterStruct<Testing::Inner>("Inner");
        KORVEL_BINDING_FIELD(inner, Testing::Inner, value, "value", "", 0);
    }
    const BindingTypeDescriptor* outer = tooLate.FindTypeByName("Outer");
    ASSERT_EQ(outer->fields.size(), 2u);
    EXPECT_EQ(outer->fields[0].type.kind, FieldKind::Struct);
    EXPECT_EQ(outer->fields[0].type.descriptor, nullptr);
    EXPECT_EQ(outer->fields[1].type.kind, FieldKind::Vector);
    EXPECT_EQ(outer->fields[1].type.elementKind, FieldKind::Struct);
    EXPECT_EQ(outer->fields[1].type.descriptor, nullptr);

    BindingRegistry inOrder;
    {
        auto inner = inOrder.RegisterStruct<Testing::Inner>("Inner");
        KORVEL_BINDING_FIELD(inner, Testing::Inner, value, "value", "", 0);
        auto outer = inOrder.RegisterStruct<Testing::Outer>("Outer");
        KORVEL_BINDING_FIELD(outer, Testing::Outer, inner, "inner", "", 0);
        KORVEL_BINDING_FIELD(outer, Testing::Outer, inners, "inners", "", 0);
    }
    const BindingTypeDescriptor* inner = inOrder.FindTypeByName("Inner");
    EXPECT_EQ(inOrder.FindTypeByName("Outer")->fields[0].type.descriptor, inner);
    EXPECT_EQ(inOrder.FindTypeByName("Outer")->fields[1].type.descriptor, inner);
}

TEST(BindingRegistry, FieldKindsOfEveryNativeType) {
    BindingRegistry registry;
    registry.RegisterEnum<Testing::Level>("Level").AddValue("Low", 1).AddValue("High", 2);
    registry.RegisterStruct<Testing::Inner>("Inner");
    auto every = registry.RegisterStruct<EveryKind>("EveryKind");
#define FIELD(member) KORVEL_BINDING_FIELD(every, EveryKind, member, #member, "", 0)
    FIELD(flag);
    FIELD(i8);
    FIELD(u8);
    FIELD(i16);
    FIELD(u16);
    FIELD(i32);
    FIELD(u32);
    FIELD(i64);
    FIELD(u64);
    FIELD(f32);
    FIELD(f64);
    FIELD(text);
    FIELD(object);
    FIELD(blob);
    FIELD(texts);
    FIELD(level);
    FIELD(inner);
    FIELD(callback);
    FIELD(byName);
    FIELD(maybe);
    FIELD(levels);
    FIELD(nested);
#undef FIELD
    const BindingTypeDescriptor* level = registry.FindTypeByName("Level");
    const BindingTypeDescriptor* inner = registry.FindTypeByName("Inner");
    EXPECT_TRUE(level->isEnum);
    EXPECT_EQ(level->size, 2u);
    struct Expected {
        FieldKind kind;
        FieldKind element;
        const BindingTypeDescriptor* descriptor;
        bool optional;
    };
    const Expected expected[] = {
        {FieldKind::Bool, FieldKind::None, nullptr, false},
        {FieldKind::Int8, FieldKind::None, nullptr, false},
        {FieldKind::Uint8, FieldKind::None, nullptr, false},
        {FieldKind::Int16, FieldKind::None, nullptr, false},
        {FieldKind::Uint16, FieldKind::None, nullptr, false},
        {FieldKind::Int32, FieldKind::None, nullptr, false},
        {FieldKind::Uint32, FieldKind::None, nullptr, false},
        {FieldKind::Int64, FieldKind::None, nullptr, false},
        {FieldKind::Uint64, FieldKind::None, nullptr, false},
        {FieldKind::Float, FieldKind::None, nullptr, false},
        {FieldKind::Double, FieldKind::None, nullptr, false},
        {FieldKind::String, FieldKind::None, nullptr, false},
        {FieldKind::Object, FieldKind::None, nullptr, false},
        {FieldKind::Blob, FieldKind::None, nullptr, false},
        {FieldKind::Vector, FieldKind::String, nullptr, false},
        {FieldKind::Enum, FieldKind::None, level, false},
        {FieldKind::Struct, FieldKind::None, inner, false},
        {FieldKind::Callback, FieldKind::None, nullptr, false},
        {FieldKind::Map, FieldKind::Struct, inner, false},
        {FieldKind::Int32, FieldKind::None, nullptr, true},
        {FieldKind::Vector, FieldKind::Enum, level, false},
        {FieldKind::Vector, FieldKind::Vector, nullptr, false},
    };
    const BindingTypeDescriptor* descriptor = registry.FindTypeByName("EveryKind");
    ASSERT_EQ(descriptor->fields.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const BindingFieldDescriptor& field = descriptor->fields[i];
        EXPECT_EQ(field.type.kind, expected[i].kind) << field.name;
        EXPECT_EQ(field.type.elementKind, expected[i].element) << field.name;
        EXPECT_EQ(field.type.descriptor, expected[i].descriptor) << field.name;
        EXPECT_EQ(field.optional, expected[i].optional) << field.name;
        EXPECT_NE(field.converter, nullptr) << field.name;
    }
    EXPECT_EQ(descriptor->fields[13].offset, offsetof(EveryKind, blob));
    EXPECT_EQ(descriptor->fields[14].identity, &StaticType::Identity<std::vector<std::string>>());
    EXPECT_EQ(descriptor->FindField("level"), &descriptor->fields[15]);
    EXPECT_EQ(descriptor->FindField("missing"), nullptr);
}

TEST(BindingRegistry, WrappedRegisteredTypesFindTheirDescriptors) {
    BindingRegistry registry;
    const BindingTypeDescriptor* level =
        registry.RegisterEnum<Testing::Level>("Level").AddValue("Low", 1).descriptor;
    const BindingTypeDescriptor* inner =
        registry.RegisterStruct<Testing::Inner>("Inner").descriptor;
    auto wrapped = registry.RegisterStruct<Testing::Wrapped>("Wrapped");
    KORVEL_BINDING_FIELD(wrapped, Testing::Wrapped, maybeInner, "maybeInner", "", 0);
    KORVEL_BINDING_FIELD(wrapped, Testing::Wrapped, maybeLevel, "maybeLevel", "", 0);
    KORVEL_BINDING_FIELD(wrapped, Testing::Wrapped, levelsByName, "levelsByName", "", 0);
    KORVEL_BINDING_FIELD(wrapped, Testing::Wrapped, maybeInners, "maybeInners", "", 0);
    const std::vector<BindingFieldDescriptor>& fields = wrapped.descriptor->fields;
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].type.kind, FieldKind::Struct);
    EXPECT_EQ(fields[0].type.descriptor, inner);
    EXPECT_TRUE(fields[0].optional);
    EXPECT_EQ(fields[1].type.kind, FieldKind::Enum);
    EXPECT_EQ(fields[1].type.descriptor, level);
    EXPECT_TRUE(fields[1].optional);
    EXPECT_EQ(fields[2].type.kind, FieldKind::Map);
    EXPECT_EQ(fields[2].type.elementKind, FieldKind::Enum);
    EXPECT_EQ(fields[2].type.descriptor, level);
    EXPECT_FALSE(fields[2].optional);
    EXPECT_EQ(fields[3].type.kind, FieldKind::Vector);
    EXPECT_EQ(fields[3].type.elementKind, FieldKind::Struct);
    EXPECT_EQ(fields[3].type.descriptor, inner);
    EXPECT_TRUE(fields[3].optional);
    EXPECT_EQ(fields[3].offset, offsetof(Testing::Wrapped, maybeInners));
}

TEST(BindingRegistry, EnumeratorsAreKeptInNameOrder) {
    BindingRegistry registry;
    auto builder = registry.RegisterEnum<Testing::Level>("Level");
    builder.AddValue("b", 1, "bee").AddValue("a", 1, "ay").AddValue("c", 3);
    builder.AddValue("c", 4, "replaced");
    const BindingTypeDescriptor& level = *builder.descriptor;
    ASSERT_EQ(level.values.size(), 3u);
    EXPECT_EQ(level.values.begin()->first, "a");
    EXPECT_EQ(level.values.at("c").value, 4);
    EXPECT_EQ(level.values.at("c").description, "replaced");
    EXPECT_EQ(level.values.at("a").owner, &level);
    EXPECT_STREQ(registry.EnumName(StaticType::Identity<Testing::Level>(), 1), "a");
    EXPECT_STREQ(EnumName(StaticType::Identity<Testing::Level>(), 4, registry), "c");
    EXPECT_EQ(registry.EnumName(StaticType::Identity<Testing::Level>(), 3), nullptr);
    EXPECT_EQ(registry.EnumName(StaticType::Identity<Testing::Inner>(), 1), nullptr);
    EXPECT_TRUE(IsEnumValue(level, 1));
    EXPECT_FALSE(IsEnumValue(level, 3));
    EXPECT_EQ(level.FindValue("A"), nullptr); // exact, case-sensitive
    EXPECT_EQ(level.FindValue("b")->description, "bee");

    // Byte order is unsigned: a name starting with a byte above 127 sorts after every ASCII name,
    // so the ASCII name is the one a shared value maps to.
    BindingRegistry other;
    auto accented = other.RegisterEnum<Testing::Level>("Level");
    accented.AddValue("\xC3\xA9t\xC3\xA9", 2).AddValue("z", 2).AddValue("A", 1);
    std::vector<std::string> names;
    for (const auto& [name, value] : accented.descriptor->values) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "z", "\xC3\xA9t\xC3\xA9"}));
    EXPECT_STREQ(other.EnumName(StaticType::Identity<Testing::Level>(), 2), "z");
}

TEST(BindingRegistry, TagsAndLookups) {
    BindingRegistry registry;
    auto builder = registry.RegisterStruct<Testing::Inner>("Inner");
    builder.AddTag("").AddTag("one").AddTags({"two", "", "three"});
    EXPECT_EQ(builder.descriptor->tags, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(registry.FindTypeByHash(StaticType::Identity<int>()), nullptr);
    EXPECT_EQ(registry.FindTypeByName("inner"), nullptr);
    EXPECT_EQ(registry.FindType<Testing::Inner>(), builder.descriptor);
    // A type registered under the identity of void is found by name only.
    registry.RegisterStruct(0, "Nothing", StaticType::Identity<void>());
    EXPECT_NE(registry.FindTypeByName("Nothing"), nullptr);
    EXPECT_EQ(registry.FindTypeByHash(StaticType::Identity<void>()), nullptr);
}

TEST(BindingRegistry, HashCollisionAndUnregistering) {
    BindingRegistry registry;
    const StaticTypeId& identity = StaticType::Identity<Testing::Inner>();
    const BindingTypeDescriptor* first = registry.RegisterStruct(4, "First", identity).descriptor;
    const BindingTypeDescriptor* second = registry.RegisterStruct(4, "Second", identity).descriptor;
    EXPECT_EQ(registry.FindTypeByHash(identity), second); // the later type owns the hash
    EXPECT_EQ(registry.FindTypeByName("First"), first);

    EXPECT_TRUE(registry.UnregisterType("First"));
    EXPECT_FALSE(registry.UnregisterType("First"));
    EXPECT_EQ(registry.FindTypeByName("First"), nullptr);
    EXPECT_EQ(registry.FindTypeByHash(identity), second); // not removed with the other name

    EXPECT_TRUE(registry.UnregisterType("Second"));
    EXPECT_EQ(registry.FindTypeByHash(identity), nullptr);
    EXPECT_FALSE(registry.RegisterStruct(4, "Second", identity).alreadyRegistered);
}

TEST(BindingRegistry, EventsFunctionsAndSnapshots) {
    BindingRegistry registry;
    const BindingTypeDescriptor* inner =
        registry.RegisterStruct<Testing::Inner>("Inner").descriptor;
    auto event = registry.RegisterEvent("OnThing", inner);
    EXPECT_FALSE(event.alreadyRegistered);
    event.SetDescription("first").AddTag("").AddTag("tag");
    auto again = registry.RegisterEvent("OnThing", nullptr);
    EXPECT_TRUE(again.alreadyRegistered);
    again.SetDescription("second").AddTag("other");
    const BindingEventDescriptor* found = registry.FindEvent("OnThing");
    EXPECT_EQ(found->payload, inner);
    EXPECT_EQ(found->description, "first");
    EXPECT_EQ(found->tags, std::vector<std::string>{"tag"});

    BindingParameterDescriptor parameter;
    parameter.name = "id";
    parameter.type.kind = FieldKind::Uint32;
    auto function = registry.RegisterFunction("GetThing", {parameter});
    EXPECT_FALSE(function.alreadyRegistered);
    EXPECT_EQ(function.descriptor->parameters.size(), 1u);
    EXPECT_EQ(function.descriptor->registry, &registry);
    auto duplicate = registry.RegisterFunction("GetThing");
    EXPECT_TRUE(duplicate.alreadyRegistered);
    EXPECT_EQ(duplicate.descriptor->parameters.size(), 1u);

    EXPECT_EQ(registry.SnapshotTypes().size(), 1u);
    EXPECT_EQ(registry.SnapshotTypes().at("Inner"), inner);
    EXPECT_EQ(registry.SnapshotEvents().at("OnThing"), found);
    EXPECT_EQ(registry.SnapshotFunctions().at("GetThing"), function.descriptor);

    EXPECT_TRUE(registry.UnregisterEvent("OnThing"));
    EXPECT_FALSE(registry.UnregisterEvent("OnThing"));
    EXPECT_TRUE(registry.UnregisterFunction("GetThing"));
    EXPECT_EQ(registry.FindFunction("GetThing"), nullptr);
    EXPECT_TRUE(registry.SnapshotEvents().empty());
}

TEST(BindingRegistry, ReinitialiseStartsOverWithTheBuiltins) {
    BindingRegistry registry;
    EXPECT_FALSE(registry.IsInitialised());
    registry.Reinitialise();
    EXPECT_TRUE(registry.IsInitialised());
    const std::size_t builtinTypes = registry.SnapshotTypes().size();
    EXPECT_EQ(builtinTypes, 15u);
    EXPECT_EQ(registry.SnapshotEvents().size(), 1u);

    registry.RegisterStruct<Testing::Inner>("Inner");
    registry.RegisterEvent("OnInner", nullptr);
    registry.RegisterFunction("DoIt");
    EXPECT_EQ(registry.SnapshotTypes().size(), builtinTypes + 1);

    registry.Reinitialise();
    EXPECT_EQ(registry.FindTypeByName("Inner"), nullptr);
    EXPECT_EQ(registry.FindType<Testing::Inner>(), nullptr);
    EXPECT_EQ(registry.FindEvent("OnInner"), nullptr);
    EXPECT_EQ(registry.FindFunction("DoIt"), nullptr);
    EXPECT_EQ(registry.SnapshotTypes().size(), builtinTypes);
    EXPECT_NE(registry.FindEvent("OnCallback"), nullptr);
}

TEST(BindingFieldConverter, ConvertsItsFieldBothWaysAndRefusesWithAMessage) {
    BindingRegistry registry;
    auto inner = registry.RegisterStruct<Testing::Inner>("Inner");
    KORVEL_BINDING_FIELD(inner, Testing::Inner, value, "value", "", 0);
    const BindingFieldDescriptor& field = inner.descriptor->fields[0];
    Testing::Inner native;
    BindingResult status;
    field.converter->FromProperty(status, &native.value, BindingProperty(std::int32_t{5}),
                                  field.name, field, registry);
    BindingResult output;
    field.converter->ToProperty(output, &native.value, field, registry);
    // An int32 field takes a signed value and gives it back as one.
    EXPECT_TRUE(status.IsSuccess()) << status.GetError();
    EXPECT_EQ(native.value, 5);
    EXPECT_TRUE(output.IsSuccess()) << output.GetError();
    EXPECT_EQ(output.value.Kind(), BindingKind::Signed);
    EXPECT_EQ(output.value.GetSigned(), 5);

    // A value the field cannot take is refused with a message.
    BindingResult refused;
    field.converter->FromProperty(refused, &native.value, BindingProperty("five"), field.name,
                                  field, registry);
    EXPECT_FALSE(refused.IsSuccess());
    EXPECT_EQ(refused.GetError(), "Value five for 'value' of type int32 is in an incorrect format");
}

} // namespace
