#pragma once

// Which FieldKind a native C++ type has, decided at compile time. Used by the builder's AddField
// and by anything that declares parameters or return values of native types.
//
//   bool -> "bool"; integers by width and signedness -> "int8" ... "uint64"; float; double;
//   std::string -> "string"; Korvel::BindingProperty -> "object";
//   std::vector<std::uint8_t> -> "blob"; any other std::vector<E> -> "vector" of E's kind;
//   enumerations -> "enum"; Korvel::BindingCallback -> "callback";
//   std::unordered_map<std::string, E> -> "map" of E's kind; other classes -> "struct".
//   std::optional<T> has T's kind and sets the optional attribute.

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/binding_type_descriptor.h"
#include "binding/static_type_id.h"

namespace Korvel {

// A handle of a callback passed through the binding system; converted only by its field
// converter.
struct BindingCallback {
    std::uint32_t id = 0;
    bool operator==(const BindingCallback&) const = default;
};

namespace BindingNativeDetail {

template <typename T>
struct VectorOf : std::false_type {};
template <typename E>
struct VectorOf<std::vector<E>> : std::true_type {
    using Element = E;
};

template <typename T>
struct StringMapOf : std::false_type {};
template <typename E>
struct StringMapOf<std::unordered_map<std::string, E>> : std::true_type {
    using Element = E;
};

template <typename T>
struct OptionalOf : std::false_type {
    using Value = T;
};
template <typename T>
struct OptionalOf<std::optional<T>> : std::true_type {
    using Value = T;
};

} // namespace BindingNativeDetail

template <typename T>
constexpr FieldKind NativeFieldKind() noexcept {
    using V = typename BindingNativeDetail::OptionalOf<std::remove_cv_t<T>>::Value;
    if constexpr (std::is_same_v<V, bool>) {
        return FieldKind::Bool;
    } else if constexpr (std::is_integral_v<V>) {
        constexpr bool isSigned = std::is_signed_v<V>;
        if constexpr (sizeof(V) == 1) {
            return isSigned ? FieldKind::Int8 : FieldKind::Uint8;
        } else if constexpr (sizeof(V) == 2) {
            return isSigned ? FieldKind::Int16 : FieldKind::Uint16;
        } else if constexpr (sizeof(V) == 4) {
            return isSigned ? FieldKind::Int32 : FieldKind::Uint32;
        } else {
            static_assert(sizeof(V) == 8, "unsupported integer width");
            return isSigned ? FieldKind::Int64 : FieldKind::Uint64;
        }
    } else if constexpr (std::is_same_v<V, float>) {
        return FieldKind::Float;
    } else if constexpr (std::is_same_v<V, double>) {
        return FieldKind::Double;
    } else if constexpr (std::is_same_v<V, std::string>) {
        return FieldKind::String;
    } else if constexpr (std::is_same_v<V, BindingProperty>) {
        return FieldKind::Object;
    } else if constexpr (std::is_same_v<V, std::vector<std::uint8_t>>) {
        return FieldKind::Blob;
    } else if constexpr (BindingNativeDetail::VectorOf<V>::value) {
        return FieldKind::Vector;
    } else if constexpr (std::is_enum_v<V>) {
        return FieldKind::Enum;
    } else if constexpr (std::is_same_v<V, BindingCallback>) {
        return FieldKind::Callback;
    } else if constexpr (BindingNativeDetail::StringMapOf<V>::value) {
        return FieldKind::Map;
    } else {
        static_assert(std::is_class_v<V>, "no field kind for this native type");
        return FieldKind::Struct;
    }
}

// The element kind of a vector or map type, None for every other type.
template <typename T>
constexpr FieldKind NativeElementKind() noexcept {
    using V = typename BindingNativeDetail::OptionalOf<std::remove_cv_t<T>>::Value;
    if constexpr (NativeFieldKind<V>() == FieldKind::Vector) {
        return NativeFieldKind<typename BindingNativeDetail::VectorOf<V>::Element>();
    } else if constexpr (NativeFieldKind<V>() == FieldKind::Map) {
        return NativeFieldKind<typename BindingNativeDetail::StringMapOf<V>::Element>();
    } else {
        return FieldKind::None;
    }
}

template <typename T>
struct NativeDescribedType;

namespace BindingNativeDetail {

// The described type of an optional-free type V of field kind `kind`.
template <typename V, FieldKind kind = NativeFieldKind<V>()>
struct DescribedOf {
    using Type = void;
};
template <typename V>
struct DescribedOf<V, FieldKind::Struct> {
    using Type = V;
};
template <typename V>
struct DescribedOf<V, FieldKind::Enum> {
    using Type = V;
};
template <typename V>
struct DescribedOf<V, FieldKind::Vector> {
    using Type = typename NativeDescribedType<typename VectorOf<V>::Element>::Type;
};
template <typename V>
struct DescribedOf<V, FieldKind::Map> {
    using Type = typename NativeDescribedType<typename StringMapOf<V>::Element>::Type;
};

} // namespace BindingNativeDetail

// The type whose descriptor a field of type T refers to: T itself for a struct or enum, and for
// a vector or map the described type of its elements, through any depth of vectors, maps and
// optionals (a vector of vectors of records refers to the record); void when there is none.
// Element conversions pass the field's type reference on unchanged, so the descriptor must be the
// one the innermost elements need.
template <typename T>
struct NativeDescribedType {
    using Type = typename BindingNativeDetail::DescribedOf<
        typename BindingNativeDetail::OptionalOf<std::remove_cv_t<T>>::Value>::Type;
};

template <typename T>
constexpr bool IsNativeOptional() noexcept {
    return BindingNativeDetail::OptionalOf<std::remove_cv_t<T>>::value;
}

template <typename T>
struct StaticTypeSpelling<std::optional<T>> {
    static constexpr std::string_view keyword = "class";
    static constexpr std::string_view name =
        StaticTypeDetail::FullSpelling<T>::value.ends_with('>')
            ? StaticTypeDetail::JoinedText<StaticTypeDetail::kOptionalOpen,
                                           StaticTypeDetail::FullSpelling<T>::value,
                                           StaticTypeDetail::kSpacedCloseOne>::value
            : StaticTypeDetail::JoinedText<StaticTypeDetail::kOptionalOpen,
                                           StaticTypeDetail::FullSpelling<T>::value,
                                           StaticTypeDetail::kCloseOne>::value;
};

} // namespace Korvel

KORVEL_STATIC_TYPE(struct, Korvel::BindingCallback)
