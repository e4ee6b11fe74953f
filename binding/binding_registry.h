#pragma once

// The registry of a plug-in's binding types, events and functions.
//
// Types are registered once by name; a second registration of a name returns the first descriptor
// and the builder then ignores everything (alreadyRegistered). Types are found by name and by the
// hash of their static type identity. Fields keep registration order; enumerators are kept in name
// order.
//
//     auto builder = registry.RegisterStruct<Korvel::Client::Thing>("Thing");
//     builder.SetDescription("A thing.").AddTag("$builtin");
//     KORVEL_BINDING_FIELD(builder, Korvel::Client::Thing, count, "count", "How many", 0);
//     builder.AddField<std::string>("name", offsetof(Korvel::Client::Thing, name), "", 0);
//
// A nested record or enumeration must be registered before the record that uses it; otherwise the
// field's descriptor stays null.
//
// One mutex guards the four tables for registration, lookup, snapshots and removal. Descriptors
// returned by lookups are used without the lock; builders change descriptors without the lock, so
// registration of one type happens on one thread.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_event_descriptor.h"
#include "binding/binding_field_converter.h"
#include "binding/binding_field_rules.h"
#include "binding/binding_function_descriptor.h"
#include "binding/binding_native_type.h"
#include "binding/binding_type_descriptor.h"
#include "binding/static_type_id.h"

namespace Korvel {

class BindingRegistry;

class BindingTypeBuilder {
public:
    BindingTypeBuilder(BindingRegistry* owner, BindingTypeDescriptor* type, bool existing) noexcept
        : registry(owner), descriptor(type), alreadyRegistered(existing) {}

    // Appends a field of native type T at `offset`. Does nothing when alreadyRegistered.
    // For struct and enum types (and vectors or maps of them) the descriptor is looked up by hash
    // now, so nested types must be registered first.
    template <typename T>
    BindingTypeBuilder& AddField(const char* name, std::uint32_t offset,
                                 const char* description = "", std::uint32_t flags = 0);

    // Inserts an enumerator; a name already present gets the new value and description.
    BindingTypeBuilder& AddValue(const char* name, std::int32_t value,
                                 const char* description = "");
    BindingTypeBuilder& SetDescription(const char* text);
    BindingTypeBuilder& SetNameSpace(const char* text);
    // The empty text is ignored.
    BindingTypeBuilder& AddTag(const char* text);
    BindingTypeBuilder& AddTags(std::initializer_list<const char*> texts);
    BindingTypeBuilder& AddTags(const std::vector<std::string>& texts);

    BindingRegistry* registry;
    BindingTypeDescriptor* descriptor;
    bool alreadyRegistered;

private:
    void AppendField(const char* name, std::uint32_t offset, const char* description,
                     std::uint32_t flags, const StaticTypeId& identity, BindingTypeRef type,
                     std::unique_ptr<BindingFieldConverter> converter, bool optional);
};

class BindingEventBuilder {
public:
    BindingEventBuilder(BindingEventDescriptor* event, bool existing) noexcept
        : descriptor(event), alreadyRegistered(existing) {}

    // Each does nothing when alreadyRegistered; AddTag ignores the empty text.
    BindingEventBuilder& SetDescription(const char* text);
    BindingEventBuilder& SetNameSpace(const char* text);
    BindingEventBuilder& AddTag(const char* text);

    BindingEventDescriptor* descriptor;
    bool alreadyRegistered;
};

struct BindingFunctionBuilder {
    BindingFunctionDescriptor* descriptor;
    bool alreadyRegistered;
};

class BindingRegistry {
public:
    BindingRegistry();
    BindingRegistry(const BindingRegistry&) = delete;
    BindingRegistry& operator=(const BindingRegistry&) = delete;
    // An initialised registry first unregisters every event, type and function.
    virtual ~BindingRegistry();

    // Types.
    BindingTypeBuilder RegisterStruct(std::uint32_t size, const char* name,
                                      const StaticTypeId& identity);
    BindingTypeBuilder RegisterEnum(std::uint32_t size, const char* name,
                                    const StaticTypeId& identity);
    template <typename T>
    BindingTypeBuilder RegisterStruct(const char* name) {
        return RegisterStruct(sizeof(T), name, StaticType::Identity<T>());
    }
    template <typename T>
    BindingTypeBuilder RegisterEnum(const char* name) {
        static_assert(std::is_enum_v<T>, "RegisterEnum needs an enumeration type");
        return RegisterEnum(sizeof(T), name, StaticType::Identity<T>());
    }

