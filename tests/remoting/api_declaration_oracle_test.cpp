// The API declaration read back byte by byte, independently of the record structs that build it:
// a plain reader walks the packed records at offsets computed from the field widths (pointers as
// wide as the build's pointers, everything else as written), follows every chain, and prints what
// it finds. The same print is made from a model of what was registered, built by a seeded
// generator of random registries (records with fields of every kind and nesting, enumerations,
// functions with arguments, routes and asynchronous results, events with tags). The two prints
// must be equal.

#include "remoting/api_declaration_builder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "remoting/builtin_types.h"
#include "remoting/function_route.h"
#include "support/split_mix.h"
#include "support/tree_text.h"

namespace Korvel::DeclarationOracle {

struct R0 {
    std::int32_t a = 0;
};
struct R1 {
    std::string a;
};
struct R2 {
    double a = 0;
};
struct R3 {
    bool a = false;
};
struct R4 {
    std::uint64_t a = 0;
};
struct R5 {
    std::int8_t a = 0;
};
enum class E0 : std::int8_t { A = 1 };
enum class E1 : std::uint16_t { A = 1 };
enum class E2 : std::int32_t { A = 1 };
enum class E3 : std::int64_t { A = 1 };

} // namespace Korvel::DeclarationOracle

KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R0)
KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R1)
KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R2)
KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R3)
KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R4)
KORVEL_STATIC_TYPE(struct, Korvel::DeclarationOracle::R5)
KORVEL_STATIC_TYPE(enum, Korvel::DeclarationOracle::E0)
KORVEL_STATIC_TYPE(enum, Korvel::DeclarationOracle::E1)
KORVEL_STATIC_TYPE(enum, Korvel::DeclarationOracle::E2)
KORVEL_STATIC_TYPE(enum, Korvel::DeclarationOracle::E3)

namespace Korvel {
namespace {

using namespace DeclarationOracle;
using Testing::QuotedText;

void KORVEL_CDECL OracleEntryPoint(HostFunctionResponse*, const HostFunctionRequest*) {}

// -----------------------------------------------------------------------------------------------
// Record layouts: field widths in order; a pointer is as wide as the build's pointers.

constexpr int P = static_cast<int>(sizeof(void*));

struct Layout {
    std::vector<int> offsets;
    int size = 0;
};

Layout MakeLayout(std::initializer_list<int> widths) {
    Layout layout;
    for (const int width : widths) {
        layout.offsets.push_back(layout.size);
        layout.size += width;
    }
    return layout;
}

// Function entry: next, zero, user data, name, namespace, arguments, argument count, return kind,
// return element kind, return type name, description, help, thread-safe, async result type, tags,
// tag count, entry point, argument locations, path, method, route flag, text lists, text list
// count, method text.
enum FunctionField {
    kFnNext,
    kFnZero,
    kFnUser,
    kFnName,
    kFnNameSpace,
    kFnArgs,
    kFnArgCount,
    kFnRetKind,
    kFnRetElement,
    kFnRetName,
    kFnDescription,
    kFnHelp,
    kFnThreadSafe,
    kFnAsync,
    kFnTags,
    kFnTagCount,
    kFnEntry,
    kFnLocations,
    kFnPath,
    kFnMethod,
    kFnRouteFlag,
    kFnTextLists,
    kFnTextListCount,
    kFnMethodText
};
const Layout kFunction =
    MakeLayout({P, 4, P, P, P, P, 4, 4, 4, P, P, P, 1, P, P, 4, P, P, P, 4, 1, P, 4, P});
enum ArgumentField {
    kArgNext,
    kArgName,
    kArgDescription,
    kArgKind,
    kArgElement,
    kArgType,
    kArgOpt
};
const Layout kArgument = MakeLayout({P, P, P, 4, 4, P, 1});
const Layout kLocation = MakeLayout({P, 4});
const Layout kTextList = MakeLayout({P, P, 4});
enum TypeField {
    kTyNext,
    kTyName,
    kTyNameSpace,
    kTySize,
    kTyDescription,
    kTyTags,
    kTyTagCount,
    kTyFields,
    kTyValues,
    kTyCount
};
const Layout kType = MakeLayout({P, P, P, 4, P, P, 4, P, P, 4});
enum FieldField {
    kFdNext,
    kFdName,
    kFdDescription,
    kFdOffset,
    kFdKind,
    kFdElement,
    kFdType,
    kFdOpt
};
const Layout kField = MakeLayout({P, P, P, 4, 4, 4, P, 1});
const Layout kEnumerator = MakeLayout({P, P, P, 4});
enum EventField {
    kEvNext,
    kEvName,
    kEvNameSpace,
    kEvDataType,
    kEvDescription,
    kEvTags,
    kEvTagCount
};
const Layout kEvent = MakeLayout({P, P, P, P, P, P, 4});

TEST(ApiDeclarationOracleTest, LayoutsHaveTheHostSizesInThe32BitBuild) {
    if (P != 4) {
        GTEST_SKIP() << "the host's sizes hold for 4-byte pointers";
    }
    EXPECT_EQ(kFunction.size, 90);
    EXPECT_EQ(kFunction.offsets[kFnThreadSafe], 48);
    EXPECT_EQ(kFunction.offsets[kFnAsync], 49);
    EXPECT_EQ(kFunction.offsets[kFnEntry], 61);
    EXPECT_EQ(kFunction.offsets[kFnRouteFlag], 77);
    EXPECT_EQ(kFunction.offsets[kFnTextLists], 78);
    EXPECT_EQ(kFunction.offsets[kFnMethodText], 86);
    EXPECT_EQ(kArgument.size, 25);
    EXPECT_EQ(kLocation.size, 8);
    EXPECT_EQ(kTextList.size, 12);
    EXPECT_EQ(kType.size, 40);
    EXPECT_EQ(kField.size, 29);
    EXPECT_EQ(kEnumerator.size, 16);
    EXPECT_EQ(kEvent.size, 28);
}

// -----------------------------------------------------------------------------------------------
// The plain reader. It prints what the bytes say, one line per entry; anything out of shape (a
// null text, a broken chain, a member array on the wrong kind of type) is printed as a "!" line.

std::uintptr_t Pointer(const std::uint8_t* at) {
    std::uintptr_t value = 0;
    std::memcpy(&value, at, static_cast<std::size_t>(P));
    return value;
}

std::uint32_t U32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::int32_t I32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(U32(at));
}

const std::uint8_t* Bytes(std::uintptr_t address) {
    return reinterpret_cast<const std::uint8_t*>(address);
}

class Reader {
public:
    Reader(const BindingRegistry& registry, HostFunctionEntryPoint entryPoint)
        : registry_(registry), entryPoint_(entryPoint) {}

