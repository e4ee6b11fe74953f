#include "remoting/api_declaration_builder.h"

#include <algorithm>
#include <cstring>

#include "binding/binding_registry.h"

namespace Korvel {

namespace {

template <typename Map>
auto SortedByName(const Map& snapshot) {
    std::vector<typename Map::mapped_type> sorted;
    sorted.reserve(snapshot.size());
    for (const auto& [name, descriptor] : snapshot) {
        if (descriptor != nullptr) {
            sorted.push_back(descriptor);
        }
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->name < b->name; });
    return sorted;
}

// Type codes as declared: 1 "bool" to 19 "map", anything else 0.
std::int32_t DeclaredKind(FieldKind kind) noexcept {
    const auto code = static_cast<std::uint32_t>(kind);
    return code >= 1 && code <= 19 ? static_cast<std::int32_t>(code) : 0;
}

// The referenced type's name for vectors, enums, structs and maps; otherwise none.
std::string_view DeclaredTypeName(const BindingTypeRef& type) noexcept {
    switch (type.kind) {
    case FieldKind::Vector:
    case FieldKind::Enum:
    case FieldKind::Struct:
    case FieldKind::Map:
        return type.descriptor != nullptr ? std::string_view(type.descriptor->name)
                                          : std::string_view();
    default:
        return {};
    }
}

// Location codes as declared: 1 to 5 kept, anything else 0.
std::int32_t DeclaredLocation(std::int32_t code) noexcept {
    return code >= 1 && code <= 5 ? code : 0;
}

// Methods as declared: 1 to 8 kept, anything else 0.
std::uint32_t DeclaredMethod(std::uint32_t code) noexcept {
    return code >= 1 && code <= 8 ? code : 0;
}

// Links each entry of an array to the next; the last one's chain pointer stays null.
template <typename Entry>
void Chain(std::vector<Entry>& entries) {
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        entries[i].next = &entries[i + 1];
    }
}

template <typename Entry>
Entry ZeroEntry() {
    Entry entry;
    std::memset(&entry, 0, sizeof(entry));
    return entry;
}

} // namespace

class ApiDeclarationBuilder {
public:
    ApiDeclarationBuilder(BuiltApiDeclaration& built, BindingRegistry& registry,
                          HostFunctionEntryPoint entryPoint)
        : built_(built), registry_(registry), entryPoint_(entryPoint) {}

    void Build() {
        BuildTypes();
        BuildEvents();
        BuildFunctions();
        ApiDeclaration& declaration = built_.declaration_;
        declaration.functions = built_.functions_.empty() ? nullptr : built_.functions_.data();
        declaration.functionCount = static_cast<std::uint32_t>(built_.functions_.size());
        declaration.types = built_.types_.empty() ? nullptr : built_.types_.data();
        declaration.typeCount = static_cast<std::uint32_t>(built_.types_.size());
        declaration.events = built_.events_.empty() ? nullptr : built_.events_.data();
        declaration.eventCount = static_cast<std::uint32_t>(built_.events_.size());
    }

private:
    const char* Text(std::string_view text) {
        if (const auto found = built_.textIndex_.find(text); found != built_.textIndex_.end()) {
            return found->second;
        }
        const std::string& stored = built_.texts_.emplace_back(text);
        built_.textIndex_.emplace(std::string_view(stored), stored.c_str());
        return stored.c_str();
    }

    // The tag texts as an array of pointers; null for no tags.
    const char* const* TextArray(const std::vector<std::string>& texts) {
        if (texts.empty()) {
            return nullptr;
        }
        std::vector<const char*>& array = built_.textArrays_.emplace_back();
        array.reserve(texts.size());
        for (const std::string& text : texts) {
            array.push_back(Text(text));
        }
        return array.data();
    }

    void BuildTypes() {
        const auto types = SortedByName(registry_.SnapshotTypes());
        std::vector<ApiTypeEntry>& entries = built_.types_;
        entries.assign(types.size(), ZeroEntry<ApiTypeEntry>());
        for (std::size_t i = 0; i < types.size(); ++i) {
            const BindingTypeDescriptor& type = *types[i];
            ApiTypeEntry& entry = entries[i];
            entry.name = Text(type.name);
            entry.nameSpace = Text(type.nameSpace);
            entry.size = type.size;
            entry.description = Text(type.description);
            entry.tags = TextArray(type.tags);
            entry.tagCount = static_cast<std::uint32_t>(type.tags.size());
            if (type.isEnum) {
                entry.values = Values(type);
                entry.memberCount = static_cast<std::uint32_t>(type.values.size());
            } else {
                entry.fields = Fields(type);
                entry.memberCount = static_cast<std::uint32_t>(type.fields.size());
            }
        }
        Chain(entries);
    }

    const ApiFieldEntry* Fields(const BindingTypeDescriptor& type) {
        if (type.fields.empty()) {
            return nullptr;
        }
        std::vector<ApiFieldEntry>& entries = built_.fields_.emplace_back();
        entries.assign(type.fields.size(), ZeroEntry<ApiFieldEntry>());
        for (std::size_t i = 0; i < type.fields.size(); ++i) {
            const BindingFieldDescriptor& field = type.fields[i];
            ApiFieldEntry& entry = entries[i];
            entry.name = Text(field.name);
            entry.description = Text(field.description);
            entry.offset = field.offset;
            entry.kind = DeclaredKind(field.type.kind);
            entry.elementKind = DeclaredKind(field.type.elementKind);
            entry.typeName = Text(DeclaredTypeName(field.type));
            entry.optional = field.optional ? 1 : 0;
        }
        Chain(entries);
        return entries.data();
    }

