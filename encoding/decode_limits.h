#pragma once

// Limits on what untrusted input can make the library do. Every decoder and converter that takes
// input from outside reads its limits from here only, so that they agree: a value one reader
// accepts is never refused by the next step for a limit of its own.
//
//   kMaxNestingDepth        levels of collections and structures: the JSON, MessagePack and YAML
//                           readers, the host value conversion (FromHostValue), the record
//                           converters (ToProperty / FromProperty), the segments of a dotted
//                           argument key in a request, and the development host's JSON values
//   kMaxAliasCopiedNodes    nodes that YAML aliases may copy into one document
//   kMaxAliasCopiedBytes    bytes of text (strings and member names) that YAML aliases may copy
//   kMaxAliasPathBytes      bytes of anchor paths that YAML aliases may follow to their anchors
//   kMaxSharedCopiedNodes   values that the shared arrays of one host value may expand to
//   kMaxSharedCopiedBytes   bytes that the shared byte blocks and texts of one host value may
//                           expand to
//   kMaxCollectionElements  elements of one collection (the value model's own limit)
//   kMaxElementGap          empty elements one indexed write may add to reach its index
//   kMaxDottedKeyIndex      the largest collection index a dotted argument key may address
//   kMaxDottedKeyElements   collection elements the dotted keys of one request may add together
//   kMinEncodedItemBytes    declared counts and lengths of binary input are never trusted for
//                           allocation (see ReservableElements)
//
// Each limit ends bad input with a clear error instead of exhausting the stack or memory.

#include <cstddef>
#include <cstdint>

namespace Korvel::DecodeLimits {

// Deepest nesting of collections and structures accepted; the outermost container is level 1.
// Real documents (status documents, request bodies) nest fewer than ten levels. The decoders keep
// their open containers on the heap, but code that walks a decoded tree recursively (writers,
// record converters) must stay far from the stack limit of a host thread, so the limit is kept
// modest. It also ends a host value whose arrays refer back to themselves.
inline constexpr std::size_t kMaxNestingDepth = 512;

// Most value nodes (scalars and containers, each counted once) that YAML aliases may copy into
// one document, summed over all aliases. An alias copies the whole anchored subtree, so aliases of
// aliases grow a document exponentially ("billion laughs"); this stops such a document after a
// few megabytes of copies. Documents that reuse anchored defaults stay far below it.
inline constexpr std::uint64_t kMaxAliasCopiedNodes = 100000;

// Most bytes of text (string values, member names, anchored key texts) that YAML aliases may copy
// into one document, summed over all aliases. A few nodes can carry a long text, and every copy of
// it is paid for again by whatever reads the tree (a writer prints it, a record conversion copies
// it): without this bound, thousands of aliases of one anchored megabyte would pass the node
// limit and expand to gigabytes.
inline constexpr std::uint64_t kMaxAliasCopiedBytes = std::uint64_t{1} << 24;

// Most bytes of anchor paths that YAML aliases may follow, summed over all aliases. An alias finds
// its anchored value by walking from the root again (the tree's storage moves while it grows, so
// no address is kept); each step costs kAliasPathStepBytes plus the bytes of its member name,
// about what looking it up compares. Without this bound, tens of thousands of aliases of a value
// hundreds of levels deep under long keys would keep the reader busy for many seconds. A document
// within the node limit passes as long as its aliases' paths average under 670 bytes.
inline constexpr std::uint64_t kMaxAliasPathBytes = std::uint64_t{1} << 26;
inline constexpr std::uint64_t kAliasPathStepBytes = 16;

// Most values (FromHostValue) converted from host arrays that the conversion has already entered
// once, summed over one host value. A host value is a graph of pointers: entries that point at one
// array are each converted in full, so a few dozen arrays that each hold the next one twice
// describe billions of values. Arrays met for the first time cost only what the host holds. The
// conversion starts noting arrays once a host value has passed about a million values, so the
// values a host usually passes pay nothing for the check.
inline constexpr std::uint64_t kMaxSharedCopiedNodes = kMaxAliasCopiedNodes;

// Most bytes (FromHostValue) copied from host byte blocks that the conversion has already copied
// once, and from texts inside arrays it has already entered, summed over one host value. Thousands
// of entries that point at one large byte block would otherwise each get a copy of it.
inline constexpr std::uint64_t kMaxSharedCopiedBytes = kMaxAliasCopiedBytes;

// Largest element count of one collection; an element beyond it is an error. It is the value
// model's own collection limit (BindingProperty::kMaxElements is this constant).
inline constexpr std::size_t kMaxCollectionElements = 268435455;

// Most "empty" elements one write to a collection index may append to reach that index. An index
// further beyond the end is refused like one beyond kMaxCollectionElements: one short input would
// otherwise make the tree allocate and fill hundreds of megabytes.
inline constexpr std::size_t kMaxElementGap = std::size_t{1} << 24;

// Largest collection index a dotted argument key ("tags.3=x") may address. Such an index grows
// the collection to hold it; real requests address a handful. Larger indices fail with
// "Index %1 is out of range".
inline constexpr std::uint32_t kMaxDottedKeyIndex = 65535;

// Most collection elements the dotted keys of one request may add, all keys together. One index
// is bounded above, but nested keys ("list.65535.65535...") or many keys would multiply that
// bound; an index whose growth exceeds what is left fails with "Index %1 is out of range" too.
inline constexpr std::size_t kMaxDottedKeyElements = std::size_t{kMaxDottedKeyIndex} + 1;

// Fewest encoded bytes an element of a binary container needs (a MessagePack nil or fixint is one
// byte). A declared element count is never trusted for allocation: a decoder reserves at most
// (remaining bytes / kMinEncodedItemBytes) elements, so a few bytes that declare 4 294 967 295
// elements allocate nothing in proportion to the declaration. Declared string and byte lengths
// are checked against the remaining bytes before anything is allocated.
inline constexpr std::size_t kMinEncodedItemBytes = 1;

static_assert(kMaxDottedKeyIndex < kMaxCollectionElements);
static_assert(kMaxElementGap < kMaxCollectionElements);

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
