#pragma once

#include "plugin/calling_convention.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Korvel {

// Kind codes of a HostValue.
enum class HostValueKind : uint32_t {
    Empty = 0,
    Bool = 1,
    Signed = 2,
    Unsigned = 3,
    Float = 4,
    BorrowedText = 5, // text owned by someone else
    OwnedText = 6,    // text owned by the record
    BorrowedBytes = 7,
    OwnedBytes = 8,
    Collection = 9, // array of HostValue, owned by the record
    Structure = 10, // array of HostValueMember, owned by the record
};

struct HostValue;
struct HostValueMember;

// The records below are packed to one byte, so that their layout is the same
// with every compiler and a HostValue may sit at any offset inside a packed
// record (HostValueMember, HostResourceResponse).
#pragma pack(push, 1)

// Text payload: pointer to NUL-terminated text, then its length in bytes.
struct HostValueText {
    const char* data;
    uint32_t length;
};

// Byte-block payload: pointer, then length in bytes.
struct HostValueBytes {
    const uint8_t* data;
    uint32_t length;
};

struct HostValueCollection {
    HostValue* items;
    uint32_t count;
};

struct HostValueStructure {
    HostValueMember* members;
    uint32_t count;
};

// The host's plain tagged value (12 bytes in the 32-bit build):
//   0  u32      kind (HostValueKind)
//   4  8 bytes  payload, interpreted by kind:
//               Bool: first byte; Signed: i64; Unsigned: u64; Float: f64;
//               texts: pointer + u32 length; byte blocks: pointer + u32 length;
//               Collection: HostValue array + u32 count;
//               Structure: HostValueMember array + u32 count.
struct HostValue {
    uint32_t kind;
    union Payload {
        uint8_t boolean;
        int64_t signedValue;
        uint64_t unsignedValue;
        double floatValue;
        HostValueText text;
        HostValueBytes bytes;
        HostValueCollection collection;
        HostValueStructure structure;
    } payload;
};

// Member of a Structure HostValue (17 bytes in the 32-bit build, entries of
// an array follow each other without gaps):
//   0   pointer  member name, NUL-terminated
//   4   12 bytes the member's HostValue
//   16  u8       1 when the entry owns the name text, 0 when it is borrowed
struct HostValueMember {
    const char* name;
    HostValue value;
    uint8_t ownsName;
};

#pragma pack(pop)

#if KORVEL_ABI_32
static_assert(sizeof(HostValue) == 12);
static_assert(offsetof(HostValue, kind) == 0);
static_assert(offsetof(HostValue, payload) == 4);
static_assert(sizeof(HostValueText) == 8);
static_assert(sizeof(HostValueMember) == 17);
static_assert(offsetof(HostValueMember, name) == 0);
static_assert(offsetof(HostValueMember, value) == 4);
static_assert(offsetof(HostValueMember, ownsName) == 16);
#endif

// An empty HostValue (kind 0, zero payload).
inline HostValue MakeEmptyHostValue() {
    HostValue value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

} // namespace Korvel
