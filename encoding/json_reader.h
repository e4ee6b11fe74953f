#pragma once

// Reads JSON text into a BindingProperty with RapidJSON's SAX reader (default flags: no comments,
// no trailing commas, no NaN or Infinity, one root value with whitespace around it).
//
//   null    leaves the target unchanged (a new member or element stays "empty")
//   true / false                       "bool"
//   integer with a minus sign           "signed"   ("-0" is signed 0)
//   integer without one                 "unsigned"
//   fraction, exponent, or an integer beyond 64 bits   "float"
//   string  "string", decoded to UTF-8 and cut at its first zero byte (an escaped \u0000)
//   array / object                      "collection" / "structure"
//
// A key that repeats in one object addresses the same member again: a scalar replaces the
// earlier value, null keeps it, an object merges into an earlier structure and an array appends
// to an earlier collection. Invalid UTF-8 is not checked: its bytes are kept as they are.
//
// On failure the result's flag is clear and its value is {"error": "Error: %s at offset %u."}
// with the English text of the reader's error code (see JsonParseErrorText) and the byte offset
// where the reader stopped. An empty text, or one of blanks only, is not a failure: it reads as
// an "empty" value.
//
// When memory runs out the result fails with "Error: Not enough memory to hold the decoded value
// at offset %u." (or with no message at all when even that cannot be held); no exception leaves.
//
// Nesting is limited to DecodeLimits::kMaxNestingDepth levels of arrays and objects (the outermost
// is level 1); a deeper document fails with "Error: The document is nested deeper than 512
// levels at offset %u." instead of exhausting the stack.

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_result.h"

namespace Korvel {

// Reads a NUL-terminated text.
BindingResult ReadJson(const char* text);
// Reads a text held with a length, up to its first zero byte.
BindingResult ReadJson(std::string_view text);
// A string's length is known, so its text need not be measured again; it too ends at its first
// zero byte.
inline BindingResult ReadJson(const std::string& text) {
    return ReadJson(std::string_view(text));
}

// The reader's English text for a RapidJSON parse error code: 0 "No error." ... 17 "Unspecific
// syntax error."; any other code "Unknown error.".
const char* JsonParseErrorText(std::uint32_t code) noexcept;

} // namespace Korvel