    std::string Read(const ApiDeclaration& declaration) {
        // The declaration itself is three (pointer, count) pairs, each pair as wide as two
        // pointers.
        const auto* at = reinterpret_cast<const std::uint8_t*>(&declaration);
        const std::uintptr_t functions = Pointer(at);
        const std::uint32_t functionCount = U32(at + P);
        const std::uintptr_t types = Pointer(at + 2 * P);
        const std::uint32_t typeCount = U32(at + 3 * P);
        const std::uintptr_t events = Pointer(at + 4 * P);
        const std::uint32_t eventCount = U32(at + 5 * P);
        Line("functions " + std::to_string(functionCount));
        for (const std::uint8_t* entry : Walk("function", functions, functionCount, kFunction)) {
            ReadFunction(entry);
        }
        Line("types " + std::to_string(typeCount));
        for (const std::uint8_t* entry : Walk("type", types, typeCount, kType)) {
            ReadType(entry);
        }
        Line("events " + std::to_string(eventCount));
        for (const std::uint8_t* entry : Walk("event", events, eventCount, kEvent)) {
            ReadEvent(entry);
        }
        return out_;
    }

private:
    void Line(const std::string& text) { out_ += text + "\n"; }

    // The entries of a chained array, found through the chain; each must sit right after the one
    // before, and the last one's chain pointer is null.
    std::vector<const std::uint8_t*> Walk(const char* what, std::uintptr_t first,
                                          std::uint32_t count, const Layout& layout) {
        std::vector<const std::uint8_t*> entries;
        if (count == 0) {
            return entries;
        }
        std::uintptr_t at = first;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (at == 0) {
                Line(std::string("! chain of ") + what + " ends after " + std::to_string(i));
                return entries;
            }
            if (at != first + static_cast<std::uintptr_t>(i) * layout.size) {
                Line(std::string("! ") + what + " " + std::to_string(i) + " is not at its place");
            }
            entries.push_back(Bytes(at));
            at = Pointer(Bytes(at) + layout.offsets[0]);
        }
        if (at != 0) {
            Line(std::string("! last ") + what + " chains on");
        }
        return entries;
    }

    std::string Text(const std::uint8_t* at) {
        const std::uintptr_t address = Pointer(at);
        if (address == 0) {
            return "!null";
        }
        return QuotedText(reinterpret_cast<const char*>(address));
    }

    std::string TextArray(const std::uint8_t* at, std::uint32_t count) {
        std::string out = "[";
        const std::uintptr_t array = Pointer(at);
        for (std::uint32_t i = 0; i < count; ++i) {
            out += (i == 0 ? "" : ",") + Text(Bytes(array + static_cast<std::uintptr_t>(i) * P));
        }
        return out + "]";
    }

    // A type reference: kind, element kind and type name.
    std::string TypeRef(const std::uint8_t* kind, const std::uint8_t* element,
                        const std::uint8_t* name) {
        return std::to_string(I32(kind)) + "/" + std::to_string(I32(element)) + " " + Text(name);
    }