    const ApiEnumValueEntry* Values(const BindingTypeDescriptor& type) {
        if (type.values.empty()) {
            return nullptr;
        }
        std::vector<ApiEnumValueEntry>& entries = built_.values_.emplace_back();
        entries.reserve(type.values.size());
        for (const auto& [name, value] : type.values) {
            ApiEnumValueEntry& entry = entries.emplace_back(ZeroEntry<ApiEnumValueEntry>());
            entry.name = Text(value.name);
            entry.description = Text(value.description);
            entry.value = value.value;
        }
        Chain(entries);
        return entries.data();
    }

    void BuildEvents() {
        const auto events = SortedByName(registry_.SnapshotEvents());
        std::vector<ApiEventEntry>& entries = built_.events_;
        entries.assign(events.size(), ZeroEntry<ApiEventEntry>());
        for (std::size_t i = 0; i < events.size(); ++i) {
            const BindingEventDescriptor& event = *events[i];
            ApiEventEntry& entry = entries[i];
            entry.name = Text(event.name);
            entry.nameSpace = Text(event.nameSpace);
            entry.dataTypeName =
                Text(event.payload != nullptr ? std::string_view(event.payload->name) : "");
            entry.description = Text(event.description);
            entry.tags = TextArray(event.tags);
            entry.tagCount = static_cast<std::uint32_t>(event.tags.size());
        }
        Chain(entries);
    }

    void BuildFunctions() {
        const auto functions = SortedByName(registry_.SnapshotFunctions());
        std::vector<ApiFunctionEntry>& entries = built_.functions_;
        entries.assign(functions.size(), ZeroEntry<ApiFunctionEntry>());
        for (std::size_t i = 0; i < functions.size(); ++i) {
            const BindingFunctionDescriptor& function = *functions[i];
            ApiFunctionEntry& entry = entries[i];
            Describe(entry, function);
            AddRoute(entry, function);
            const auto [recorded, inserted] = built_.userData_.insert_or_assign(
                function.name, DeclaredFunction{&registry_, &function});
            entry.userData = &recorded->second;
            entry.entryPoint = entryPoint_;
        }
        Chain(entries);
    }

    // The part of a function entry that the help describes too.
    void Describe(ApiFunctionEntry& entry, const BindingFunctionDescriptor& function) {
        entry.name = Text(function.name);
        entry.nameSpace = Text(function.nameSpace);
        entry.arguments = Arguments(function);
        entry.argumentCount = static_cast<std::uint32_t>(function.parameters.size());
        entry.returnKind = DeclaredKind(function.returns.kind);
        entry.returnElementKind = DeclaredKind(function.returns.elementKind);
        entry.returnTypeName = Text(DeclaredTypeName(function.returns));
        entry.description = Text(function.description);
        entry.help = Text(function.help);
        entry.threadSafe = function.threadSafe ? 1 : 0;
        entry.asyncResultType = Text(function.async && function.returns.descriptor != nullptr
                                         ? std::string_view(function.returns.descriptor->name)
                                         : std::string_view());
        entry.tags = TextArray(function.tags);
        entry.tagCount = static_cast<std::uint32_t>(function.tags.size());
    }

    // The route part. The route flag and the text lists are not used by this framework; they are
    // declared as 0 and empty.
    void AddRoute(ApiFunctionEntry& entry, const BindingFunctionDescriptor& function) {
        entry.argumentLocations = Locations(function);
        entry.path = Text(function.path);
        entry.method = DeclaredMethod(function.method);
        entry.routeFlag = 0;
        entry.textLists = nullptr;
        entry.textListCount = 0;
        entry.methodText = Text(entry.method == 8 ? std::string_view(function.methodText) : "");
    }

    const ApiArgumentEntry* Arguments(const BindingFunctionDescriptor& function) {
        if (function.parameters.empty()) {
            return nullptr;
        }
        std::vector<ApiArgumentEntry>& entries = built_.arguments_.emplace_back();
        entries.assign(function.parameters.size(), ZeroEntry<ApiArgumentEntry>());
        for (std::size_t i = 0; i < function.parameters.size(); ++i) {
            const BindingParameterDescriptor& parameter = function.parameters[i];
            ApiArgumentEntry& entry = entries[i];
            entry.name = Text(parameter.name);
            entry.description = Text(parameter.description);
            entry.kind = DeclaredKind(parameter.type.kind);
            entry.elementKind = DeclaredKind(parameter.type.elementKind);
            entry.typeName = Text(DeclaredTypeName(parameter.type));
            entry.optional = parameter.optional ? 1 : 0;
        }
        Chain(entries);
        return entries.data();
    }

    const ApiArgumentLocationEntry* Locations(const BindingFunctionDescriptor& function) {
        if (function.parameters.empty()) {
            return nullptr;
        }
        std::vector<ApiArgumentLocationEntry>& entries = built_.locations_.emplace_back();
        entries.assign(function.parameters.size(), ZeroEntry<ApiArgumentLocationEntry>());
        for (std::size_t i = 0; i < function.parameters.size(); ++i) {
            entries[i].location = DeclaredLocation(function.parameters[i].location);
        }
        Chain(entries);
        return entries.data();
    }

    BuiltApiDeclaration& built_;
    BindingRegistry& registry_;
    HostFunctionEntryPoint entryPoint_;
};

const DeclaredFunction* BuiltApiDeclaration::FindFunction(std::string_view name) const {
    const auto found = userData_.find(name);
    return found != userData_.end() ? &found->second : nullptr;
}

std::unique_ptr<BuiltApiDeclaration> BuildApiDeclaration(BindingRegistry& registry,
                                                         HostFunctionEntryPoint entryPoint) {
    auto built = std::make_unique<BuiltApiDeclaration>();
    ApiDeclarationBuilder(*built, registry, entryPoint).Build();
    return built;
}

} // namespace Korvel
