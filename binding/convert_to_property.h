#pragma once

// Typed entry points of the native <-> dynamic conversions for a whole native value of type T:
// a registered record, or any other native field type (a vector of records, a string, ...).
//
//     BindingResult status;
//     Korvel::FromProperty(status, resource, value, "<value>", registry);   // dynamic -> native
//     BindingResult output;
//     Korvel::ToProperty(output, resource, registry);                       // native -> dynamic
//     BindingProperty value;
//     bool converted = Korvel::ConvertToProperty(resource, value, registry);
//
// The descriptor of a record or enumeration (or of the elements of a vector or map of them) is
// found by the hash of its static type identity at the time of the call.

#include <new>
#include <string_view>
#include <type_traits>

#include "binding/binding_field_rules.h"
#include "binding/binding_registry.h"
#include "binding/from_property.h"
#include "binding/to_property.h"

namespace Korvel {

// The type reference of native type T, its descriptor looked up in the registry now.
template <typename T>
BindingTypeRef NativeTypeRef(const BindingRegistry& registry) {
    BindingTypeRef type;
    type.kind = NativeFieldKind<T>();
    type.elementKind = NativeElementKind<T>();
    using Described = typename NativeDescribedType<T>::Type;
    if constexpr (!std::is_void_v<Described>) {
        type.descriptor = registry.FindTypeByHash(StaticType::Identity<Described>());
    }
    return type;
}

// Assigns `input` to `destination`, reporting into `status`; `name` is the name in messages. A
// record follows the whole-record rule (an "empty" input is "A value for '%1' is required.");
// every other type its field rule.
template <typename T>
void FromProperty(BindingResult& status, T& destination, const BindingProperty& input,
                  std::string_view name, const BindingRegistry& registry) {
    const BindingTypeRef type = NativeTypeRef<T>(registry);
    if constexpr (NativeFieldKind<T>() == FieldKind::Struct && !IsNativeOptional<T>()) {
        FromProperty(status, static_cast<void*>(&destination), input, name, type.descriptor,
                     registry);
    } else {
        BindingValueRules<T>::From(status, destination, input, name, type, registry);
    }
}

// Builds the dynamic value of `source` into `output` (nothing happens once it has failed).
// Running out of memory fails the output (see FailOutOfMemory).
template <typename T>
void ToProperty(BindingResult& output, const T& source, const BindingRegistry& registry) {
    try {
        BindingValueRules<T>::To(output, output.value, source, "<value>",
                                 NativeTypeRef<T>(registry), registry);
    } catch (const std::bad_alloc&) {
        FailOutOfMemory(output, "<value>");
    }
}

// For a registered record type T: false, with `output` untouched, when T has no descriptor;
// otherwise converts into a fresh result and, when that succeeds, moves it into `output`.
// Returns whether the conversion succeeded.
template <typename T>
bool ConvertToProperty(const T& record, BindingProperty& output, const BindingRegistry& registry) {
    const BindingTypeDescriptor* descriptor = registry.FindType<T>();
    if (descriptor == nullptr) {
        return false;
    }
    BindingResult result;
    ToProperty(result, static_cast<const void*>(&record), descriptor, registry);
    if (result.IsSuccess()) {
        output.Take(result.value);
    }
    return result.IsSuccess();
}

} // namespace Korvel
