#pragma once

// Writes a BindingProperty as JSON text with RapidJSON's Writer (compact) or PrettyWriter (pretty),
// driven by the binding visitor (BindingProperty::Accept).
//
//   "empty"      null when nested; the whole text is empty when the root is "empty"
//   "bool"       true / false
//   "signed", "unsigned"   decimal integer
//   "float"      the shortest decimal form that reads back to the same double; an integral value
//                keeps a fraction ("1.0"). NaN and infinities, which JSON cannot hold, are null.
//   "string"     JSON string of the full text
//   "blob"       JSON string of the base64 text of the bytes
//   "enum"       the enumerator's name as a string when a registry is given and the enumeration
//                has an enumerator of that value; otherwise the 32-bit value as an integer
//   "collection" array in index order; "structure" object in member (name) order
//
// Compact form: no whitespace at all, '{"a":1,"b":[true,null]}'. Pretty form: each member or
// element of a non-empty object or array on its own line, indented by 4 spaces per level, a key
// followed by ": ", empty objects and arrays as "{}" and "[]"; lines are joined by the given line
// separator with none after the last line.

#include <string>

#include "binding/binding_property.h"

namespace Korvel {

class BindingRegistry;

// `registry` (may be null) names enumerators; `lineSeparator` null or "" selects the compact
// form, any other text the pretty form with that separator (callers pass "\r\n" for log output).
// Throws std::bad_alloc, having given back what it took, when memory runs out: a text cut short
// is never returned.
std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry = nullptr,
                      const char* lineSeparator = nullptr);

} // namespace Korvel
