#pragma once

#include "plugin/host_value.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The test host's own HostValue handling: it builds the values it passes to a
// plug-in from JSON and reads the values a plug-in passes to it back as JSON,
// the way a host does, without any of the library's converters.
namespace Korvel::Testing {

// JSON with members kept in the order given, so that member order is visible.
using Json = nlohmann::ordered_json;

// Owns every HostValue tree it builds (texts, arrays, member names) until it
// is cleared or destroyed.
class HostValueArena {
public:
    HostValueArena() = default;
    HostValueArena(const HostValueArena&) = delete;
    HostValueArena& operator=(const HostValueArena&) = delete;

    // null -> 0 empty, bool -> 1, integer -> 2 signed (3 unsigned only above
    // the signed range), float -> 4, string -> 5 borrowed text, binary -> 7
    // borrowed bytes, array -> 9 collection, object -> 10 structure with
    // members in the given order and borrowed names. Use Unsigned() and
    // Structure() for an unsigned value of the signed range.
    HostValue Build(const Json& value);

    HostValue Signed(int64_t value);
    HostValue Unsigned(uint64_t value);
    HostValue Text(std::string_view text);
    // A value of any kind code with a zero payload (for codes outside 0-10).
    HostValue Raw(uint32_t kind);
    HostValue Collection(const std::vector<HostValue>& items);
    HostValue Structure(const std::vector<std::pair<std::string, HostValue>>& members);

    // A copy of the text that lives as long as the arena.
    const char* Keep(std::string_view text);

    void Clear();

private:
    std::deque<std::string> texts_;
    std::deque<std::vector<uint8_t>> blocks_;
    std::deque<std::unique_ptr<HostValue[]>> arrays_;
    std::deque<std::unique_ptr<HostValueMember[]>> memberArrays_;
};

// Reads a HostValue tree as JSON: kinds 2 and 3 become integers, 4 a float,
// texts strings, byte blocks binary values, 9 arrays and 10 objects in entry
// order (a repeated member name keeps its last value). A kind outside 0-10
// becomes {"$kind": code}. Null pointers with a non-zero count read as empty.
Json ReadHostValue(const HostValue& value);

// Kind code of each node, in the same shape: kinds of collection elements
// and structure members nested as arrays/objects of codes, e.g.
// {"$": 10, "a": 3, "b": {"$": 9, "items": [5, 5]}}.
Json ReadHostValueKinds(const HostValue& value);

} // namespace Korvel::Testing
