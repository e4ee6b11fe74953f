#pragma once

// Limits shared by the decoders (JSON, MessagePack, YAML). Each bounds what untrusted input can
// make a decoder do, so that bad input ends in a clear error instead of exhausting memory or the
// stack. Decoders read them from here only; a flat list of named constants.

#include <cstddef>
#include <cstdint>

namespace Korvel::DecodeLimits {

// Deepest nesting of collections and structures a decoder accepts; the outermost container is
// level 1. Real documents (status documents, request bodies) nest fewer than ten levels. The
// decoders themselves keep their open containers on the heap, but code that walks a decoded tree
// recursively (writers, converters, the host value conversion) must stay far from the stack
// limit of a host thread, so the limit is kept modest.
inline constexpr std::size_t kMaxNestingDepth = 512;

// Most value nodes (scalars and containers, each counted once) that YAML aliases may copy into
// one document, summed over all aliases. An alias copies the whole anchored subtree, so aliases of
// aliases grow a document exponentially ("billion laughs"); this stops such a document after a
// few megabytes of copies. Documents that reuse anchored defaults stay far below it.
inline constexpr std::uint64_t kMaxAliasCopiedNodes = 100000;

// Largest element count of one decoded collection; an element beyond it is an error. Equal to the
// value model's own collection limit (BindingProperty::kMaxElements).
inline constexpr std::size_t kMaxCollectionElements = 268435455;

// Fewest encoded bytes an element of a binary container needs (a MessagePack nil or fixint is one
// byte). A declared element count is never trusted for allocation: a decoder reserves at most
// (remaining bytes / kMinEncodedItemBytes) elements, so a few bytes that declare 4 294 967 295
// elements allocate nothing in proportion to the declaration. Declared string and byte lengths
// are checked against the remaining bytes before anything is allocated.
inline constexpr std::size_t kMinEncodedItemBytes = 1;

// The number of elements a decoder may reserve for a container that declares `declared` items
// when `remainingBytes` bytes of input are left.
constexpr std::size_t ReservableElements(std::uint64_t declared,
                                         std::size_t remainingBytes) noexcept {
    std::uint64_t count = remainingBytes / kMinEncodedItemBytes;
    if (declared < count) {
        count = declared;
    }
    if (count > kMaxCollectionElements) {
        count = kMaxCollectionElements;
    }
    return static_cast<std::size_t>(count);
}

} // namespace Korvel::DecodeLimits
