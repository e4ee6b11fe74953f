#pragma once

// Argument binding: the values of a bound function's parameters, collected from a request's
// headers, path placeholders, query string, the host's argument list and body.
//
// Each parameter gets one BindingProperty in the argument list. Texts from headers, path
// placeholders and the query string are assigned by key: the key names a parameter, optionally
// followed by dotted segments that address members ("a.b") and elements ("list.2") inside it.
// A value text given for a whole parameter is decoded: JSON, YAML or MessagePack when its content
// type says so, or (for object, vector and struct parameters) when it looks like one;
// otherwise it stays a string and the parameter's converter reads it at preparation.
//
// Every failure is reported into a BindingResult with the message the host receives; steps test
// the result first, so the first failure is the one kept (the body step excepted, see
// function_call.h).

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "binding/binding_property.h"
#include "binding/binding_result.h"
#include "encoding/decode_limits.h"
#include "remoting/argument_location.h"

namespace Korvel {

// The elements the dotted keys of one call may still add.
struct DottedKeyBudget {
    std::size_t remainingElements = DecodeLimits::kMaxDottedKeyElements;
};

// Text values by name (header values, path captures, query values). Ordered by name, so that the
// entries of one source are applied in a fixed order.
using ArgumentTexts = std::map<std::string, std::string, std::less<>>;

// The declared location code of a parameter. A code outside the table is kept as it is: such a
// parameter takes values from no header, path or query source.
ArgumentLocation ParameterLocation(const BindingParameterDescriptor& parameter) noexcept;

// Index of the parameter named `name` (exact, byte for byte), or the parameter count.
std::size_t FindParameter(const BindingFunctionDescriptor& function, std::string_view name);

// A new argument list: one "empty" value per parameter, except that a required "bool" parameter
// starts as false.
std::vector<BindingProperty> InitialArguments(const BindingFunctionDescriptor& function);

// The query values of a request path: the text after the first "?", split at every "&" (empty
// pieces included), each piece split at its first "=" into key and value, both URL-decoded. A
// piece without "=" has the empty value; a later duplicate key replaces the earlier one.
ArgumentTexts ParseQuery(std::string_view path);

// Assigns a value text under a key coming from `source` (header, path or query). Fails with
// "Unknown argument '%1' for '%2'." when the key's first segment names no parameter, and with
// "Argument '%1' for '%2' was specified in an invalid location." when the parameter declares
// another location. Returns false when the result has failed (also when it had before).
// Collection indices of a dotted key spend `budget`; the overload without one gives the key a
// budget of its own.
bool AssignByKey(BindingResult& result, std::vector<BindingProperty>& arguments,
                 const BindingFunctionDescriptor& function, std::string_view key,
                 std::string_view value, ArgumentLocation source, DottedKeyBudget& budget);
bool AssignByKey(BindingResult& result, std::vector<BindingProperty>& arguments,
                 const BindingFunctionDescriptor& function, std::string_view key,
                 std::string_view value, ArgumentLocation source);

// Assigns a value text to a whole parameter: a non-empty text is decoded (DecodeTextValue with
// no content type; sniffing for object, vector and struct parameters); the empty text gives
// true for "bool", an empty structure for "object" and "struct", an empty collection for
// "vector", and fails with "Expected value for argument '%1'." for any other kind (a map
// included: its text is left to its converter, like a scalar's).
void AssignValueText(BindingResult& result, BindingProperty& argument,
                     const BindingFunctionDescriptor& function,
                     const BindingParameterDescriptor& parameter, std::string_view text);

// Decodes one value text into `target` by content type (prefixes compared without regard to
// case), or by sniffing when `sniff` is set and the content type is empty:
//   "application/x-msgpack...", or a first byte 0x80-0x9F / 0xDC-0xDF   MessagePack
//   "application/json...", or "{" / "[" after leading spaces             JSON
//   "text/x-yaml...", or "---" after leading spaces                      YAML
//   "application/octet-stream..."                                        a blob of the bytes
//   anything else                                                        a string of the text
// A decoding failure fails the result with "Couldn't deserialize <format> value for parameter
// '%1' of '%2': %3" (parameter, function, decoder message).
void DecodeTextValue(BindingResult& result, BindingProperty& target,
                     const BindingFunctionDescriptor& function,
                     const BindingParameterDescriptor& parameter, std::string_view text,
                     std::string_view contentType, bool sniff);

// Decodes a request body into the first parameter declared for the body; a function without one
// ignores the body. The content type selects the reader: JSON and YAML read the text up to its
// first zero byte, MessagePack the whole byte range, which must hold exactly one value ("Extra
// MessgePack data found in body"); any other type fails with "Unsupported body content type".
// A decoder failure fails with the decoder's message. Unlike the other steps this one runs after
// an earlier failure too; its own failure then replaces the earlier message.
void DecodeBody(BindingResult& result, std::vector<BindingProperty>& arguments,
                const BindingFunctionDescriptor& function, std::string_view contentType,
                std::span<const std::uint8_t> body);

} // namespace Korvel