    void ReadFunction(const std::uint8_t* at) {
        const auto field = [&](FunctionField f) { return at + kFunction.offsets[f]; };
        const std::string name = Text(field(kFnName));
        // The user data is the pair (registry, function descriptor), two pointers.
        std::string user = "!none";
        if (const std::uintptr_t pair = Pointer(field(kFnUser)); pair != 0) {
            const std::uintptr_t registry = Pointer(Bytes(pair));
            const std::uintptr_t descriptor = Pointer(Bytes(pair) + P);
            const BindingFunctionDescriptor* registered =
                registry_.FindFunction(reinterpret_cast<const char*>(Pointer(field(kFnName))));
            user = registry == reinterpret_cast<std::uintptr_t>(&registry_) &&
                           registered != nullptr &&
                           descriptor == reinterpret_cast<std::uintptr_t>(registered)
                       ? "registry+function"
                       : "!wrong";
        }
        const bool entryPoint =
            Pointer(field(kFnEntry)) == reinterpret_cast<std::uintptr_t>(entryPoint_);
        Line("function " + name + " zero=" + std::to_string(U32(field(kFnZero))) + " user=" + user +
             " entry=" + (entryPoint ? "ok" : "!wrong"));
        Line("  nameSpace=" + Text(field(kFnNameSpace)) +
             " description=" + Text(field(kFnDescription)) + " help=" + Text(field(kFnHelp)));
        Line("  returns=" + TypeRef(field(kFnRetKind), field(kFnRetElement), field(kFnRetName)) +
             " threadSafe=" + std::to_string(*field(kFnThreadSafe)) +
             " async=" + Text(field(kFnAsync)));
        Line("  tags=" + TextArray(field(kFnTags), U32(field(kFnTagCount))));
        Line("  path=" + Text(field(kFnPath)) + " method=" + std::to_string(U32(field(kFnMethod))) +
             " methodText=" + Text(field(kFnMethodText)) +
             " flag=" + std::to_string(*field(kFnRouteFlag)));
        const std::uint32_t lists = U32(field(kFnTextListCount));
        for (const std::uint8_t* list :
             Walk("text list", Pointer(field(kFnTextLists)), lists, kTextList)) {
            Line("  textList " +
                 TextArray(list + kTextList.offsets[1], U32(list + kTextList.offsets[2])));
        }
        const std::uint32_t count = U32(field(kFnArgCount));
        const auto arguments = Walk("argument", Pointer(field(kFnArgs)), count, kArgument);
        const auto locations = Walk("location", Pointer(field(kFnLocations)), count, kLocation);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::uint8_t* arg = arguments[i];
            const auto part = [&](ArgumentField f) { return arg + kArgument.offsets[f]; };
            Line("  argument " + Text(part(kArgName)) +
                 " description=" + Text(part(kArgDescription)) +
                 " type=" + TypeRef(part(kArgKind), part(kArgElement), part(kArgType)) +
                 " optional=" + std::to_string(*part(kArgOpt)) + " location=" +
                 (i < locations.size() ? std::to_string(I32(locations[i] + kLocation.offsets[1]))
                                       : std::string("!none")));
        }
    }

    void ReadType(const std::uint8_t* at) {
        const auto field = [&](TypeField f) { return at + kType.offsets[f]; };
        Line("type " + Text(field(kTyName)) + " nameSpace=" + Text(field(kTyNameSpace)) + " size=" +
             std::to_string(U32(field(kTySize))) + " description=" + Text(field(kTyDescription)));
        Line("  tags=" + TextArray(field(kTyTags), U32(field(kTyTagCount))));
        const std::uintptr_t fields = Pointer(field(kTyFields));
        const std::uintptr_t values = Pointer(field(kTyValues));
        const std::uint32_t count = U32(field(kTyCount));
        if (fields != 0 && values != 0) {
            Line("! both fields and values");
        }
        if (values != 0) {
            Line("  enumerators " + std::to_string(count));
            for (const std::uint8_t* value : Walk("enumerator", values, count, kEnumerator)) {
                Line("  value " + Text(value + kEnumerator.offsets[1]) +
                     " description=" + Text(value + kEnumerator.offsets[2]) + " = " +
                     std::to_string(I32(value + kEnumerator.offsets[3])));
            }
            return;
        }
        Line("  members " + std::to_string(count));
        for (const std::uint8_t* entry : Walk("field", fields, count, kField)) {
            const auto part = [&](FieldField f) { return entry + kField.offsets[f]; };
            Line("  field " + Text(part(kFdName)) + " description=" + Text(part(kFdDescription)) +
                 " offset=" + std::to_string(U32(part(kFdOffset))) +
                 " type=" + TypeRef(part(kFdKind), part(kFdElement), part(kFdType)) +
                 " optional=" + std::to_string(*part(kFdOpt)));
        }
    }

    void ReadEvent(const std::uint8_t* at) {
        const auto field = [&](EventField f) { return at + kEvent.offsets[f]; };
        Line("event " + Text(field(kEvName)) + " nameSpace=" + Text(field(kEvNameSpace)) +
             " data=" + Text(field(kEvDataType)) + " description=" + Text(field(kEvDescription)));
        Line("  tags=" + TextArray(field(kEvTags), U32(field(kEvTagCount))));
    }

    const BindingRegistry& registry_;
    HostFunctionEntryPoint entryPoint_;
    std::string out_;
};

// -----------------------------------------------------------------------------------------------
// The model of a registry and its print, by the declaration's rules.

bool ByteLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

// Kinds 1 to 19 are declared as they are, anything else as 0.
std::int32_t DeclaredKind(std::uint32_t code) {
    return code >= 1 && code <= 19 ? static_cast<std::int32_t>(code) : 0;
}

// The type name of a reference: only kinds vector, enum, struct and map name their type.
std::string DeclaredName(std::uint32_t kind, const std::string& typeName) {
    return kind == 15 || kind == 16 || kind == 17 || kind == 19 ? typeName : std::string();
}

std::string ModelRef(std::uint32_t kind, std::uint32_t element, const std::string& typeName) {
    return std::to_string(DeclaredKind(kind)) + "/" + std::to_string(DeclaredKind(element)) + " " +
           QuotedText(DeclaredName(kind, typeName));
}

std::string ModelTexts(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        out += (i == 0 ? "" : ",") + QuotedText(texts[i]);
    }
    return out + "]";
}

struct ModelField {
    std::string name;
    std::string description;
    std::uint32_t offset = 0;
    std::uint32_t kind = 0;
    std::uint32_t element = 0;
    std::string typeName; // the registered name of the described type, empty when none
    bool optional = false;
};

struct ModelValue {
    std::string name;
    std::string description;
    std::int32_t value = 0;
};

struct ModelType {
    std::string name;
    std::string nameSpace;
    std::uint32_t size = 0;
    bool isEnum = false;
    std::string description;
    std::vector<std::string> tags;
    std::vector<ModelField> fields;
    std::vector<ModelValue> values; // insertion order; a repeated name replaces in place
};

struct ModelArgument {
    std::string name;
    std::string description;
    std::uint32_t kind = 0;
    std::uint32_t element = 0;
    std::string typeName;
    bool optional = false;
    std::int32_t location = 0;
};

struct ModelFunction {
    std::string name;
    std::string nameSpace;
    std::vector<ModelArgument> arguments;
    std::uint32_t returnKind = 0;
    std::uint32_t returnElement = 0;
    std::string returnTypeName; // the return descriptor's name, empty when none
    bool hasReturnDescriptor = false;
    std::string description;
    std::string help;
    bool threadSafe = false;
    bool async = false;
    std::vector<std::string> tags;
    std::string path;
    std::uint32_t method = 0;
    std::string methodText;
};

struct ModelEvent {
    std::string name;
    std::string nameSpace;
    std::string dataType;
    std::string description;
    std::vector<std::string> tags;
};

struct Model {
    std::vector<ModelType> types;
    std::vector<ModelFunction> functions;
    std::vector<ModelEvent> events;

    ModelType* FindType(const std::string& name) {
        for (ModelType& type : types) {
            if (type.name == name) {
                return &type;
            }
        }
        return nullptr;
    }
};

