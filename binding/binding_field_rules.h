#pragma once

// Conversion rules per native field type, used by BindingFieldConverterFor<T> (one converter per
// registered field) and by the typed entry points of convert_to_property.h.
//
// BindingValueRules<T> holds the two directions for native type T, given the field's name (the
// name in messages) and its BindingTypeRef (whose descriptor is the registered struct or enum of
// the field, or of its vector or map elements):
//   From(status, destination, input, name, type, registry)   dynamic -> native (FromProperty)
//   To(status, target, source, name, type, registry)         native -> dynamic (ToProperty)
// The rules that need no native type live in from_property.cpp and to_property.cpp; this header
// only picks them by T and loops over vectors and maps, element by element, with the container
// field's name.
//
// std::optional<T>: an "empty" input leaves the optional without a value; any other input is
// converted into the contained T (engaged first). A failed conversion of a scalar, text, blob or
// enum leaves it without a value; a failed record keeps what was assigned. Without a value it
// converts to "empty", which a record leaves out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/binding_field_converter.h"
#include "binding/binding_native_type.h"
#include "binding/from_property.h"
#include "binding/to_property.h"

namespace Korvel {

template <typename T>
struct BindingValueRules {
    static constexpr FieldKind kKind = NativeFieldKind<T>();

    static void From(BindingResult& status, T& destination, const BindingProperty& input,
                     std::string_view name, const BindingTypeRef& type,
                     const BindingRegistry& registry) {
        if constexpr (IsNativeOptional<T>()) {
            using Value = typename T::value_type;
            if (!status.IsSuccess() || input.IsEmpty()) {
                destination.reset();
                return;
            }
            if (!destination.has_value()) {
                destination.emplace();
            }
            BindingValueRules<Value>::From(status, *destination, input, name, type, registry);
            if (!status.IsSuccess() && NativeFieldKind<Value>() != FieldKind::Struct) {
                destination.reset();
            }
        } else if constexpr (kKind == FieldKind::Bool) {
            FromPropertyRules::Bool(status, destination, input, name);
        } else if constexpr (kKind >= FieldKind::Int8 && kKind <= FieldKind::Uint64) {
            constexpr FromPropertyRules::IntegerLimits limits = FromPropertyRules::LimitsOf(kKind);
            if constexpr (std::is_signed_v<T>) {
                destination =
                    static_cast<T>(FromPropertyRules::Signed(status, input, name, limits));
            } else {
                destination =
                    static_cast<T>(FromPropertyRules::Unsigned(status, input, name, limits));
            }
        } else if constexpr (kKind == FieldKind::Float || kKind == FieldKind::Double) {
            destination = static_cast<T>(
                FromPropertyRules::Floating(status, input, name, kKind == FieldKind::Float));
        } else if constexpr (kKind == FieldKind::String) {
            FromPropertyRules::String(status, destination, input, name, registry);
        } else if constexpr (kKind == FieldKind::Object) {
            FromPropertyRules::Object(status, destination, input);
        } else if constexpr (kKind == FieldKind::Blob) {
            FromPropertyRules::Blob(status, destination, input, name);
        } else if constexpr (kKind == FieldKind::Enum) {
            FromPropertyRules::Enum(status, &destination, sizeof(T), input, name, type.descriptor);
        } else if constexpr (kKind == FieldKind::Callback) {
            destination.id = static_cast<std::uint32_t>(FromPropertyRules::Unsigned(
                status, input, name, FromPropertyRules::kCallbackLimits));
        } else if constexpr (kKind == FieldKind::Vector) {
            using Element = typename T::value_type;
            destination.clear();
            if (!FromPropertyRules::CheckCollection(status, input, name,
                                                    std::is_same_v<Element, bool>)) {
                return;
            }
            const std::span<const BindingProperty> elements = input.Elements();
            destination.resize(elements.size());
            for (std::size_t i = 0; i < elements.size() && status.IsSuccess(); ++i) {
                if (elements[i].IsEmpty()) {
                    continue; // keeps the element's initial value
                }
                if constexpr (std::is_same_v<Element, bool>) {
                    bool bit = false;
                    FromPropertyRules::Bool(status, bit, elements[i], name);
                    destination[i] = bit;
                } else {
                    BindingValueRules<Element>::From(status, destination[i], elements[i], name,
                                                     type, registry);
                }
            }
        } else if constexpr (kKind == FieldKind::Map) {
            using Element = typename T::mapped_type;
            destination.clear();
            if (!FromPropertyRules::CheckMap(status, input, name)) {
                return;
            }
            destination.reserve(input.Size());
            for (const auto member : input.Members()) {
                if (!status.IsSuccess()) {
                    return;
                }
                if (member.value.IsEmpty()) {
                    continue;
                }
                Element& slot = destination.try_emplace(std::string(member.name)).first->second;
                BindingValueRules<Element>::From(status, slot, member.value, name, type, registry);
            }
        } else {
            static_assert(kKind == FieldKind::Struct);
            FromPropertyRules::Struct(status, &destination, input, name, type.descriptor, registry);
        }
    }

