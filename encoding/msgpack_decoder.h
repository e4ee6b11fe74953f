#pragma once

// MessagePack decoder: reads one MessagePack value from a byte range into a BindingProperty.
//
// Kinds: positive and negative fixint and int 8..64 give "signed"; uint 8..64 "unsigned"; float
// 32/64 "float"; nil leaves the target as it is ("empty" for a new element or member); true/false
// "bool"; str "string"; bin "blob"; array "collection"; map "structure" (keys must be strings).
// ext, fixext and 0xC1 are refused.
//
// Repeated map keys: a scalar replaces the earlier value; an array writes its elements over the
// existing ones from index 0 (extra existing elements stay); a map merges into the existing
// structure.
//
// Input that ends inside a container is not an error: the containers hold what was read. The
// decoder stops after the first complete value, so callers compare `bytesUsed` with the length to
// detect trailing data. Decoding is iterative; nesting is limited to
// DecodeLimits::kMaxNestingDepth levels and declared counts never drive allocation beyond what
// the remaining bytes can hold, nor, summed over all open arrays, beyond what the whole input can
// (see encoding/decode_limits.h).

#include <cstddef>
#include <cstdint>
#include <span>

#include "binding/binding_result.h"

namespace Korvel {

// Decodes `length` bytes at `data`. `bytesUsed` receives the position where decoding stopped
// (also on failure). An empty range gives a successful "empty" value and 0 bytes used.
BindingResult DecodeMessagePack(const void* data, std::size_t length, std::size_t& bytesUsed);

inline BindingResult DecodeMessagePack(std::span<const std::uint8_t> bytes,
                                       std::size_t& bytesUsed) {
    return DecodeMessagePack(bytes.data(), bytes.size(), bytesUsed);
}

} // namespace Korvel