template <typename T>
std::vector<const T*> SortedByName(const std::vector<T>& items) {
    std::vector<const T*> sorted;
    for (const T& item : items) {
        sorted.push_back(&item);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const T* a, const T* b) { return ByteLess(a->name, b->name); });
    return sorted;
}

std::string Print(const Model& model) {
    std::string out;
    const auto line = [&](const std::string& text) { out += text + "\n"; };
    line("functions " + std::to_string(model.functions.size()));
    for (const ModelFunction* function : SortedByName(model.functions)) {
        line("function " + QuotedText(function->name) + " zero=0 user=registry+function entry=ok");
        line("  nameSpace=" + QuotedText(function->nameSpace) + " description=" +
             QuotedText(function->description) + " help=" + QuotedText(function->help));
        // An asynchronous function names its return type's descriptor as its result.
        line("  returns=" +
             ModelRef(function->returnKind, function->returnElement, function->returnTypeName) +
             " threadSafe=" + (function->threadSafe ? "1" : "0") + " async=" +
             QuotedText(function->async && function->hasReturnDescriptor ? function->returnTypeName
                                                                         : ""));
        line("  tags=" + ModelTexts(function->tags));
        const std::uint32_t method =
            function->method >= 1 && function->method <= 8 ? function->method : 0;
        line("  path=" + QuotedText(function->path) + " method=" + std::to_string(method) +
             " methodText=" + QuotedText(function->methodText) + " flag=0");
        for (const ModelArgument& argument : function->arguments) {
            const std::int32_t location =
                argument.location >= 1 && argument.location <= 5 ? argument.location : 0;
            line("  argument " + QuotedText(argument.name) +
                 " description=" + QuotedText(argument.description) +
                 " type=" + ModelRef(argument.kind, argument.element, argument.typeName) +
                 " optional=" + (argument.optional ? "1" : "0") +
                 " location=" + std::to_string(location));
        }
    }
    line("types " + std::to_string(model.types.size()));
    for (const ModelType* type : SortedByName(model.types)) {
        line("type " + QuotedText(type->name) + " nameSpace=" + QuotedText(type->nameSpace) +
             " size=" + std::to_string(type->size) +
             " description=" + QuotedText(type->description));
        line("  tags=" + ModelTexts(type->tags));
        if (type->isEnum && !type->values.empty()) {
            line("  enumerators " + std::to_string(type->values.size()));
            for (const ModelValue* value : SortedByName(type->values)) {
                line("  value " + QuotedText(value->name) + " description=" +
                     QuotedText(value->description) + " = " + std::to_string(value->value));
            }
            continue;
        }
        line("  members " + std::to_string(type->fields.size()));
        for (const ModelField& field : type->fields) {
            line("  field " + QuotedText(field.name) + " description=" +
                 QuotedText(field.description) + " offset=" + std::to_string(field.offset) +
                 " type=" + ModelRef(field.kind, field.element, field.typeName) +
                 " optional=" + (field.optional ? "1" : "0"));
        }
    }
    line("events " + std::to_string(model.events.size()));
    for (const ModelEvent* event : SortedByName(model.events)) {
        line("event " + QuotedText(event->name) + " nameSpace=" + QuotedText(event->nameSpace) +
             " data=" + QuotedText(event->dataType) +
             " description=" + QuotedText(event->description));
        line("  tags=" + ModelTexts(event->tags));
    }
    return out;
}

// -----------------------------------------------------------------------------------------------
// The builtin types and event, as every initialised registry declares them.

constexpr std::uint32_t kBool = 1, kInt32 = 6, kUint32 = 7, kString = 12, kObject = 13,
                        kVector = 15, kEnum = 16, kStruct = 17, kMap = 19;

