#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "diagnostics/operation_result.h"

// Messages for people, built from templates with numbered placeholders:
// "%1", "%2", ... name the arguments, "%%" is a percent sign, and full printf
// conversions are accepted too, positional ("%1$08x") or sequential ("%s").
// Each argument travels with a table of operations for its type, so "%1"
// renders text as text, integers in decimal and an OperationResult as
// "Success" or "<message> (<code>)".
namespace Korvel {

// Longest conversion directive gathered from a template ("%", flags,
// width, precision, length modifier, letter); a longer one stops formatting.
inline constexpr std::size_t kMaxFormatDirectiveLength = 59;
// Size of the buffer FormatMessage formats into; results hold at most one
// character less.
inline constexpr std::size_t kFormatMessageBufferSize = 4096;

// What an argument type's render operation is given.
struct FormatRenderContext {
    char* output;     // where to write
    std::size_t room; // bytes left, including the one for the terminating NUL
    // The directive as gathered, NUL-terminated; render may rewrite it.
    // Room for kMaxFormatDirectiveLength characters plus modifier, letter and NUL.
    char* directive;
    std::size_t directiveLength;
    const char* acceptedConversions; // first letter is the default conversion
    const char* defaultModifier;     // "ll" for 64-bit integers, else ""
    const void* value;
    int32_t starValues[2]; // "*" width, then "*" precision, as taken
    int starCount;
};

struct FormatArgumentType {
    // Writes the value; returns the number of characters written.
    std::size_t (*render)(FormatRenderContext& context);
    // The value as a "*" width or precision; only called when intUsable.
    int32_t (*asInt)(const void* value);
    bool intUsable;
    const char* acceptedConversions;
    const char* defaultModifier;
};

struct FormatArgument {
    const void* value;
    const FormatArgumentType* type;
};

// The core routine: formats `tmpl` with `count` arguments into `buffer` of
// `size` bytes and NUL-terminates it (when size > 0). Returns the length
// written without the NUL. Never reports errors: an unusable placeholder
// ends the message there.
std::size_t FormatMessageInto(char* buffer, std::size_t size, const char* tmpl,
                              const FormatArgument* arguments, int count);

// Renders `text` (length bytes, need not be NUL-terminated) under the
// context's directive as a "%s" conversion. Types without a table of
// their own render through this.
std::size_t RenderFormatText(FormatRenderContext& context, const char* text, std::size_t length);

namespace FormatTypes {
extern const FormatArgumentType kInt32;
extern const FormatArgumentType kUInt32;
extern const FormatArgumentType kInt64;
extern const FormatArgumentType kUInt64;
extern const FormatArgumentType kDouble;
extern const FormatArgumentType kChar;
extern const FormatArgumentType kCText;
extern const FormatArgumentType kString;
extern const FormatArgumentType kStringView;
extern const FormatArgumentType kOperationResult;
} // namespace FormatTypes

// Maps an argument type to its table. Further types either specialise this
// or provide `std::string FormatArgumentText(const T&)` found by argument
// dependent lookup; such values are turned into text and rendered as "%s".
template <class T>
struct FormatArgumentTraits;

template <class T>
concept HasFormatArgumentText = requires(const T& value) {
    { FormatArgumentText(value) } -> std::convertible_to<std::string>;
};

namespace FormatDetail {

template <class T>
std::size_t RenderThroughText(FormatRenderContext& context) {
    const std::string text = FormatArgumentText(*static_cast<const T*>(context.value));
    return RenderFormatText(context, text.data(), text.size());
}

} // namespace FormatDetail

template <class T>
requires HasFormatArgumentText<T>
struct FormatArgumentTraits<T> {
    static constexpr FormatArgumentType kTable{&FormatDetail::RenderThroughText<T>, nullptr, false,
                                               "s", ""};
    static const FormatArgumentType* Type() { return &kTable; }
};

#define KORVEL_FORMAT_TRAITS(Type_, table_)                                                        \
    template <>                                                                                    \
    struct FormatArgumentTraits<Type_> {                                                           \
        static const FormatArgumentType* Type() { return &FormatTypes::table_; }                   \
    }
KORVEL_FORMAT_TRAITS(int32_t, kInt32);
KORVEL_FORMAT_TRAITS(uint32_t, kUInt32);
KORVEL_FORMAT_TRAITS(int64_t, kInt64);
KORVEL_FORMAT_TRAITS(uint64_t, kUInt64);
KORVEL_FORMAT_TRAITS(double, kDouble);
KORVEL_FORMAT_TRAITS(char, kChar);
KORVEL_FORMAT_TRAITS(const char*, kCText);
KORVEL_FORMAT_TRAITS(std::string, kString);
KORVEL_FORMAT_TRAITS(std::string_view, kStringView);
KORVEL_FORMAT_TRAITS(OperationResult, kOperationResult);
#undef KORVEL_FORMAT_TRAITS

namespace FormatDetail {

// Brings an argument to one of the types with a table: every integer to the
// 32- or 64-bit integer of its signedness (plain char stays a character,
// bool becomes 0 or 1), float to double, character arrays and char* to C
// text. Anything else is passed by reference unchanged.
template <class T>
decltype(auto) Normalize(const T& value) {
    if constexpr (HasFormatArgumentText<T>) {
        return (value);
    } else if constexpr (std::is_same_v<T, char>) {
        return value;
    } else if constexpr (std::is_same_v<T, bool>) {
        return static_cast<int32_t>(value ? 1 : 0);
    } else if constexpr (std::is_enum_v<T>) {
        return Normalize(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_integral_v<T>) {
        if constexpr (sizeof(T) <= 4) {
            if constexpr (std::is_signed_v<T>) {
                return static_cast<int32_t>(value);
            } else {
                return static_cast<uint32_t>(value);
            }
        } else if constexpr (std::is_signed_v<T>) {
            return static_cast<int64_t>(value);
        } else {
            return static_cast<uint64_t>(value);
        }
    } else if constexpr (std::is_floating_point_v<T>) {
        return static_cast<double>(value);
    } else if constexpr (std::is_array_v<T>) {
        static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>,
                      "only character arrays can be message arguments");
        return static_cast<const char*>(value);
    } else if constexpr (std::is_same_v<T, char*>) {
        return static_cast<const char*>(value);
    } else {
        return (value);
    }
}

template <class T>
FormatArgument MakeArgument(const T& normalized) {
    return FormatArgument{&normalized, FormatArgumentTraits<std::remove_cvref_t<T>>::Type()};
}

template <class... Normalized>
std::string FormatNormalized(const char* tmpl, const Normalized&... normalized) {
    const FormatArgument arguments[] = {MakeArgument(normalized)...,
                                        FormatArgument{nullptr, nullptr}};
    char buffer[kFormatMessageBufferSize];
    const std::size_t length = FormatMessageInto(buffer, sizeof buffer, tmpl, arguments,
                                                 static_cast<int>(sizeof...(Normalized)));
    return std::string(buffer, length);
}

} // namespace FormatDetail

// Formats `tmpl` with the given arguments (one to three in the library's
// messages; any count works). The result holds at most 4095 characters.
template <class... Args>
std::string FormatMessage(const char* tmpl, const Args&... args) {
    return FormatDetail::FormatNormalized(tmpl, FormatDetail::Normalize(args)...);
}

} // namespace Korvel
