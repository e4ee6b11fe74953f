#pragma once

// Conversion between JSON documents (nlohmann::json) and the host's HostValue records.
//
// The host builds HostValue trees for what it hands the plug-in (data-store entries, event
// payloads, arguments) and reads the trees the plug-in hands back (published events, function
// results). Trees the host builds live in a HostValueArena, which owns every array and text of
// them until the arena goes.

#include "encoding/decode_limits.h"
#include "plugin/host_value.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace Korvel::VelHost {

using Json = nlohmann::json;

// Deepest nesting of arrays and objects converted in either direction. Deeper input is refused
// instead of exhausting the stack.
inline constexpr std::size_t kMaxValueDepth = DecodeLimits::kMaxNestingDepth;

// Owns the storage of HostValue trees built from JSON.
class HostValueArena {
public:
    HostValueArena() = default;
    HostValueArena(const HostValueArena&) = delete;
    HostValueArena& operator=(const HostValueArena&) = delete;

    // Builds a tree for the document:
    //   null -> 0 empty, bool -> 1, negative integer -> 2 signed, other integer -> 3 unsigned,
    //   number with a fraction or exponent -> 4 float, string -> 5 text (borrowed from the
    //   arena), array -> 9 collection, object -> 10 structure (member names borrowed).
    // Throws std::invalid_argument for a document nested deeper than kMaxValueDepth.
    HostValue Build(const Json& document);

private:
    HostValue BuildLevel(const Json& document, std::size_t depth);
    const char* KeepText(const std::string& text);

    std::deque<std::string> texts_;
    std::deque<std::vector<HostValue>> collections_;
    std::deque<std::vector<HostValueMember>> structures_;
};

// Reads a tree the plug-in built:
//   0 -> null, 1 -> bool, 2 / 3 -> integer, 4 -> number (null when not finite), 5 / 6 -> string
//   (null pointer -> ""), 7 / 8 -> string of the base64 text of the bytes, 9 -> array,
//   10 -> object (a repeated member name keeps the later value), any other kind -> null.
// Deeper than kMaxValueDepth, the rest of the tree reads as null.
Json ReadHostValue(const HostValue& value);

// Base64 text (standard alphabet, with padding) of a byte block.
std::string EncodeBase64(const unsigned char* bytes, std::size_t length);

// Compact JSON text; invalid UTF-8 in strings is replaced, never thrown about.
std::string DumpCompact(const Json& document);
// Pretty JSON text with an indent of 4 spaces.
std::string DumpPretty(const Json& document);

} // namespace Korvel::VelHost