void FillBuiltins(Model& model) {
    using Help = BindingHelpProvider;
    const std::vector<std::string> help = {"$builtin", "help"};
    const std::vector<std::string> async = {"$builtin", "async"};
    const auto record = [&](const char* name, std::uint32_t size, const char* description,
                            const std::vector<std::string>& tags, std::vector<ModelField> fields) {
        model.types.push_back({name, "", size, false, description, tags, std::move(fields), {}});
    };
    const auto str = [](const char* name, std::size_t offset, const char* description = "") {
        return ModelField{name, description, static_cast<std::uint32_t>(offset), kString, 0,
                          "",   false};
    };
    const auto of = [](const char* name, std::size_t offset, std::uint32_t kind,
                       std::uint32_t element = 0, const char* typeName = "",
                       const char* description = "") {
        return ModelField{name,     description, static_cast<std::uint32_t>(offset), kind, element,
                          typeName, false};
    };
    model.types.push_back(
        {"BindingHelpFormat",
         "",
         sizeof(Help::HelpFormat),
         true,
         "Help format for binding functions and types.",
         help,
         {},
         {{"Full", "Native help format", 1}, {"Epytext", "Python epytext format", 2}}});
    record("BindingFullTypeIdentifier", sizeof(Help::FullTypeIdentifier),
           "Describes the type of a value.", help,
           {str("type", offsetof(Help::FullTypeIdentifier, type)),
            str("elementType", offsetof(Help::FullTypeIdentifier, elementType))});
    record("BindingFullArgumentHelp", sizeof(Help::FullArgumentHelp),
           "Describes a function parameter.", help,
           {str("name", offsetof(Help::FullArgumentHelp, name)),
            str("description", offsetof(Help::FullArgumentHelp, description)),
            of("type", offsetof(Help::FullArgumentHelp, type), kStruct, 0,
               "BindingFullTypeIdentifier"),
            of("optional", offsetof(Help::FullArgumentHelp, optional), kBool)});
    record("BindingFullFunctionHelp", sizeof(Help::FullFunctionHelp), "Describes a function.", help,
           {str("name", offsetof(Help::FullFunctionHelp, name)),
            str("nameSpace", offsetof(Help::FullFunctionHelp, nameSpace)),
            of("arguments", offsetof(Help::FullFunctionHelp, arguments), kVector, kStruct,
               "BindingFullArgumentHelp"),
            of("returns", offsetof(Help::FullFunctionHelp, returns), kStruct, 0,
               "BindingFullTypeIdentifier"),
            str("description", offsetof(Help::FullFunctionHelp, description)),
            str("help", offsetof(Help::FullFunctionHelp, help)),
            of("threadSafe", offsetof(Help::FullFunctionHelp, threadSafe), kBool),
            str("async", offsetof(Help::FullFunctionHelp, async)),
            of("tags", offsetof(Help::FullFunctionHelp, tags), kVector, kString)});
    record("BindingFullEnumValueHelp", sizeof(Help::FullEnumValueHelp), "Describes an enumerator.",
           help,
           {str("name", offsetof(Help::FullEnumValueHelp, name)),
            str("description", offsetof(Help::FullEnumValueHelp, description)),
            of("value", offsetof(Help::FullEnumValueHelp, value), kInt32)});
    record(
        "BindingFullFieldHelp", sizeof(Help::FullFieldHelp), "Describes a member of a struct.",
        help,
        {str("name", offsetof(Help::FullFieldHelp, name)),
         str("description", offsetof(Help::FullFieldHelp, description)),
         of("offset", offsetof(Help::FullFieldHelp, offset), kUint32),
         of("type", offsetof(Help::FullFieldHelp, type), kStruct, 0, "BindingFullTypeIdentifier"),
         of("optional", offsetof(Help::FullFieldHelp, optional), kBool)});
    record("BindingFullTypeHelp", sizeof(Help::FullTypeHelp), "Describes a struct or enum type.",
           help,
           {str("name", offsetof(Help::FullTypeHelp, name)),
            str("nameSpace", offsetof(Help::FullTypeHelp, nameSpace)),
            of("size", offsetof(Help::FullTypeHelp, size), kUint32),
            str("description", offsetof(Help::FullTypeHelp, description)),
            of("tags", offsetof(Help::FullTypeHelp, tags), kVector, kString),
            of("fields", offsetof(Help::FullTypeHelp, fields), kVector, kStruct,
               "BindingFullFieldHelp"),
            of("values", offsetof(Help::FullTypeHelp, values), kVector, kStruct,
               "BindingFullEnumValueHelp")});
    record(
        "BindingFullEventHelp", sizeof(Help::FullEventHelp), "Describes an event.", help,
        {str("name", offsetof(Help::FullEventHelp, name)),
         str("nameSpace", offsetof(Help::FullEventHelp, nameSpace)),
         of("type", offsetof(Help::FullEventHelp, type), kStruct, 0, "BindingFullTypeIdentifier"),
         str("description", offsetof(Help::FullEventHelp, description)),
         of("tags", offsetof(Help::FullEventHelp, tags), kVector, kString)});
    record(
        "BindingFullApiHelp", sizeof(Help::FullApiHelp), "Describes the exposed native API.", help,
        {of("functions", offsetof(Help::FullApiHelp, functions), kVector, kStruct,
            "BindingFullFunctionHelp"),
         of("types", offsetof(Help::FullApiHelp, types), kVector, kStruct, "BindingFullTypeHelp"),
         of("events", offsetof(Help::FullApiHelp, events), kVector, kStruct,
            "BindingFullEventHelp")});
    model.types.push_back({"BindingAsyncState",
                           "",
                           sizeof(BindingAsyncState::Type),
                           true,
                           "Possible states of an asynchronous operation.",
                           async,
                           {},
                           {{"None", "Invalid state", 0},
                            {"Running", "The operation is in flight", 1},
                            {"Cancelling", "A request to cancel the operation has been made", 2},
                            {"Cancelled", "The operation was cancelled", 3},
                            {"Succeeded", "The operation completed successfully", 4},
                            {"Failed", "The operation encountered an error", 5}}});
    record("BindingGenericEvent", sizeof(BindingGenericEvent),
           "Represents generic data for an event.", {"$builtin"},
           {of("data", offsetof(BindingGenericEvent, data), kObject, 0, "", "Event data")});
    record("BindingCallbackEvent", sizeof(BindingCallbackEvent),
           "Represents the parameters of a call to a provided callback.", {"$builtin"},
           {of("id", offsetof(BindingCallbackEvent, id), kUint32, 0, "",
               "ID of the callback being invoked"),
            of("parameters", offsetof(BindingCallbackEvent, parameters), kVector, kObject, "",
               "Callback parameters")});
    record("BindingGenericAsyncEvent", sizeof(BindingGenericAsyncEvent),
           "Represents generic data for an asynchronous event.", async,
           {of("asyncToken", offsetof(BindingGenericAsyncEvent, asyncToken), kUint32, 0, "",
               "Asynchronous operation token"),
            of("data", offsetof(BindingGenericAsyncEvent, data), kObject, 0, "", "Event data")});
    record("BindingAsyncFailureEvent", sizeof(BindingAsyncFailureEvent),
           "Represents a failed asynchronous operation.", async,
           {of("asyncToken", offsetof(BindingAsyncFailureEvent, asyncToken), kUint32, 0, "",
               "Asynchronous operation token"),
            str("error", offsetof(BindingAsyncFailureEvent, error), "Error message")});
    record("BindingAsyncCancelEvent", sizeof(BindingAsyncCancelEvent),
           "Represents a cancelled asynchronous operation.", async,
           {of("asyncToken", offsetof(BindingAsyncCancelEvent, asyncToken), kUint32, 0, "",
               "Asynchronous operation token")});
    model.events.push_back({"OnCallback",
                            "",
                            "BindingCallbackEvent",
                            "Fired when a callback is invoked.",
                            {"$builtin"}});
}

