#include "binding/binding_registry.h"

#include "remoting/builtin_types.h"

namespace Korvel {

// -----------------------------------------------------------------------------------------------
// Builders

void BindingTypeBuilder::AppendField(const char* name, std::uint32_t offset,
                                     const char* description, std::uint32_t flags,
                                     const StaticTypeId& identity, BindingTypeRef type,
                                     std::unique_ptr<BindingFieldConverter> converter,
                                     bool optional) {
    BindingFieldDescriptor field;
    field.name = name != nullptr ? name : "";
    field.description = description != nullptr ? description : "";
    field.identity = &identity;
    field.offset = offset;
    field.type = type;
    field.flags = flags;
    field.converter = std::move(converter);
    field.owner = descriptor;
    field.optional = optional;
    descriptor->fields.push_back(std::move(field));
}

BindingTypeBuilder& BindingTypeBuilder::AddValue(const char* name, std::int32_t value,
                                                 const char* description) {
    if (alreadyRegistered || name == nullptr) {
        return *this;
    }
    BindingEnumValue& enumerator = descriptor->values[name];
    enumerator.value = value;
    enumerator.name = name;
    enumerator.description = description != nullptr ? description : "";
    enumerator.owner = descriptor;
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetDescription(const char* text) {
    if (!alreadyRegistered) {
        descriptor->description = text != nullptr ? text : "";
    }
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetNameSpace(const char* text) {
    if (!alreadyRegistered) {
        descriptor->nameSpace = text != nullptr ? text : "";
    }
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTag(const char* text) {
    if (!alreadyRegistered && text != nullptr && *text != '\0') {
        descriptor->tags.emplace_back(text);
    }
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTags(std::initializer_list<const char*> texts) {
    for (const char* text : texts) {
        AddTag(text);
    }
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTags(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        AddTag(text.c_str());
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetDescription(const char* text) {
    if (!alreadyRegistered) {
        descriptor->description = text != nullptr ? text : "";
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetNameSpace(const char* text) {
    if (!alreadyRegistered) {
        descriptor->nameSpace = text != nullptr ? text : "";
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTag(const char* text) {
    if (!alreadyRegistered && text != nullptr && *text != '\0') {
        descriptor->tags.emplace_back(text);
    }
    return *this;
}

// -----------------------------------------------------------------------------------------------
// Registry

BindingRegistry::BindingRegistry() = default;

BindingRegistry::~BindingRegistry() {
    if (initialised_) {
        UnregisterAll();
    }
}

BindingTypeBuilder BindingRegistry::RegisterType(std::uint32_t size, const char* name,
                                                 const StaticTypeId& identity, bool isEnum) {
    const std::string_view key(name != nullptr ? name : "");
    std::lock_guard lock(mutex_);
    // Looking up and inserting under one lock holding: two threads registering one name get one
    // descriptor.
    if (const auto found = types_.find(key); found != types_.end()) {
        return {this, found->second.get(), true};
    }
    auto descriptor = std::make_unique<BindingTypeDescriptor>();
    descriptor->size = size;
    descriptor->isEnum = isEnum;
    descriptor->name = key;
    descriptor->hash = identity.hash;
    descriptor->identity = &identity;
    descriptor->registry = this;
    BindingTypeDescriptor* raw = descriptor.get();
    types_.emplace(descriptor->name, std::move(descriptor));
    if (raw->hash != StaticType::HashCode<void>()) {
        typesByHash_[raw->hash] = raw; // a later type under the same hash takes the entry
    }
    return {this, raw, false};
}

BindingTypeBuilder BindingRegistry::RegisterStruct(std::uint32_t size, const char* name,
                                                   const StaticTypeId& identity) {
    return RegisterType(size, name, identity, false);
}

BindingTypeBuilder BindingRegistry::RegisterEnum(std::uint32_t size, const char* name,
                                                 const StaticTypeId& identity) {
    return RegisterType(size, name, identity, true);
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByHash(const StaticTypeId& identity) const {
    return FindTypeByHash(identity.hash);
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByHash(std::uint32_t hash) const {
    std::lock_guard lock(mutex_);
    const auto found = typesByHash_.find(hash);
    return found == typesByHash_.end() ? nullptr : found->second;
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByName(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto found = types_.find(name);
    return found == types_.end() ? nullptr : found->second.get();
}

bool BindingRegistry::UnregisterType(std::string_view name) {
    std::unique_ptr<BindingTypeDescriptor> removed;
    {
        std::lock_guard lock(mutex_);
        const auto found = types_.find(name);
        if (found == types_.end()) {
            return false;
        }
        removed = std::move(found->second);
        types_.erase(found);
        // Only this descriptor's own entry goes: a later type that took over the hash keeps it.
        const auto byHash = typesByHash_.find(removed->hash);
        if (byHash != typesByHash_.end() && byHash->second == removed.get()) {
            typesByHash_.erase(byHash);
        }
    }
    for (BindingFieldDescriptor& field : removed->fields) {
        field.converter.reset();
    }
    return true;
}

BindingEventBuilder BindingRegistry::RegisterEvent(const char* name,
                                                   const BindingTypeDescriptor* payload) {
    const std::string_view key(name != nullptr ? name : "");
    std::lock_guard lock(mutex_);
    if (const auto found = events_.find(key); found != events_.end()) {
        return {found->second.get(), true};
    }
    auto descriptor = std::make_unique<BindingEventDescriptor>();
    descriptor->name = key;
    descriptor->payload = payload;
    descriptor->registry = this;
    BindingEventDescriptor* raw = descriptor.get();
    events_.emplace(descriptor->name, std::move(descriptor));
    return {raw, false};
}

const BindingEventDescriptor* BindingRegistry::FindEvent(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto found = events_.find(name);
    return found == events_.end() ? nullptr : found->second.get();
}

bool BindingRegistry::UnregisterEvent(std::string_view name) {
    std::unique_ptr<BindingEventDescriptor> removed;
    std::lock_guard lock(mutex_);
    const auto found = events_.find(name);
    if (found == events_.end()) {
        return false;
    }
    removed = std::move(found->second);
    events_.erase(found);
    return true;
}

BindingFunctionBuilder
BindingRegistry::RegisterFunction(const char* name,
                                  std::vector<BindingParameterDescriptor> parameters,
                                  std::unique_ptr<BindingFunctionInvoker> invoker) {
    const std::string_view key(name != nullptr ? name : "");
    std::lock_guard lock(mutex_);
    if (const auto found = functions_.find(key); found != functions_.end()) {
        return {found->second.get(), true};
    }
    auto descriptor = std::make_unique<BindingFunctionDescriptor>();
    descriptor->name = key;
    descriptor->parameters = std::move(parameters);
    descriptor->invoker = std::move(invoker);
    descriptor->registry = this;
    BindingFunctionDescriptor* raw = descriptor.get();
    functions_.emplace(descriptor->name, std::move(descriptor));
    return {raw, false};
}

const BindingFunctionDescriptor* BindingRegistry::FindFunction(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto found = functions_.find(name);
    return found == functions_.end() ? nullptr : found->second.get();
}

BindingFunctionDescriptor* BindingRegistry::FindFunctionForUpdate(std::string_view name) {
    std::lock_guard lock(mutex_);
    const auto found = functions_.find(name);
    return found == functions_.end() ? nullptr : found->second.get();
}

bool BindingRegistry::UnregisterFunction(std::string_view name) {
    std::unique_ptr<BindingFunctionDescriptor> removed;
    std::lock_guard lock(mutex_);
    const auto found = functions_.find(name);
    if (found == functions_.end()) {
        return false;
    }
    removed = std::move(found->second);
    functions_.erase(found);
    return true;
}

std::unordered_map<std::string, const BindingTypeDescriptor*>
BindingRegistry::SnapshotTypes() const {
    std::lock_guard lock(mutex_);
    std::unordered_map<std::string, const BindingTypeDescriptor*> copy;
    copy.reserve(types_.size());
    for (const auto& [name, descriptor] : types_) {
        copy.emplace(name, descriptor.get());
    }
    return copy;
}

std::unordered_map<std::string, const BindingEventDescriptor*>
BindingRegistry::SnapshotEvents() const {
    std::lock_guard lock(mutex_);
    std::unordered_map<std::string, const BindingEventDescriptor*> copy;
    copy.reserve(events_.size());
    for (const auto& [name, descriptor] : events_) {
        copy.emplace(name, descriptor.get());
    }
    return copy;
}

std::unordered_map<std::string, const BindingFunctionDescriptor*>
BindingRegistry::SnapshotFunctions() const {
    std::lock_guard lock(mutex_);
    std::unordered_map<std::string, const BindingFunctionDescriptor*> copy;
    copy.reserve(functions_.size());
    for (const auto& [name, descriptor] : functions_) {
        copy.emplace(name, descriptor.get());
    }
    return copy;
}

void BindingRegistry::UnregisterAll() {
    // Taken out under the lock, destroyed after it: events first, then types, then functions.
    ByName<BindingEventDescriptor> events;
    ByName<BindingTypeDescriptor> types;
    ByName<BindingFunctionDescriptor> functions;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
        types.swap(types_);
        typesByHash_.clear();
        functions.swap(functions_);
    }
    events.clear();
    for (auto& [name, descriptor] : types) {
        for (BindingFieldDescriptor& field : descriptor->fields) {
            field.converter.reset();
        }
    }
    types.clear();
    functions.clear();
}

void BindingRegistry::Reinitialise() {
    if (initialised_) {
        UnregisterAll();
    }
    RegisterBuiltinTypes(*this);
    initialised_ = true;
}

const char* BindingRegistry::EnumName(const StaticTypeId& identity, std::int32_t value) const {
    const BindingTypeDescriptor* descriptor = FindTypeByHash(identity);
    if (descriptor == nullptr) {
        return nullptr;
    }
    const BindingEnumValue* enumerator = descriptor->FindValue(value);
    return enumerator != nullptr ? enumerator->name.c_str() : nullptr;
}

const char* EnumName(const StaticTypeId& identity, std::int32_t value,
                     const BindingRegistry& registry) {
    return registry.EnumName(identity, value);
}

} // namespace Korvel
