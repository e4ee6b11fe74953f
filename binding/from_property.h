#pragma once

// Dynamic to native conversion (FromProperty): assigns a BindingProperty to a native field or
// record, checking kind, range and format on the way, driven only by registered descriptors.
//
// Every rule reports into a BindingResult `status` and follows the same three rules:
//   1. When the status has already failed, nothing is tested and no message is set; a scalar,
//      text, blob or enum destination is still written, with the zero value of its type.
//   2. When a rule fails it sets its message on the status (SetError) and the destination receives
//      the zero value of its type (0, false, 0.0, the empty text, no bytes).
//   3. The first failure ends the whole conversion: record, vector and map loops stop as soon as
//      the status has failed. The message of the deepest failing field is the one reported.
// A failed record conversion may leave the record partly assigned: fields before the failing one
// hold their converted values, the failing field its zero value, later fields their old values.
//
// The typed rules of each native field type live in binding_field_rules.h; the typed entry points
// for whole values (FromProperty<T>, ToProperty<T>, ConvertToProperty<T>) in
// convert_to_property.h. This header holds the rules that need no native type.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "binding/binding_result.h"
#include "binding/binding_type_descriptor.h"
#include "binding/conversion_messages.h"

namespace Korvel {

class BindingRegistry;

// Whole record: an "empty" input gives "A value for '%1' is required."; otherwise the record rule
// below. `name` is the caller's name for the record ("<value>" for a whole value).
void FromProperty(BindingResult& status, void* record, const BindingProperty& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor,
                  const BindingRegistry& registry);

namespace FromPropertyRules {

// The inclusive limits of an integer field and the type name its messages use.
struct IntegerLimits {
    std::int64_t minimum;
    std::int64_t maximum;          // signed fields
    std::uint64_t unsignedMaximum; // unsigned fields
    bool isSigned;
    const char* typeName;
};

// The limits of an integer field kind ("int8" ... "uint64"), named by the kind.
constexpr IntegerLimits LimitsOf(FieldKind kind) noexcept {
    switch (kind) {
    case FieldKind::Int8:
        return {INT8_MIN, INT8_MAX, 0, true, "int8"};
    case FieldKind::Uint8:
        return {0, 0, UINT8_MAX, false, "uint8"};
    case FieldKind::Int16:
        return {INT16_MIN, INT16_MAX, 0, true, "int16"};
    case FieldKind::Uint16:
        return {0, 0, UINT16_MAX, false, "uint16"};
    case FieldKind::Int32:
        return {INT32_MIN, INT32_MAX, 0, true, "int32"};
    case FieldKind::Uint32:
        return {0, 0, UINT32_MAX, false, "uint32"};
    case FieldKind::Int64:
        return {INT64_MIN, INT64_MAX, 0, true, "int64"};
    case FieldKind::Uint64:
        return {0, 0, UINT64_MAX, false, "uint64"};
    default:
        return {0, 0, 0, false, ""};
    }
}

// A callback handle converts as an unsigned 32-bit number named "callback".
inline constexpr IntegerLimits kCallbackLimits{0, 0, UINT32_MAX, false, "callback"};

void Bool(BindingResult& status, bool& destination, const BindingProperty& input,
          std::string_view fieldName);
// Integer fields: the converted value, or 0 after a failure. `limits.isSigned` selects the
// signed rule.
std::int64_t Signed(BindingResult& status, const BindingProperty& input, std::string_view fieldName,
                    const IntegerLimits& limits);
std::uint64_t Unsigned(BindingResult& status, const BindingProperty& input,
                       std::string_view fieldName, const IntegerLimits& limits);
// "float" (narrow = true, the result fits a 32-bit float) and "double" fields.
double Floating(BindingResult& status, const BindingProperty& input, std::string_view fieldName,
                bool narrow);
void String(BindingResult& status, std::string& destination, const BindingProperty& input,
            std::string_view fieldName, const BindingRegistry& registry);
void Object(BindingResult& status, BindingProperty& destination, const BindingProperty& input);
void Blob(BindingResult& status, std::vector<std::uint8_t>& destination,
          const BindingProperty& input, std::string_view fieldName);
// An enumeration stored in `size` (1, 2, 4 or 8) bytes at `storage`.
void Enum(BindingResult& status, void* storage, std::size_t size, const BindingProperty& input,
          std::string_view fieldName, const BindingTypeDescriptor* descriptor);
// The record rule of "struct" fields (an "empty" input is the caller's business).
void Struct(BindingResult& status, void* record, const BindingProperty& input,
            std::string_view fieldName, const BindingTypeDescriptor* descriptor,
            const BindingRegistry& registry);
// The start of a vector or map rule: false (with the message set when the status held) unless the
// input can fill the container.
bool CheckCollection(BindingResult& status, const BindingProperty& input,
                     std::string_view fieldName, bool vectorOfBool);
bool CheckMap(BindingResult& status, const BindingProperty& input, std::string_view fieldName);

} // namespace FromPropertyRules

} // namespace Korvel