// Adds the builtins in their order of registration. A name the registry holds already keeps its
// first registration; a builtin left out that way is not found by its native type either, so the
// builtins that refer to it declare no type name for it.
void AddBuiltins(Model& model) {
    Model table;
    FillBuiltins(table);
    std::vector<std::string> skipped;
    const auto wasSkipped = [&](const std::string& name) {
        return std::find(skipped.begin(), skipped.end(), name) != skipped.end();
    };
    for (ModelType& type : table.types) {
        if (model.FindType(type.name) != nullptr) {
            skipped.push_back(type.name);
            continue;
        }
        for (ModelField& field : type.fields) {
            if (wasSkipped(field.typeName)) {
                field.typeName.clear();
            }
        }
        model.types.push_back(type);
    }
    for (ModelEvent& event : table.events) {
        if (std::any_of(model.events.begin(), model.events.end(),
                        [&](const ModelEvent& e) { return e.name == event.name; })) {
            continue;
        }
        if (wasSkipped(event.dataType)) {
            event.dataType.clear();
        }
        model.events.push_back(event);
    }
}

// -----------------------------------------------------------------------------------------------
// Native field shapes: what a field of each native type declares, written out by hand.

constexpr int kNoType = -1;
constexpr int kNativeCount = 10; // R0 to R5, E0 to E3

using FieldAdder = void (*)(BindingTypeBuilder&, const char*, std::uint32_t, const char*,
                            std::uint32_t);

template <typename T>
void AddAs(BindingTypeBuilder& builder, const char* name, std::uint32_t offset,
           const char* description, std::uint32_t flags) {
    builder.AddField<T>(name, offset, description, flags);
}

struct FieldShape {
    std::uint32_t kind;
    std::uint32_t element;
    int described; // index of the native record or enumeration named, kNoType for none
    bool optional;
    FieldAdder add;
};

template <typename D>
void AddDescribedShapes(std::vector<FieldShape>& shapes, int index, std::uint32_t kind) {
    using S = std::string;
    shapes.push_back({kind, 0, index, false, &AddAs<D>});
    shapes.push_back({kind, 0, index, true, &AddAs<std::optional<D>>});
    shapes.push_back({kVector, kind, index, false, &AddAs<std::vector<D>>});
    shapes.push_back({kMap, kind, index, false, &AddAs<std::unordered_map<S, D>>});
    shapes.push_back({kVector, kVector, index, false, &AddAs<std::vector<std::vector<D>>>});
    shapes.push_back({kMap, kVector, index, false, &AddAs<std::unordered_map<S, std::vector<D>>>});
    shapes.push_back({kVector, kind, index, false, &AddAs<std::vector<std::optional<D>>>});
    shapes.push_back({kVector, kind, index, true, &AddAs<std::optional<std::vector<D>>>});
    shapes.push_back({kVector, kMap, index, false, &AddAs<std::vector<std::unordered_map<S, D>>>});
    shapes.push_back({kMap, kVector, index, true,
                      &AddAs<std::optional<std::unordered_map<S, std::vector<std::vector<D>>>>>});
}

std::vector<FieldShape> MakeShapes() {
    using S = std::string;
    std::vector<FieldShape> shapes = {
        {1, 0, kNoType, false, &AddAs<bool>},
        {2, 0, kNoType, false, &AddAs<std::int8_t>},
        {3, 0, kNoType, false, &AddAs<std::uint8_t>},
        {4, 0, kNoType, false, &AddAs<std::int16_t>},
        {5, 0, kNoType, false, &AddAs<std::uint16_t>},
        {6, 0, kNoType, false, &AddAs<std::int32_t>},
        {7, 0, kNoType, false, &AddAs<std::uint32_t>},
        {8, 0, kNoType, false, &AddAs<std::int64_t>},
        {9, 0, kNoType, false, &AddAs<std::uint64_t>},
        {10, 0, kNoType, false, &AddAs<float>},
        {11, 0, kNoType, false, &AddAs<double>},
        {12, 0, kNoType, false, &AddAs<S>},
        {13, 0, kNoType, false, &AddAs<BindingProperty>},
        {14, 0, kNoType, false, &AddAs<std::vector<std::uint8_t>>},
        {18, 0, kNoType, false, &AddAs<BindingCallback>},
        {15, 6, kNoType, false, &AddAs<std::vector<std::int32_t>>},
        {15, 12, kNoType, false, &AddAs<std::vector<S>>},
        {15, 13, kNoType, false, &AddAs<std::vector<BindingProperty>>},
        {15, 14, kNoType, false, &AddAs<std::vector<std::vector<std::uint8_t>>>},
        {15, 15, kNoType, false, &AddAs<std::vector<std::vector<double>>>},
        {19, 11, kNoType, false, &AddAs<std::unordered_map<S, double>>},
        {19, 15, kNoType, false, &AddAs<std::unordered_map<S, std::vector<std::int16_t>>>},
        {8, 0, kNoType, true, &AddAs<std::optional<std::int64_t>>},
        {12, 0, kNoType, true, &AddAs<std::optional<S>>},
        {15, 1, kNoType, true, &AddAs<std::optional<std::vector<bool>>>},
    };
    AddDescribedShapes<R0>(shapes, 0, kStruct);
    AddDescribedShapes<R1>(shapes, 1, kStruct);
    AddDescribedShapes<R2>(shapes, 2, kStruct);
    AddDescribedShapes<R3>(shapes, 3, kStruct);
    AddDescribedShapes<R4>(shapes, 4, kStruct);
    AddDescribedShapes<R5>(shapes, 5, kStruct);
    AddDescribedShapes<E0>(shapes, 6, kEnum);
    AddDescribedShapes<E1>(shapes, 7, kEnum);
    AddDescribedShapes<E2>(shapes, 8, kEnum);
    AddDescribedShapes<E3>(shapes, 9, kEnum);
    return shapes;
}

const StaticTypeId& NativeIdentity(int index) {
    switch (index) {
    case 0:
        return StaticType::Identity<R0>();
    case 1:
        return StaticType::Identity<R1>();
    case 2:
        return StaticType::Identity<R2>();
    case 3:
        return StaticType::Identity<R3>();
    case 4:
        return StaticType::Identity<R4>();
    case 5:
        return StaticType::Identity<R5>();
    case 6:
        return StaticType::Identity<E0>();
    case 7:
        return StaticType::Identity<E1>();
    case 8:
        return StaticType::Identity<E2>();
    default:
        return StaticType::Identity<E3>();
    }
}

