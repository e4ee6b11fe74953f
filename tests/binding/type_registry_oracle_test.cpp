// A second, plain reading of the type-identity and registry rules, compared with the library:
// signature texts and hashes of generated nested types, and the registry's tables after seeded
// random sequences of registrations, removals and reinitialisations (builtin types included).

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/builtin_types.h"
#include "remoting/remoting_request.h"
#include "service_status/login_data_packet.h"
#include "service_status/service_status_resource.h"
#include "service_status/ticker_message.h"
#include "support/split_mix.h"

namespace Korvel::Testing {
struct OracleRecord {
    std::int32_t value = 0;
};
enum class OracleLevel : std::int32_t { Low = 1 };
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(struct, Korvel::Testing::OracleRecord)
KORVEL_STATIC_TYPE(enum, Korvel::Testing::OracleLevel)

namespace {

using namespace Korvel;
using Help = BindingHelpProvider;

// ---- Oracle: how a type is spelled, its signature texts and their hash ----------------------

struct Shape {
    enum Form { Leaf, Vector, Map, Optional } form = Leaf;
    std::string keyword, name; // leaves only
    FieldKind kind = FieldKind::None;
    std::shared_ptr<const Shape> inner;
};
// A leaf from its spelling: "class std::basic_string<...>", "enum Korvel::X", "int".
Shape Spelled(const std::string& text, FieldKind kind = FieldKind::Struct) {
    const std::string first = text.substr(0, text.find(' '));
    if (first == "class" || first == "struct" || first == "enum") {
        return {Shape::Leaf, first, text.substr(first.size() + 1), kind, nullptr};
    }
    return {Shape::Leaf, "", text, kind, nullptr};
}
Shape Wrap(Shape::Form form, Shape inner) {
    return {form, "", "", FieldKind::None, std::make_shared<const Shape>(std::move(inner))};
}

const char kString[] =
    "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";

// A template argument list closes with " >" after a '>' and with ">" otherwise.
std::string Closed(const std::string& text) {
    return text + (text.back() == '>' ? " >" : ">");
}

std::string Full(const Shape& shape);
std::pair<std::string, std::string> Parts(const Shape& shape) { // keyword, name
    if (shape.form == Shape::Leaf) {
        return {shape.keyword, shape.name};
    }
    const std::string e = Full(*shape.inner);
    if (shape.form == Shape::Vector) {
        return {"class", Closed("std::vector<" + e + "," + Closed("class std::allocator<" + e))};
    }
    if (shape.form == Shape::Optional) {
        return {"class", Closed("std::optional<" + e)};
    }
    const std::string k = kString;
    return {
        "class",
        Closed("std::unordered_map<" + k + "," + e + "," + Closed("struct std::hash<" + k) + "," +
               Closed("struct std::equal_to<" + k) + "," +
               Closed("class std::allocator<" + Closed("struct std::pair<" + k + " const ," + e)))};
}
std::string Full(const Shape& shape) {
    const auto [keyword, name] = Parts(shape);
    return keyword.empty() ? name : keyword + " " + name;
}
std::string Reference(const Shape& shape) {
    const auto [keyword, name] = Parts(shape);
    return keyword + name + "&";
}
std::string HashSignature(const std::string& spelled) {
    return Closed("unsigned int __cdecl StaticType::HashCode<" + spelled) + "(void)";
}
std::string NameSignature(const std::string& spelled) {
    return Closed("const char *__cdecl StaticType::Name<" + spelled) + "(void)";
}
std::uint32_t Fnv(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}
std::uint32_t HashOf(const Shape& shape) {
    return Fnv(HashSignature(Full(shape)));
}
std::string HashName(std::uint32_t hash) {
    char text[16];
    std::snprintf(text, sizeof text, "#%08X", hash);
    return text;
}

struct Kinds {
    FieldKind kind, element;
    bool optional;
    std::uint32_t described; // hash of the record or enumeration the field refers to, or 0
};
Kinds KindsOf(const Shape& shape) {
    if (shape.form == Shape::Leaf) {
        const bool named = shape.kind == FieldKind::Struct || shape.kind == FieldKind::Enum;
        return {shape.kind, FieldKind::None, false, named ? HashOf(shape) : 0u};
    }
    Kinds inner = KindsOf(*shape.inner);
    if (shape.form == Shape::Optional) {
        inner.optional = true;
        return inner;
    }
    if (shape.form == Shape::Vector && inner.kind == FieldKind::Uint8) {
        return {FieldKind::Blob, FieldKind::None, false, 0u};
    }
    return {shape.form == Shape::Vector ? FieldKind::Vector : FieldKind::Map, inner.kind, false,
            inner.described};
}

// ---- Generated native types: vectors, maps and optionals nested over every leaf kind ---------

using Leaves =
    std::tuple<bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
               std::uint32_t, std::int64_t, std::uint64_t, float, double, std::string,
               BindingProperty, BindingCallback, Testing::OracleRecord, Testing::OracleLevel>;
Shape LeafShape(std::size_t index) {
    static const char* const texts[] = {"bool",
                                        "signed char",
                                        "unsigned char",
                                        "short",
                                        "unsigned short",
                                        "int",
                                        "unsigned int",
                                        "__int64",
                                        "unsigned __int64",
                                        "float",
                                        "double",
                                        kString,
                                        "class Korvel::BindingProperty",
                                        "struct Korvel::BindingCallback",
                                        "struct Korvel::Testing::OracleRecord",
                                        "enum Korvel::Testing::OracleLevel"};
    // Leaves 0 to 12 have the field kinds 1 ("bool") to 13 ("object") in code order.
    const FieldKind last[] = {FieldKind::Callback, FieldKind::Struct, FieldKind::Enum};
    return Spelled(texts[index], index < 13 ? static_cast<FieldKind>(index + 1) : last[index - 13]);
}

constexpr std::uint64_t Mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

template <std::size_t L>
struct LeafGen {
    using Type = std::tuple_element_t<L, Leaves>;
    static Shape Describe() { return LeafShape(L); }
};
// Form 0: a leaf; 1: a vector; 2: a map; 3: an optional (outermost only, never a leaf).
template <std::uint64_t Code, int Depth,
          unsigned Form = Depth >= 3 ? 0u : static_cast<unsigned>(Mix(Code) % 3 + (Depth ? 0 : 1))>
struct Gen : LeafGen<Mix(Code ^ 1) % std::tuple_size_v<Leaves>> {};
template <std::uint64_t Code, int Depth, Shape::Form F>
struct GenWrapped {
    using Inner = Gen<Mix(Code), Depth + 1>;
    static Shape Describe() { return Wrap(F, Inner::Describe()); }
};
template <std::uint64_t Code, int Depth>
struct Gen<Code, Depth, 1> : GenWrapped<Code, Depth, Shape::Vector> {
    using Type = std::vector<typename Gen<Mix(Code), Depth + 1>::Type>;
};
template <std::uint64_t Code, int Depth>
struct Gen<Code, Depth, 2> : GenWrapped<Code, Depth, Shape::Map> {
    using Type = std::unordered_map<std::string, typename Gen<Mix(Code), Depth + 1>::Type>;
};
template <std::uint64_t Code, int Depth>
struct Gen<Code, Depth, 3> : GenWrapped<Code, Depth, Shape::Optional> {
    using Type = std::optional<typename Gen<Mix(Code), Depth + 1>::Type>;
};

struct Generated {
    Shape shape;
    std::string_view signature, referenceSignature;
    std::string name, referenceName;
    const StaticTypeId *identity, *named, *referenceIdentity;
    void (*add)(BindingTypeBuilder&, const char*, std::uint32_t, const char*, std::uint32_t);
};
template <std::size_t I>
Generated MakeGenerated() {
    constexpr std::size_t kLeaves = std::tuple_size_v<Leaves>; // every leaf once, then nested
    using G = std::conditional_t<(I < kLeaves), LeafGen<I>, Gen<Mix(I + 0x7E57), 0>>;
    using T = typename G::Type;
    return {G::Describe(),
            StaticType::HashCodeSignature<T>(),
            StaticType::HashCodeSignature<T&>(),
            StaticType::Name<T>(),
            StaticType::Name<T&>(),
            &StaticType::Identity<T>(),
            &StaticType::NamedIdentity<T>(),
            &StaticType::Identity<T&>(),
            [](BindingTypeBuilder& b, const char* n, std::uint32_t o, const char* d,
               std::uint32_t f) { b.AddField<T>(n, o, d, f); }};
}
template <std::size_t... I>
std::vector<Generated> MakeAll(std::index_sequence<I...>) {
    return {MakeGenerated<I>()...};
}
const std::vector<Generated>& AllGenerated() {
    static const std::vector<Generated> all = MakeAll(std::make_index_sequence<56>());
    return all;
}

void ExpectHashForm(const StaticTypeId& id, std::uint32_t hash) {
    EXPECT_EQ(id.hash, hash);
    EXPECT_EQ(id.name, id.text);
    EXPECT_EQ(std::string(id.name), HashName(hash));
}

TEST(TypeIdentityOracle, GeneratedTypesHaveTheCanonicalTextsAndHashes) {
    std::map<std::uint32_t, std::string> textOfHash;
    for (const Generated& g : AllGenerated()) {
        const std::string full = Full(g.shape), reference = Reference(g.shape);
        SCOPED_TRACE(full);
        EXPECT_EQ(g.signature, HashSignature(full));
        EXPECT_EQ(g.referenceSignature, HashSignature(reference));
        EXPECT_EQ(g.name, NameSignature(full));
        EXPECT_EQ(g.referenceName, NameSignature(reference));
        ExpectHashForm(*g.identity, HashOf(g.shape));
        ExpectHashForm(*g.referenceIdentity, Fnv(HashSignature(reference)));
        EXPECT_EQ(g.named->hash, g.identity->hash);
        EXPECT_EQ(g.named->name, g.name);
        EXPECT_EQ(std::string(g.named->text, 10), std::string(10, '\0'));
        for (const std::string& text : {full, reference}) { // equal hashes only for equal texts
            const auto [at, fresh] = textOfHash.emplace(Fnv(HashSignature(text)), text);
            EXPECT_TRUE(fresh || at->second == text) << at->second;
        }
    }
    EXPECT_GE(textOfHash.size(), 80u); // the generator reaches more than a handful of types
}

TEST(TypeIdentityOracle, ProgramTypesAreSpelledAsTheCompilerWould) {
    namespace Api = Client::ServiceStatus::Api;
    EXPECT_EQ(Fnv("unsigned int __cdecl StaticType::HashCode<int>(void)"), 0x1C4DE261u);
    EXPECT_EQ(Fnv("unsigned int __cdecl StaticType::HashCode<void>(void)"), 0x1BE7EF8Eu);
    const Shape ticker = Spelled("struct Korvel::Client::ServiceStatus::Api::TickerMessage");
#define NAMED(T, TEXT)                                                                             \
    { StaticType::HashCodeSignature<T>(), &StaticType::Identity<T>(), TEXT }
    const std::tuple<std::string_view, const StaticTypeId*, std::string> named[] = {
        NAMED(void, "void"),
        NAMED(Client::PluginResourceEventType, "enum Korvel::Client::PluginResourceEventType"),
        NAMED(Client::AppModule::PluginLcdsEvent,
              "struct Korvel::Client::AppModule::PluginLcdsEvent"),
        NAMED(HttpBaseTransport::Request, "struct Korvel::HttpBaseTransport::Request"),
        NAMED(Api::TickerMessage::Severity,
              "enum Korvel::Client::ServiceStatus::Api::TickerMessage::Severity"),
        NAMED(Api::ServiceStatusResource&,
              "structKorvel::Client::ServiceStatus::Api::ServiceStatusResource&"),
        NAMED(std::vector<Api::TickerMessage>&, Reference(Wrap(Shape::Vector, ticker)))};
#undef NAMED
    for (const auto& [signature, identity, text] : named) {
        EXPECT_EQ(signature, HashSignature(text));
        ExpectHashForm(*identity, Fnv(HashSignature(text)));
    }
    EXPECT_STREQ(StaticType::NamedIdentity<Api::LoginDataPacket>().name,
                 "const char *__cdecl StaticType::Name<struct "
                 "Korvel::Client::ServiceStatus::Api::LoginDataPacket>(void)");
}

// ---- Oracle: the registry ------------------------------------------------------------------

struct ModelField {
    std::string name, description;
    std::uint32_t offset, flags, hash;
    Kinds kinds;
    std::string describedName;      // the type found under kinds.described when it was added
    bool descriptorChecked = false; // compared once: it may dangle later by contract
};
struct ModelValue {
    std::string name, description;
    std::int32_t value;
};
struct ModelType {
    bool isEnum = false;
    std::uint32_t size = 0, hash = 0;
    std::string description, nameSpace;
    std::vector<std::string> tags;
    std::vector<ModelField> fields;
    std::vector<ModelValue> values; // insertion order
};
struct ModelEvent {
    const void* payload;
    std::string description;
    std::vector<std::string> tags;
};
struct Model {
    std::map<std::string, ModelType> types;
    std::map<std::uint32_t, std::string> byHash;
    std::map<std::string, ModelEvent> events;
    bool initialised = false;
};

bool ByteLess(const std::string& a, const std::string& b) { // unsigned byte order
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

bool ModelRegister(Model& m, const std::string& name, bool isEnum, std::uint32_t size,
                   std::uint32_t hash) { // true when the name is new
    if (!m.types.emplace(name, ModelType{isEnum, size, hash, "", "", {}, {}, {}}).second) {
        return false;
    }
    if (hash != Fnv(HashSignature("void"))) {
        m.byHash[hash] = name;
    }
    return true;
}
std::string DescribedName(const Model& m, const Kinds& kinds) {
    const auto found = m.byHash.find(kinds.described);
    return kinds.described == 0 || found == m.byHash.end() ? std::string() : found->second;
}
const BindingTypeDescriptor* ExpectedByHash(const Model& m, const BindingRegistry& r,
                                            std::uint32_t hash) {
    const auto found = m.byHash.find(hash);
    return found == m.byHash.end() ? nullptr : r.FindTypeByName(found->second);
}

// The builtin types in registration order and the native types they describe.
const std::pair<const char*, const char*> kBuiltins[] = {
    {"BindingHelpFormat", "enum Korvel::BindingHelpProvider::HelpFormat"},
    {"BindingFullTypeIdentifier", "struct Korvel::BindingHelpProvider::FullTypeIdentifier"},
    {"BindingFullArgumentHelp", "struct Korvel::BindingHelpProvider::FullArgumentHelp"},
    {"BindingFullFunctionHelp", "struct Korvel::BindingHelpProvider::FullFunctionHelp"},
    {"BindingFullEnumValueHelp", "struct Korvel::BindingHelpProvider::FullEnumValueHelp"},
    {"BindingFullFieldHelp", "struct Korvel::BindingHelpProvider::FullFieldHelp"},
    {"BindingFullTypeHelp", "struct Korvel::BindingHelpProvider::FullTypeHelp"},
    {"BindingFullEventHelp", "struct Korvel::BindingHelpProvider::FullEventHelp"},
    {"BindingFullApiHelp", "struct Korvel::BindingHelpProvider::FullApiHelp"},
    {"BindingAsyncState", "enum Korvel::BindingAsyncState::Type"},
    {"BindingGenericEvent", "struct Korvel::BindingGenericEvent"},
    {"BindingCallbackEvent", "struct Korvel::BindingCallbackEvent"},
    {"BindingGenericAsyncEvent", "struct Korvel::BindingGenericAsyncEvent"},
    {"BindingAsyncFailureEvent", "struct Korvel::BindingAsyncFailureEvent"},
    {"BindingAsyncCancelEvent", "struct Korvel::BindingAsyncCancelEvent"}};

const BindingRegistry& CleanRegistry() {
    static BindingRegistry clean;
    if (!clean.IsInitialised()) {
        clean.Reinitialise();
    }
    return clean;
}

// The model's side of Reinitialise, run after the library's. A builtin of a new name gets the
// texts, members and values it has in a registry that held nothing before (the builtin tests
// check those texts); its hash and the descriptors its fields find are the model's own.
void ModelReinitialise(Model& m, const BindingRegistry& r) {
    if (m.initialised) {
        m = Model{};
    }
    for (const auto& [name, spelled] : kBuiltins) {
        const BindingTypeDescriptor& c = *CleanRegistry().FindTypeByName(name);
        if (!ModelRegister(m, name, c.isEnum, c.size, HashOf(Spelled(spelled)))) {
            continue;
        }
        ModelType& t = m.types[name];
        std::tie(t.description, t.nameSpace, t.tags) = std::tie(c.description, c.nameSpace, c.tags);
        for (const auto& [key, v] : c.values) {
            t.values.push_back({v.name, v.description, v.value});
        }
        for (const BindingFieldDescriptor& f : c.fields) {
            const Kinds kinds{f.type.kind, f.type.elementKind, f.optional,
                              f.type.descriptor != nullptr ? f.type.descriptor->hash : 0u};
            t.fields.push_back({f.name, f.description, f.offset, f.flags, f.identity->hash, kinds,
                                DescribedName(m, kinds)});
        }
    }
    const std::uint32_t callback = HashOf(Spelled("struct Korvel::BindingCallbackEvent"));
    m.events.emplace("OnCallback", ModelEvent{ExpectedByHash(m, r, callback),
                                              "Fired when a callback is invoked.",
                                              {"$builtin"}});
    m.initialised = true;
}

std::string ModelEnumName(const Model& m, std::uint32_t hash, std::int32_t value) {
    const auto owner = m.byHash.find(hash);
    std::string first = "(none)";
    for (const ModelValue& v :
         owner == m.byHash.end() ? std::vector<ModelValue>() : m.types.at(owner->second).values) {
        if (v.value == value && (first == "(none)" || ByteLess(v.name, first))) {
            first = v.name;
        }
    }
    return first;
}

using IdentityPool = std::vector<std::pair<const StaticTypeId*, std::uint32_t>>;

void Compare(Model& m, const BindingRegistry& r, const IdentityPool& identities) {
    EXPECT_EQ(r.IsInitialised(), m.initialised);
    const auto types = r.SnapshotTypes();
    ASSERT_EQ(types.size(), m.types.size());
    for (auto& [name, t] : m.types) {
        SCOPED_TRACE(name);
        ASSERT_EQ(types.count(name), 1u);
        const BindingTypeDescriptor& d = *types.at(name);
        EXPECT_EQ(std::tie(d.name, d.isEnum, d.size, d.description, d.nameSpace, d.tags),
                  std::tie(name, t.isEnum, t.size, t.description, t.nameSpace, t.tags));
        ExpectHashForm(*d.identity, t.hash);
        EXPECT_EQ(d.hash, t.hash);
        EXPECT_EQ(d.registry, &r);
        ASSERT_EQ(d.fields.size(), t.fields.size());
        for (std::size_t i = 0; i < t.fields.size(); ++i) {
            const BindingFieldDescriptor& f = d.fields[i];
            ModelField& e = t.fields[i];
            SCOPED_TRACE(e.name);
            EXPECT_EQ(std::tie(f.name, f.description, f.flags, f.offset, f.optional),
                      std::tie(e.name, e.description, e.flags, e.offset, e.kinds.optional));
            EXPECT_STREQ(FieldKindName(f.type.kind), FieldKindName(e.kinds.kind));
            EXPECT_STREQ(FieldKindName(f.type.elementKind), FieldKindName(e.kinds.element));
            ExpectHashForm(*f.identity, e.hash);
            EXPECT_EQ(f.owner, &d);
            EXPECT_NE(f.converter, nullptr);
            if (!e.descriptorChecked) {
                e.descriptorChecked = true;
                EXPECT_EQ(f.type.descriptor,
                          e.describedName.empty() ? nullptr : r.FindTypeByName(e.describedName));
            }
        }
        std::vector<ModelValue> values = t.values;
        std::sort(values.begin(), values.end(), [](const ModelValue& a, const ModelValue& b) {
            return ByteLess(a.name, b.name);
        });
        ASSERT_EQ(d.values.size(), values.size());
        auto at = values.begin();
        for (const auto& [key, v] : d.values) {
            EXPECT_EQ(std::tie(key, v.name, v.value, v.description),
                      std::tie(at->name, at->name, at->value, at->description));
            EXPECT_EQ(v.owner, &d);
            ++at;
        }
    }
    for (const auto& [identity, hash] : identities) {
        EXPECT_EQ(r.FindTypeByHash(*identity), ExpectedByHash(m, r, hash)) << HashName(hash);
        for (std::int32_t value = -1; value <= 5; ++value) {
            const char* name = r.EnumName(*identity, value);
            EXPECT_EQ(name == nullptr ? "(none)" : name, ModelEnumName(m, hash, value));
        }
    }
    const auto events = r.SnapshotEvents();
    ASSERT_EQ(events.size(), m.events.size());
    for (const auto& [name, e] : m.events) {
        ASSERT_EQ(events.count(name), 1u) << name;
        const BindingEventDescriptor& d = *events.at(name);
        EXPECT_EQ(std::tie(d.payload, d.description, d.tags),
                  std::tie(e.payload, e.description, e.tags))
            << name;
    }
}

TEST(RegistryOracle, ReinitialiseRegistersExactlyTheBuiltins) {
    BindingRegistry r;
    Model m;
    r.Reinitialise();
    ModelReinitialise(m, r);
    Compare(
        m, r,
        {{&StaticType::Identity<BindingAsyncState::Type>(), HashOf(Spelled(kBuiltins[9].second))},
         {&StaticType::Identity<Help::HelpFormat>(), HashOf(Spelled(kBuiltins[0].second))}});
    for (const auto& [name, d] : r.SnapshotTypes()) { // members in the records' declaration order
        for (std::size_t i = 0; i < d->fields.size(); ++i) {
            EXPECT_LT(d->fields[i].offset, d->size) << name;
            EXPECT_TRUE(i == 0 || d->fields[i - 1].offset < d->fields[i].offset) << name;
        }
    }
}

TEST(RegistryOracle, RandomRegistrationSequences) {
    const std::pair<const StaticTypeId*, std::string> pool[] = {
        {&StaticType::Identity<Testing::OracleRecord>(), "struct Korvel::Testing::OracleRecord"},
        {&StaticType::Identity<Testing::OracleLevel>(), "enum Korvel::Testing::OracleLevel"},
        {&StaticType::Identity<void>(), "void"},
        {&StaticType::Identity<int>(), "int"},
        {&StaticType::Identity<std::string>(), kString},
        {&StaticType::Identity<Help::FullTypeIdentifier>(),
         "struct Korvel::BindingHelpProvider::FullTypeIdentifier"},
        {&StaticType::Identity<BindingCallbackEvent>(), "struct Korvel::BindingCallbackEvent"},
        {&StaticType::Identity<BindingAsyncState::Type>(), "enum Korvel::BindingAsyncState::Type"}};
    IdentityPool identities;
    for (const auto& [identity, text] : pool) {
        identities.emplace_back(identity, Fnv(HashSignature(text)));
    }
    const char* typeNames[] = {"A",
                               "B",
                               "\xC3\xA9",
                               "BindingFullTypeIdentifier",
                               "BindingCallbackEvent",
                               "BindingAsyncState",
                               "BindingGenericEvent"};
    const char* texts[] = {"", "first", "second", "$builtin"};
    const char* memberNames[] = {"b", "a", "B", "ab", "\xC3\xA9t\xC3\xA9"};
    const char* eventNames[] = {"OnA", "OnCallback"};
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        Testing::SplitMix64 rng(seed);
        auto pick = [&rng](const auto& list) { return list[rng.Next() % std::size(list)]; };
        BindingRegistry r;
        Model m;
        for (int step = 0; step < 60 && !::testing::Test::HasFailure(); ++step) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
            const std::string name = pick(typeNames);
            const std::uint64_t op = rng.Next() % 10;
            if (op < 5) {
                const bool isEnum = rng.Next() % 2 == 0;
                const std::size_t id = rng.Next() % std::size(pool);
                const auto size = static_cast<std::uint32_t>(rng.Next() % 64);
                BindingTypeBuilder b = isEnum
                                           ? r.RegisterEnum(size, name.c_str(), *pool[id].first)
                                           : r.RegisterStruct(size, name.c_str(), *pool[id].first);
                const bool fresh = ModelRegister(m, name, isEnum, size, identities[id].second);
                EXPECT_EQ(b.alreadyRegistered, !fresh);
                EXPECT_EQ(b.descriptor, r.FindTypeByName(name));
                ModelType& t = m.types[name];
                for (std::uint64_t n = rng.Next() % 7; n > 0; --n) {
                    const char* text = pick(texts);
                    const char* member = pick(memberNames);
                    const std::uint64_t what = rng.Next() % 5;
                    if (what == 0) {
                        b.SetDescription(text);
                        t.description = fresh ? text : t.description;
                    } else if (what == 1) {
                        b.SetNameSpace(text);
                        t.nameSpace = fresh ? text : t.nameSpace;
                    } else if (what == 2) {
                        b.AddTag(text);
                        if (fresh && *text != '\0') {
                            t.tags.emplace_back(text);
                        }
                    } else if (what == 3) {
                        const Generated& g = AllGenerated()[rng.Next() % AllGenerated().size()];
                        const auto offset = static_cast<std::uint32_t>(rng.Next() % 1000);
                        const auto flags = static_cast<std::uint32_t>(rng.Next() % 4);
                        g.add(b, member, offset, text, flags);
                        const Kinds kinds = KindsOf(g.shape);
                        if (fresh) {
                            t.fields.push_back({member, text, offset, flags, HashOf(g.shape), kinds,
                                                DescribedName(m, kinds)});
                        }
                    } else if (fresh) { // values are added only to a new type
                        const auto value = static_cast<std::int32_t>(rng.Next() % 4) - 1;
                        b.AddValue(member, value, text);
                        auto same =
                            std::find_if(t.values.begin(), t.values.end(),
                                         [&](const ModelValue& v) { return v.name == member; });
                        if (same == t.values.end()) {
                            t.values.push_back({member, text, value});
                        } else {
                            *same = {member, text, value};
                        }
                    }
                }
            } else if (op < 7) {
                EXPECT_EQ(r.UnregisterType(name), m.types.erase(name) == 1);
                std::erase_if(m.byHash, [&](const auto& entry) { return entry.second == name; });
            } else if (op == 7) {
                r.Reinitialise();
                ModelReinitialise(m, r);
            } else {
                const std::string event = pick(eventNames);
                const BindingTypeDescriptor* payload = r.FindTypeByName(pick(typeNames));
                const char* text = pick(texts);
                BindingEventBuilder e = r.RegisterEvent(event.c_str(), payload);
                e.SetDescription(text).AddTag(text);
                const std::vector<std::string> tags =
                    *text ? std::vector<std::string>{text} : std::vector<std::string>{};
                const bool fresh = m.events.emplace(event, ModelEvent{payload, text, tags}).second;
                EXPECT_EQ(e.alreadyRegistered, !fresh);
                if (op == 9) {
                    EXPECT_EQ(r.UnregisterEvent(event), m.events.erase(event) == 1);
                }
            }
            Compare(m, r, identities);
        }
    }
}

} // namespace
