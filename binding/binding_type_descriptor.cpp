#include "binding/binding_type_descriptor.h"

#include "binding/binding_field_converter.h"

namespace Korvel {

namespace {

constexpr const char* kFieldKindNames[] = {"",       "bool",   "int8",   "uint8",    "int16",
                                           "uint16", "int32",  "uint32", "int64",    "uint64",
                                           "float",  "double", "string", "object",   "blob",
                                           "vector", "enum",   "struct", "callback", "map"};

} // namespace

const char* FieldKindName(FieldKind kind) noexcept {
    const auto code = static_cast<std::size_t>(kind);
    return code < std::size(kFieldKindNames) ? kFieldKindNames[code] : "";
}

BindingFieldDescriptor::BindingFieldDescriptor(BindingFieldDescriptor&&) noexcept = default;
BindingFieldDescriptor&
BindingFieldDescriptor::operator=(BindingFieldDescriptor&&) noexcept = default;
BindingFieldDescriptor::~BindingFieldDescriptor() = default;

const BindingFieldDescriptor*
BindingTypeDescriptor::FindField(std::string_view fieldName) const noexcept {
    for (const BindingFieldDescriptor& field : fields) {
        if (field.name == fieldName) {
            return &field;
        }
    }
    return nullptr;
}

const BindingEnumValue*
BindingTypeDescriptor::FindValue(std::string_view valueName) const noexcept {
    const auto found = values.find(valueName);
    return found == values.end() ? nullptr : &found->second;
}

const BindingEnumValue* BindingTypeDescriptor::FindValue(std::int32_t value) const noexcept {
    // Name order: when two names share a value, the one that sorts first wins.
    for (const auto& [name, enumerator] : values) {
        if (enumerator.value == value) {
            return &enumerator;
        }
    }
    return nullptr;
}

bool IsEnumValue(const BindingTypeDescriptor& descriptor, std::int32_t value) noexcept {
    return descriptor.FindValue(value) != nullptr;
}

} // namespace Korvel