// -----------------------------------------------------------------------------------------------
// The generator.

class Random : public Korvel::Testing::SplitMix64 {
public:
    using SplitMix64::SplitMix64;
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }
    bool Chance(std::uint32_t percent) { return Below(100) < percent; }
};

class Generator {
public:
    Generator(std::uint64_t seed, BindingRegistry& registry, Model& model)
        : random_(seed), registry_(registry), model_(model) {}

    void Run() {
        // Types in a random order; a type nested before it is registered is declared without
        // its name.
        std::vector<int> order(kNativeCount);
        for (int i = 0; i < kNativeCount; ++i) {
            order[i] = i;
        }
        for (int i = kNativeCount - 1; i > 0; --i) {
            std::swap(order[i], order[random_.Below(static_cast<std::uint32_t>(i + 1))]);
        }
        for (const int native : order) {
            if (random_.Chance(85)) {
                RegisterType(native);
            }
        }
        const std::uint32_t events = random_.Below(6);
        for (std::uint32_t i = 0; i < events; ++i) {
            RegisterEvent();
        }
        const std::uint32_t functions = random_.Below(8);
        for (std::uint32_t i = 0; i < functions; ++i) {
            RegisterFunction();
        }
    }

private:
    std::string Text(std::uint32_t maxLength) {
        static const char kPlain[] = "abcXYZ019 _-/{}.:$";
        const std::uint32_t length = random_.Below(maxLength + 1);
        std::string text;
        for (std::uint32_t i = 0; i < length; ++i) {
            if (random_.Chance(15)) {
                text += static_cast<char>(0x01 + random_.Below(0xFF)); // any byte but NUL
            } else {
                text += kPlain[random_.Below(sizeof(kPlain) - 1)];
            }
        }
        return text;
    }

    // Names are often repeated, so that second registrations of a name happen; builtin names
    // too.
    std::string Name() {
        static const char* const kPool[] = {"Alpha",
                                            "alpha",
                                            "Beta",
                                            "\xC3\xA9t\xC3\xA9",
                                            "Z",
                                            "",
                                            "BindingAsyncState",
                                            "OnCallback",
                                            "BindingFullTypeHelp",
                                            "a\x7F"};
        if (random_.Chance(30)) {
            return kPool[random_.Below(std::size(kPool))];
        }
        std::string name = Text(8);
        return name.empty() ? "n" : name;
    }

    std::vector<std::string> Tags() {
        std::vector<std::string> tags;
        const std::uint32_t count = random_.Below(4);
        for (std::uint32_t i = 0; i < count; ++i) {
            tags.push_back(random_.Chance(20) ? std::string() : Text(6));
        }
        return tags;
    }

    static std::vector<std::string> NonEmpty(const std::vector<std::string>& texts) {
        std::vector<std::string> out;
        for (const std::string& text : texts) {
            if (!text.empty()) {
                out.push_back(text);
            }
        }
        return out;
    }

