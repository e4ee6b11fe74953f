#pragma once

// Scalar rules of the YAML reader: the word tables, the explicit tags it understands and the
// conversion of a scalar's text into a BindingProperty.

#include <cstddef>
#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Korvel::YamlScalar {

inline constexpr const char* kStringTag = "tag:yaml.org,2002:str";
inline constexpr const char* kIntTag = "tag:yaml.org,2002:int";
inline constexpr const char* kFloatTag = "tag:yaml.org,2002:float";
inline constexpr const char* kBoolTag = "tag:yaml.org,2002:bool";

// Exact, case-sensitive matches of the whole text.
// true: true True TRUE y Y yes Yes YES on On ON
bool IsTrueWord(std::string_view text) noexcept;
// false: false False FALSE n N no No NO off Off OFF
bool IsFalseWord(std::string_view text) noexcept;
// null: the empty text, ~ null Null NULL
bool IsNullWord(std::string_view text) noexcept;

// Converts a scalar into `target`. `tag` is the scalar's explicit tag or null; `text` must be
// followed by a zero byte (text[length] == 0), as libyaml's scalar values are; `quoted` is set for
// single- and double-quoted scalars.
//
//   !!str        a "string".
//   !!int        text starting with '-' as a 64-bit signed number ("signed"), any other text as a
//                64-bit unsigned number ("unsigned"); decimal, 0x hexadecimal or 0 octal.
//   !!float      a double ("float"); decimal or hexadecimal floating-point text.
//   !!bool       a true or false word gives "bool"; other text leaves the target unchanged.
//   other tags   fail with "Unsupported YAML tag '<tag>'.".
//   quoted       a "string".
//   plain        a null word makes the target "empty"; a text that reads wholly as a finite
//                number gives "float" when it has a fractional part (or is not a number), else
//                "unsigned" when zero or positive and "signed" when negative; a true or false
//                word gives "bool"; anything else a "string".
//
// Returns false and sets `message` when the scalar cannot be converted; the target is then left
// as it was.
bool ConvertScalar(BindingProperty& target, const char* tag, const char* text, std::size_t length,
                   bool quoted, std::string& message);

} // namespace Korvel::YamlScalar