    const BindingTypeDescriptor* FindTypeByHash(const StaticTypeId& identity) const;
    const BindingTypeDescriptor* FindTypeByHash(std::uint32_t hash) const;
    const BindingTypeDescriptor* FindTypeByName(std::string_view name) const;
    template <typename T>
    const BindingTypeDescriptor* FindType() const {
        return FindTypeByHash(StaticType::Identity<T>());
    }
    // Destroys the descriptor (and its field converters); false when the name is unknown.
    bool UnregisterType(std::string_view name);

    // Events.
    BindingEventBuilder RegisterEvent(const char* name, const BindingTypeDescriptor* payload);
    const BindingEventDescriptor* FindEvent(std::string_view name) const;
    bool UnregisterEvent(std::string_view name);

    // Functions. A second registration of a name returns the first descriptor unchanged (the
    // given parameters and invoker are dropped).
    BindingFunctionBuilder RegisterFunction(const char* name,
                                            std::vector<BindingParameterDescriptor> parameters = {},
                                            std::unique_ptr<BindingFunctionInvoker> invoker = {});
    const BindingFunctionDescriptor* FindFunction(std::string_view name) const;
    BindingFunctionDescriptor* FindFunctionForUpdate(std::string_view name);
    bool UnregisterFunction(std::string_view name);

    // Copies of the tables (descriptors are shared, not copied).
    std::unordered_map<std::string, const BindingTypeDescriptor*> SnapshotTypes() const;
    std::unordered_map<std::string, const BindingEventDescriptor*> SnapshotEvents() const;
    std::unordered_map<std::string, const BindingFunctionDescriptor*> SnapshotFunctions() const;

    // When initialised, unregisters every event, type and function; then registers the builtin
    // types and the "OnCallback" event, and marks the registry initialised.
    void Reinitialise();
    bool IsInitialised() const noexcept { return initialised_; }

    // The name of the first enumerator, in name order, of the type found by the identity's hash
    // whose value equals `value`; null when there is none or the type is not registered.
    const char* EnumName(const StaticTypeId& identity, std::int32_t value) const;

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    template <typename V>
    using ByName = std::unordered_map<std::string, std::unique_ptr<V>, TextHash, std::equal_to<>>;

    BindingTypeBuilder RegisterType(std::uint32_t size, const char* name,
                                    const StaticTypeId& identity, bool isEnum);
    void UnregisterAll();

    mutable std::mutex mutex_;
    ByName<BindingFunctionDescriptor> functions_;
    ByName<BindingEventDescriptor> events_;
    ByName<BindingTypeDescriptor> types_;
    std::unordered_map<std::uint32_t, BindingTypeDescriptor*> typesByHash_;
    bool initialised_ = false;
};

// Free forms of the enumerator queries.
const char* EnumName(const StaticTypeId& identity, std::int32_t value,
                     const BindingRegistry& registry);

template <typename T>
BindingTypeBuilder& BindingTypeBuilder::AddField(const char* name, std::uint32_t offset,
                                                 const char* description, std::uint32_t flags) {
    if (alreadyRegistered) {
        return *this;
    }
    using Described = typename NativeDescribedType<T>::Type;
    BindingTypeRef type;
    type.kind = NativeFieldKind<T>();
    type.elementKind = NativeElementKind<T>();
    if constexpr (!std::is_void_v<Described>) {
        type.descriptor = registry->FindTypeByHash(StaticType::Identity<Described>());
    }
    AppendField(name, offset, description, flags, StaticType::Identity<T>(), type,
                std::make_unique<BindingFieldConverterFor<T>>(), IsNativeOptional<T>());
    return *this;
}

} // namespace Korvel

// Adds the field MEMBER of RECORD under NAME, its native type and offset taken from the record.
#define KORVEL_BINDING_FIELD(BUILDER, RECORD, MEMBER, NAME, DESCRIPTION, FLAGS)                    \
    (BUILDER).AddField<decltype(RECORD::MEMBER)>(                                                  \
        NAME, static_cast<std::uint32_t>(offsetof(RECORD, MEMBER)), DESCRIPTION, FLAGS)