    void RegisterType(int native) {
        const bool isEnum = native >= 6;
        const std::string name = Name();
        static const std::uint32_t kEnumSizes[] = {1, 2, 4, 8};
        const std::uint32_t size =
            isEnum ? kEnumSizes[random_.Below(4)] : static_cast<std::uint32_t>(random_.Next());
        BindingTypeBuilder builder =
            isEnum ? registry_.RegisterEnum(size, name.c_str(), NativeIdentity(native))
                   : registry_.RegisterStruct(size, name.c_str(), NativeIdentity(native));
        ModelType* type = model_.FindType(name);
        const bool fresh = type == nullptr;
        if (fresh) {
            model_.types.push_back({name, "", size, isEnum, "", {}, {}, {}});
            type = &model_.types.back();
            registeredName_[native] = name;
        }
        // On a second registration every builder call is ignored; the model keeps the first.
        const std::string description = Text(10);
        builder.SetDescription(description.c_str());
        const std::string nameSpace = random_.Chance(50) ? Text(6) : std::string();
        if (!nameSpace.empty() || random_.Chance(50)) {
            builder.SetNameSpace(nameSpace.c_str());
        }
        const std::vector<std::string> tags = Tags();
        builder.AddTags(tags);
        if (fresh) {
            type->description = description;
            type->nameSpace = nameSpace;
            type->tags = NonEmpty(tags);
        }
        if (isEnum) {
            const std::uint32_t count = random_.Below(7);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::string valueName = random_.Chance(30) ? Name() : Text(5);
                const auto value = static_cast<std::int32_t>(random_.Chance(20) ? random_.Next()
                                                                                : random_.Below(9));
                const std::string valueDescription = Text(8);
                // Values are added only while the type is new.
                if (!fresh) {
                    continue;
                }
                builder.AddValue(valueName.c_str(), value, valueDescription.c_str());
                auto found = std::find_if(type->values.begin(), type->values.end(),
                                          [&](const ModelValue& v) { return v.name == valueName; });
                if (found != type->values.end()) {
                    found->value = value;
                    found->description = valueDescription;
                } else {
                    type->values.push_back({valueName, valueDescription, value});
                }
            }
            return;
        }
        const std::uint32_t count = random_.Below(8);
        for (std::uint32_t i = 0; i < count; ++i) {
            const FieldShape& shape =
                shapes_[random_.Below(static_cast<std::uint32_t>(shapes_.size()))];
            const std::string fieldName = random_.Chance(20) ? "same" : Text(6);
            const std::string fieldDescription = Text(8);
            const auto offset = static_cast<std::uint32_t>(random_.Next());
            const auto flags = static_cast<std::uint32_t>(random_.Below(4));
            shape.add(builder, fieldName.c_str(), offset, fieldDescription.c_str(), flags);
            if (fresh) {
                const auto named = shape.described == kNoType
                                       ? registeredName_.end()
                                       : registeredName_.find(shape.described);
                type->fields.push_back(
                    {fieldName, fieldDescription, offset, shape.kind, shape.element,
                     named != registeredName_.end() ? named->second : "", shape.optional});
            }
        }
    }

    // A registered type's descriptor and name, or none.
    std::pair<const BindingTypeDescriptor*, std::string> AnyType() {
        if (model_.types.empty() || random_.Chance(25)) {
            return {nullptr, ""};
        }
        const ModelType& type =
            model_.types[random_.Below(static_cast<std::uint32_t>(model_.types.size()))];
        return {registry_.FindTypeByName(type.name), type.name};
    }

    std::uint32_t AnyKind() {
        static const std::uint32_t kOdd[] = {0, 20, 21, 0x80000000u, 0xFFFFFFFFu};
        return random_.Chance(80) ? 1 + random_.Below(19) : kOdd[random_.Below(std::size(kOdd))];
    }

    void RegisterEvent() {
        const std::string name = Name();
        const auto [payload, payloadName] = AnyType();
        BindingEventBuilder builder = registry_.RegisterEvent(name.c_str(), payload);
        const std::string description = Text(10);
        const std::string nameSpace = Text(4);
        const std::vector<std::string> tags = Tags();
        builder.SetDescription(description.c_str());
        builder.SetNameSpace(nameSpace.c_str());
        for (const std::string& tag : tags) {
            builder.AddTag(tag.c_str());
        }
        const bool fresh = std::none_of(model_.events.begin(), model_.events.end(),
                                        [&](const ModelEvent& e) { return e.name == name; });
        if (fresh) {
            model_.events.push_back({name, nameSpace, payloadName, description, NonEmpty(tags)});
        }
    }

    void RegisterFunction() {
        const std::string name = Name();
        ModelFunction model;
        model.name = name;
        std::vector<BindingParameterDescriptor> parameters;
        const std::uint32_t count = random_.Below(5);
        for (std::uint32_t i = 0; i < count; ++i) {
            ModelArgument argument;
            argument.name = Text(6);
            argument.description = Text(8);
            argument.kind = AnyKind();
            argument.element =
                argument.kind == kVector || argument.kind == kMap || random_.Chance(20) ? AnyKind()
                                                                                        : 0;
            const auto [descriptor, typeName] = AnyType();
            argument.typeName = typeName;
            argument.optional = random_.Chance(40);
            static const std::int32_t kLocations[] = {-1, 0, 1, 2, 3, 4, 5, 6, 9, 1000};
            argument.location = kLocations[random_.Below(std::size(kLocations))];
            BindingParameterDescriptor parameter;
            parameter.name = argument.name;
            parameter.description = argument.description;
            parameter.optional = argument.optional;
            parameter.type = {static_cast<FieldKind>(argument.kind),
                              static_cast<FieldKind>(argument.element), descriptor};
            parameter.location = argument.location;
            parameters.push_back(parameter);
            model.arguments.push_back(argument);
        }
        const BindingFunctionBuilder builder = registry_.RegisterFunction(name.c_str(), parameters);
        if (builder.alreadyRegistered) {
            return; // the first registration stands
        }
        BindingFunctionDescriptor& function = *builder.descriptor;
        model.nameSpace = Text(5);
        model.returnKind = AnyKind();
        model.returnElement = random_.Chance(50) ? AnyKind() : 0;
        const auto [descriptor, typeName] = AnyType();
        model.returnTypeName = typeName;
        model.hasReturnDescriptor = descriptor != nullptr;
        model.description = Text(10);
        model.help = Text(12);
        model.threadSafe = random_.Chance(50);
        model.async = random_.Chance(50);
        model.tags = Tags(); // the function's own tag list, kept as it is
        function.nameSpace = model.nameSpace;
        function.returns = {static_cast<FieldKind>(model.returnKind),
                            static_cast<FieldKind>(model.returnElement), descriptor};
        function.description = model.description;
        function.help = model.help;
        function.threadSafe = model.threadSafe;
        function.async = model.async;
        function.tags = model.tags;
        model.path = random_.Chance(30) ? std::string() : "/" + Text(8);
        function.path = model.path;
        switch (random_.Below(3)) {
        case 0: {
            const auto method = static_cast<HttpMethod>(random_.Below(9));
            SetRouteMethod(function, method);
            model.method = static_cast<std::uint32_t>(method);
            break;
        }
        case 1:
            model.methodText = Text(6);
            SetRouteCustomMethod(function, model.methodText);
            model.method = 8;
            break;
        default: {
            static const std::uint32_t kOdd[] = {9, 12, 0x80000000u, 0xFFFFFFFFu};
            model.method = kOdd[random_.Below(std::size(kOdd))];
            function.method = model.method;
            break;
        }
        }
        model_.functions.push_back(model);
    }

    Random random_;
    BindingRegistry& registry_;
    Model& model_;
    std::map<int, std::string> registeredName_;
    const std::vector<FieldShape> shapes_ = MakeShapes();
};

// -----------------------------------------------------------------------------------------------

TEST(ApiDeclarationOracleTest, BuiltinDeclarationReadByteByByte) {
    BindingRegistry registry;
    registry.Reinitialise();
    Model model;
    AddBuiltins(model);
    const auto built = BuildApiDeclaration(registry, &OracleEntryPoint);
    EXPECT_EQ(Reader(registry, &OracleEntryPoint).Read(built->Declaration()), Print(model));
}

TEST(ApiDeclarationOracleTest, RandomRegistriesReadByteByByte) {
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        BindingRegistry registry;
        Model model;
        // Builtins first, none, or after the plug-in's own types (a name taken already keeps
        // its first registration).
        if (seed % 3 == 0) {
            registry.Reinitialise();
            AddBuiltins(model);
        }
        Generator(seed, registry, model).Run();
        if (seed % 3 == 1) {
            registry.Reinitialise();
            AddBuiltins(model);
        }
        const auto built = BuildApiDeclaration(registry, &OracleEntryPoint);
        const std::string read = Reader(registry, &OracleEntryPoint).Read(built->Declaration());
        const std::string expected = Print(model);
        ASSERT_EQ(read, expected);
    }
}

} // namespace
} // namespace Korvel
