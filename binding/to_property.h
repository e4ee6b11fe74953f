#pragma once

// Native to dynamic conversion (ToProperty): builds the BindingProperty of a native field or
// record, driven only by registered descriptors.
//
// Each rule writes into a target value and reports into a BindingResult `status`; it does nothing
// once the status has failed. The target may lie inside the status's own value: a failure
// (SetError) rebuilds that value as {"error": message}, so after any step that can fail a rule
// tests the status before it touches its target again. A failed field passes its message on
// unchanged and ends the conversion.
//
//   "bool" -> "bool"; "int8" ... "int64" -> "signed"; "uint8" ... "uint64" -> "unsigned";
//   "float", "double" -> "float"; "string" -> "string"; "object" -> a deep copy; "blob" -> "blob";
//   "enum" -> an enum record of the stored value and the enumeration's identity;
//   "vector" -> "collection" in index order; "map" -> "structure" named by the keys;
//   "struct" -> "structure" of the fields in registration order, leaving out `omitDefault` fields
//   whose value is default and `optional` fields without a value.

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/binding_result.h"
#include "binding/binding_type_descriptor.h"
#include "binding/conversion_messages.h"

namespace Korvel {

class BindingRegistry;

// Whole record into `output` (which must be successful to start): the record rule below, with the
// output's value as the target.
// Running out of memory fails the output with ConversionMessages::kOutOfMemory for "<value>".
void ToProperty(BindingResult& output, const void* record, const BindingTypeDescriptor* descriptor,
                const BindingRegistry& registry);

// Fails `output` with ConversionMessages::kOutOfMemory for `name`, or without a message when
// even that cannot be held.
void FailOutOfMemory(BindingResult& output, std::string_view name) noexcept;

namespace ToPropertyRules {

// An enumeration stored in `size` (1, 2, 4 or 8) bytes at `storage`: 1, 2 and 4 bytes are read
// sign-extended, 8 bytes by their low 32 bits.
void Enum(BindingResult& status, BindingProperty& target, const void* storage, std::size_t size,
          std::string_view fieldName, const BindingTypeDescriptor* descriptor);
// The record rule: no descriptor gives "Couldn't convert native value because it's an
// unregistered structure.".
void Struct(BindingResult& status, BindingProperty& target, const void* record,
            const BindingTypeDescriptor* descriptor, const BindingRegistry& registry);
// Makes the target an empty collection with room for `count` elements; false (with the status
// failed) when a collection cannot hold that many.
bool StartCollection(BindingResult& status, BindingProperty& target, std::size_t count,
                     std::string_view fieldName);

} // namespace ToPropertyRules

} // namespace Korvel