    static void To(BindingResult& status, BindingProperty& target, const T& source,
                   std::string_view name, const BindingTypeRef& type,
                   const BindingRegistry& registry) {
        if (!status.IsSuccess()) {
            return;
        }
        if constexpr (IsNativeOptional<T>()) {
            if (!source.has_value()) {
                target.Clear();
                return;
            }
            BindingValueRules<typename T::value_type>::To(status, target, *source, name, type,
                                                          registry);
        } else if constexpr (kKind == FieldKind::Bool) {
            target.SetBool(source);
        } else if constexpr (kKind >= FieldKind::Int8 && kKind <= FieldKind::Uint64) {
            if constexpr (std::is_signed_v<T>) {
                target.SetSigned(static_cast<std::int64_t>(source));
            } else {
                target.SetUnsigned(static_cast<std::uint64_t>(source));
            }
        } else if constexpr (kKind == FieldKind::Float || kKind == FieldKind::Double) {
            target.SetFloat(static_cast<double>(source));
        } else if constexpr (kKind == FieldKind::String) {
            target.SetString(std::string_view(source));
        } else if constexpr (kKind == FieldKind::Object) {
            target = source;
        } else if constexpr (kKind == FieldKind::Blob) {
            target.SetBlob(source);
        } else if constexpr (kKind == FieldKind::Enum) {
            ToPropertyRules::Enum(status, target, &source, sizeof(T), name, type.descriptor);
        } else if constexpr (kKind == FieldKind::Callback) {
            target.SetUnsigned(source.id);
        } else if constexpr (kKind == FieldKind::Vector) {
            using Element = typename T::value_type;
            if (!ToPropertyRules::StartCollection(status, target, source.size(), name)) {
                return;
            }
            if constexpr (std::is_same_v<Element, bool>) {
                for (const bool bit : source) {
                    target.Append().SetBool(bit);
                }
            } else {
                for (const Element& element : source) {
                    BindingValueRules<Element>::To(status, target.Append(), element, name, type,
                                                   registry);
                    if (!status.IsSuccess()) {
                        return; // `target` may be gone: the status holds the error
                    }
                }
            }
        } else if constexpr (kKind == FieldKind::Map) {
            using Element = typename T::mapped_type;
            target.Clear();
            target.MakeStructure();
            for (const auto& [key, element] : source) {
                BindingValueRules<Element>::To(status, target.Member(key), element, name, type,
                                               registry);
                if (!status.IsSuccess()) {
                    return;
                }
            }
        } else {
            static_assert(kKind == FieldKind::Struct);
            ToPropertyRules::Struct(status, target, &source, type.descriptor, registry);
        }
    }
};

template <typename T>
struct BindingFieldRules {
    static void FromProperty(BindingResult& status, T& destination, const BindingProperty& input,
                             std::string_view fieldName, const BindingFieldDescriptor& field,
                             const BindingRegistry& registry) {
        BindingValueRules<T>::From(status, destination, input, fieldName, field.type, registry);
    }
    static void ToProperty(BindingResult& output, const T& source,
                           const BindingFieldDescriptor& field, const BindingRegistry& registry) {
        BindingValueRules<T>::To(output, output.value, source, field.name, field.type, registry);
    }
    static void ToPropertyInto(BindingResult& status, BindingProperty& target, const T& source,
                               const BindingFieldDescriptor& field,
                               const BindingRegistry& registry) {
        BindingValueRules<T>::To(status, target, source, field.name, field.type, registry);
    }
};

} // namespace Korvel
