#pragma once

// Conversion between the host's HostValue records and BindingProperty trees, and the release of
// the HostValue trees the plug-in builds.
//
//   HostValue kind            BindingProperty          BindingProperty      HostValue kind
//   0 empty                   "empty"                  "empty"              0
//   1 bool (first byte)       "bool"                   "bool"               1
//   2 signed / 3 unsigned     "signed" / "unsigned"    "signed"/"unsigned"  2 / 3
//   4 float                   "float"                  "float"              4
//   5, 6 text                 "string" (up to NUL)     "string"             6, copied
//   7, 8 byte block           "blob" (copied)          "blob"               8, copied
//   9 collection              "collection"             "enum"               6 with the name, or 2
//   10 structure              "structure"              "collection"         9
//                                                      "structure"          10, names in order
//
// Everything ToHostValue allocates (texts, byte blocks, element and member arrays, member names)
// comes from the library's allocation entries, so that ReleaseHostValue, or a host that installs
// the allocation hooks, can free it. The walks keep their own stacks: deeply nested values do not
// exhaust the machine stack.
//
// Input from the host is checked before it is read: a kind code outside 0 to 10, a null array or
// text with a non-zero count, a member without a name and nesting deeper than
// DecodeLimits::kMaxNestingDepth (which also ends a host value whose arrays refer back to
// themselves) each end the conversion with a message instead of reading memory the record does not
// describe. Entries that point at an array or byte block met before are converted again in full,
// up to DecodeLimits::kMaxSharedCopiedNodes values and kMaxSharedCopiedBytes bytes of such copies
// per host value; beyond that the conversion ends with a message instead of expanding a small
// input into an enormous tree. Texts are read up to their terminator; their stated length is not
// used.

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"
#include "plugin/host_value.h"

namespace Korvel {

class BindingRegistry;

// The error output of FromHostValue.
struct HostValueResult {
    HostValueResult() noexcept;
    // Releases the value and frees the message.
    ~HostValueResult();
    HostValueResult(const HostValueResult&) = delete;
    HostValueResult& operator=(const HostValueResult&) = delete;

    // The message, or the empty text while there is none.
    const char* Message() const noexcept { return message != nullptr ? message : ""; }
    // Releases the value, frees the message and clears the flag.
    void Reset() noexcept;

    // Released and left empty on failure.
    HostValue value;
    // Text from DuplicateText, null until a failure.
    char* message = nullptr;
    bool failed = false;
};

// Converts `source` into `target`; `name` is the name used in messages (callers pass "<result>").
// Returns true on success. On failure `error` is released, carries the message and has its flag
// set; the part of the target built before the failure stays in the target. Running out of memory
// is such a failure ("Couldn't assign value to '%1' because there is not enough memory."); no
// exception leaves.
bool FromHostValue(HostValueResult& error, BindingProperty& target, const HostValue& source,
                   std::string_view name);

// Builds the HostValue of `source` into `target`, releasing what the target held first.
// Enumeration values travel as their enumerator's name when `registry` knows one. Throws
// std::bad_alloc, with the target released, only when memory is exhausted.
void ToHostValue(HostValue& target, const BindingProperty& source, const BindingRegistry* registry);

// Frees everything the record owns (owned texts and byte blocks, element and member arrays,
// owned member names, recursively) and leaves it empty: kind 0 with a zero payload.
void ReleaseHostValue(HostValue& record) noexcept;

} // namespace Korvel
