#pragma once

// Descriptors of registered records and enumerations: the field kinds, the type reference of a
// field, the field and enumerator descriptors and the type descriptor. The registry
// (binding_registry.h) creates and owns them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/static_type_id.h"

namespace Korvel {

class BindingRegistry;
class BindingFieldConverter;
struct BindingTypeDescriptor;

// What a field holds. Codes and names are fixed; the names appear in conversion messages and in
// the help's type texts.
enum class FieldKind : std::uint32_t {
    None = 0,
    Bool = 1,      // "bool"      bool
    Int8 = 2,      // "int8"      signed 8-bit
    Uint8 = 3,     // "uint8"     unsigned 8-bit
    Int16 = 4,     // "int16"
    Uint16 = 5,    // "uint16"
    Int32 = 6,     // "int32"
    Uint32 = 7,    // "uint32"
    Int64 = 8,     // "int64"
    Uint64 = 9,    // "uint64"
    Float = 10,    // "float"     32-bit float
    Double = 11,   // "double"    64-bit float
    String = 12,   // "string"    std::string
    Object = 13,   // "object"    Korvel::BindingProperty held as is
    Blob = 14,     // "blob"      std::vector<std::uint8_t>
    Vector = 15,   // "vector"    std::vector<E>
    Enum = 16,     // "enum"      a registered enumeration
    Struct = 17,   // "struct"    a registered record
    Callback = 18, // "callback"  Korvel::BindingCallback
    Map = 19,      // "map"       std::unordered_map<std::string, E>
};

// "bool" ... "map"; the empty string for any other code.
const char* FieldKindName(FieldKind kind) noexcept;

// Field flags.
inline constexpr std::uint32_t kBindingOmitDefault = 1u << 0; // leave default values out
inline constexpr std::uint32_t kBindingRequired = 1u << 1;    // a missing member is an error

// What a field, parameter or return value holds: its kind, the element kind of a vector or map
// (None otherwise) and, for registered struct or enum types (or elements), their descriptor (null
// when none or when the type was not registered yet).
struct BindingTypeRef {
    FieldKind kind = FieldKind::None;
    FieldKind elementKind = FieldKind::None;
    const BindingTypeDescriptor* descriptor = nullptr;
};

struct BindingFieldDescriptor {
    BindingFieldDescriptor() = default;
    BindingFieldDescriptor(BindingFieldDescriptor&&) noexcept;
    BindingFieldDescriptor& operator=(BindingFieldDescriptor&&) noexcept;
    ~BindingFieldDescriptor();

    std::string name;                       // member name in every dynamic and wire form
    std::string description;                // for the help
    const StaticTypeId* identity = nullptr; // hash form of the field's native type
    std::uint32_t offset = 0;               // byte position inside the native record
    BindingTypeRef type;
    std::uint32_t flags = 0; // kBindingOmitDefault, kBindingRequired
    std::unique_ptr<BindingFieldConverter> converter;
    const BindingTypeDescriptor* owner = nullptr;
    bool optional = false; // the native field is a std::optional wrapper

    bool OmitDefault() const noexcept { return (flags & kBindingOmitDefault) != 0; }
    bool Required() const noexcept { return (flags & kBindingRequired) != 0; }
};

struct BindingEnumValue {
    std::int32_t value = 0;
    std::string name;
    std::string description;
    const BindingTypeDescriptor* owner = nullptr;
};

// Enumerators by name, in unsigned byte order.
using BindingEnumValueMap = std::map<std::string, BindingEnumValue, std::less<>>;

struct BindingTypeDescriptor {
    std::uint32_t size = 0; // native size; for an enum the width of its storage (1, 2, 4 or 8)
    bool isEnum = false;
    std::string name; // unique in the registry
    std::uint32_t hash = 0;
    const StaticTypeId* identity = nullptr; // hash form
    std::string nameSpace;
    std::string description;
    std::vector<std::string> tags;              // insertion order
    std::vector<BindingFieldDescriptor> fields; // structs; registration order
    BindingEnumValueMap values;                 // enums
    BindingRegistry* registry = nullptr;

    // The field of that name, or null.
    const BindingFieldDescriptor* FindField(std::string_view fieldName) const noexcept;
    // The enumerator of that name (exact, case-sensitive), or null.
    const BindingEnumValue* FindValue(std::string_view valueName) const noexcept;
    // The first enumerator in name order whose value equals `value`, or null.
    const BindingEnumValue* FindValue(std::int32_t value) const noexcept;
};

// True when some enumerator of the descriptor has the value.
bool IsEnumValue(const BindingTypeDescriptor& descriptor, std::int32_t value) noexcept;

} // namespace Korvel
