#pragma once

#include "plugin/calling_convention.h"
#include "plugin/function_request_records.h"

#include <cstddef>
#include <cstdint>

// The API declaration: everything the plug-in's binding API exposes (its functions with their
// routes and entry points, its types and its events), handed to the host through the descriptor
// at load time. The remoting layer builds it from the type registry (see
// remoting/api_declaration_builder.h); the plug-in object keeps it, and every text and array it
// points to, until the plug-in is shut down. The host only reads it.
//
// All records are packed to one byte; in the 32-bit build pointers are 4 bytes wide and the
// offsets below hold. Texts are NUL-terminated and never null (the empty text stands for none);
// an array with a count of 0 is null. Every array is also chained: the first field of an entry
// points to the next entry of the same array, and the last entry's chain pointer is null.
//
// Type references are three fields: kind and element kind (type codes 1 "bool" to 19 "map" of the
// binding system, 0 for anything else; the element kind is set for vectors and maps) and a type
// name (for kinds 15 vector, 16 enum, 17 struct and 19 map the name of the registered type or
// element type, otherwise the empty text).
namespace Korvel {

#pragma pack(push, 1)

// Argument (parameter) of a function (25 bytes):
//    0  pointer  next entry
//    4  pointer  name
//    8  pointer  description
//   12  i32      type kind
//   16  i32      element kind
//   20  pointer  type name
//   24  u8       optional flag
struct ApiArgumentEntry {
    const ApiArgumentEntry* next;
    const char* name;
    const char* description;
    int32_t kind;
    int32_t elementKind;
    const char* typeName;
    uint8_t optional;
};

// Where one argument is taken from in a request (8 bytes): next entry, then the location code
// (1 query, 2 path placeholder, 4 header, 5 body; 0 any source). One entry per argument, in
// argument order.
struct ApiArgumentLocationEntry {
    const ApiArgumentLocationEntry* next;
    int32_t location;
};

// A list of texts (12 bytes): next entry, array of text pointers, count.
struct ApiTextListEntry {
    const ApiTextListEntry* next;
    const char* const* texts;
    uint32_t count;
};

// A declared function (90 bytes):
//    0  pointer  next entry
//    4  u32      zero
//    8  pointer  user data: the (registry, function) pair the entry point receives back through
//                the request record (HostFunctionRequest::userData)
//   12  pointer  name
//   16  pointer  namespace
//   20  pointer  arguments (array of ApiArgumentEntry)
//   24  u32      argument count
//   28  i32      return type kind
//   32  i32      return element kind
//   36  pointer  return type name
//   40  pointer  description
//   44  pointer  help text
//   48  u8       thread-safe flag
//   49  pointer  asynchronous result type name (the empty text unless the function is async)
//   53  pointer  tags (array of text pointers)
//   57  u32      tag count
//   61  pointer  entry point (HostFunctionEntryPoint)
//   65  pointer  argument locations (array of ApiArgumentLocationEntry, one per argument)
//   69  pointer  route path (the empty text when the function is reached by name only)
//   73  u32      method (HttpMethod 1 to 8; 0 accepts any method)
//   77  u8       route flag byte
//   78  pointer  text lists of the route (array of ApiTextListEntry)
//   82  u32      count of text lists
//   86  pointer  method name for the custom method 8 (the empty text otherwise)
struct ApiFunctionEntry {
    const ApiFunctionEntry* next;
    uint32_t zero;
    const void* userData;
    const char* name;
    const char* nameSpace;
    const ApiArgumentEntry* arguments;
    uint32_t argumentCount;
    int32_t returnKind;
    int32_t returnElementKind;
    const char* returnTypeName;
    const char* description;
    const char* help;
    uint8_t threadSafe;
    const char* asyncResultType;
    const char* const* tags;
    uint32_t tagCount;
    HostFunctionEntryPoint entryPoint;
    const ApiArgumentLocationEntry* argumentLocations;
    const char* path;
    uint32_t method;
    uint8_t routeFlag;
    const ApiTextListEntry* textLists;
    uint32_t textListCount;
    const char* methodText;
};

// Field of a struct type (29 bytes):
//    0  pointer  next entry
//    4  pointer  name
//    8  pointer  description
//   12  u32      byte offset inside the native record
//   16  i32      type kind
//   20  i32      element kind
//   24  pointer  type name
//   28  u8       optional flag
struct ApiFieldEntry {
    const ApiFieldEntry* next;
    const char* name;
    const char* description;
    uint32_t offset;
    int32_t kind;
    int32_t elementKind;
    const char* typeName;
    uint8_t optional;
};

// Enumerator of an enumeration type (16 bytes): next, name, description, value. Enumerators are
// listed in name order.
struct ApiEnumValueEntry {
    const ApiEnumValueEntry* next;
    const char* name;
    const char* description;
    int32_t value;
};

// A registered type (40 bytes):
//    0  pointer  next entry
//    4  pointer  name
//    8  pointer  namespace
//   12  u32      native size in bytes
//   16  pointer  description
//   20  pointer  tags (array of text pointers)
//   24  u32      tag count
//   28  pointer  fields (array of ApiFieldEntry; structs only, else null)
//   32  pointer  enumerators (array of ApiEnumValueEntry; enumerations only, else null)
//   36  u32      count of fields or enumerators
struct ApiTypeEntry {
    const ApiTypeEntry* next;
    const char* name;
    const char* nameSpace;
    uint32_t size;
    const char* description;
    const char* const* tags;
    uint32_t tagCount;
    const ApiFieldEntry* fields;
    const ApiEnumValueEntry* values;
    uint32_t memberCount;
};

// A registered event (28 bytes): next, name, namespace, data type name, description, tags (array
// of text pointers), tag count.
struct ApiEventEntry {
    const ApiEventEntry* next;
    const char* name;
    const char* nameSpace;
    const char* dataTypeName;
    const char* description;
    const char* const* tags;
    uint32_t tagCount;
};

#pragma pack(pop)

// The declaration itself (24 bytes in the 32-bit build):
//    0  pointer  function entries
//    4  u32      function count
//    8  pointer  type entries
//   12  u32      type count
//   16  pointer  event entries
//   20  u32      event count
struct ApiDeclaration {
    const ApiFunctionEntry* functions;
    uint32_t functionCount;
    const ApiTypeEntry* types;
    uint32_t typeCount;
    const ApiEventEntry* events;
    uint32_t eventCount;
};

#if KORVEL_ABI_32
static_assert(sizeof(ApiDeclaration) == 24);
static_assert(offsetof(ApiDeclaration, functions) == 0);
static_assert(offsetof(ApiDeclaration, functionCount) == 4);
static_assert(offsetof(ApiDeclaration, types) == 8);
static_assert(offsetof(ApiDeclaration, typeCount) == 12);
static_assert(offsetof(ApiDeclaration, events) == 16);
static_assert(offsetof(ApiDeclaration, eventCount) == 20);

static_assert(sizeof(ApiArgumentEntry) == 25);
static_assert(offsetof(ApiArgumentEntry, name) == 4);
static_assert(offsetof(ApiArgumentEntry, description) == 8);
static_assert(offsetof(ApiArgumentEntry, kind) == 12);
static_assert(offsetof(ApiArgumentEntry, elementKind) == 16);
static_assert(offsetof(ApiArgumentEntry, typeName) == 20);
static_assert(offsetof(ApiArgumentEntry, optional) == 24);

static_assert(sizeof(ApiArgumentLocationEntry) == 8);
static_assert(offsetof(ApiArgumentLocationEntry, location) == 4);
static_assert(sizeof(ApiTextListEntry) == 12);
static_assert(offsetof(ApiTextListEntry, texts) == 4);
static_assert(offsetof(ApiTextListEntry, count) == 8);

static_assert(sizeof(ApiFunctionEntry) == 90);
static_assert(offsetof(ApiFunctionEntry, zero) == 4);
static_assert(offsetof(ApiFunctionEntry, userData) == 8);
static_assert(offsetof(ApiFunctionEntry, name) == 12);
static_assert(offsetof(ApiFunctionEntry, nameSpace) == 16);
static_assert(offsetof(ApiFunctionEntry, arguments) == 20);
static_assert(offsetof(ApiFunctionEntry, argumentCount) == 24);
static_assert(offsetof(ApiFunctionEntry, returnKind) == 28);
static_assert(offsetof(ApiFunctionEntry, returnElementKind) == 32);
static_assert(offsetof(ApiFunctionEntry, returnTypeName) == 36);
static_assert(offsetof(ApiFunctionEntry, description) == 40);
static_assert(offsetof(ApiFunctionEntry, help) == 44);
static_assert(offsetof(ApiFunctionEntry, threadSafe) == 48);
static_assert(offsetof(ApiFunctionEntry, asyncResultType) == 49);
static_assert(offsetof(ApiFunctionEntry, tags) == 53);
static_assert(offsetof(ApiFunctionEntry, tagCount) == 57);
static_assert(offsetof(ApiFunctionEntry, entryPoint) == 61);
static_assert(offsetof(ApiFunctionEntry, argumentLocations) == 65);
static_assert(offsetof(ApiFunctionEntry, path) == 69);
static_assert(offsetof(ApiFunctionEntry, method) == 73);
static_assert(offsetof(ApiFunctionEntry, routeFlag) == 77);
static_assert(offsetof(ApiFunctionEntry, textLists) == 78);
static_assert(offsetof(ApiFunctionEntry, textListCount) == 82);
static_assert(offsetof(ApiFunctionEntry, methodText) == 86);

static_assert(sizeof(ApiFieldEntry) == 29);
static_assert(offsetof(ApiFieldEntry, name) == 4);
static_assert(offsetof(ApiFieldEntry, description) == 8);
static_assert(offsetof(ApiFieldEntry, offset) == 12);
static_assert(offsetof(ApiFieldEntry, kind) == 16);
static_assert(offsetof(ApiFieldEntry, elementKind) == 20);
static_assert(offsetof(ApiFieldEntry, typeName) == 24);
static_assert(offsetof(ApiFieldEntry, optional) == 28);

static_assert(sizeof(ApiEnumValueEntry) == 16);
static_assert(offsetof(ApiEnumValueEntry, name) == 4);
static_assert(offsetof(ApiEnumValueEntry, description) == 8);
static_assert(offsetof(ApiEnumValueEntry, value) == 12);

static_assert(sizeof(ApiTypeEntry) == 40);
static_assert(offsetof(ApiTypeEntry, name) == 4);
static_assert(offsetof(ApiTypeEntry, nameSpace) == 8);
static_assert(offsetof(ApiTypeEntry, size) == 12);
static_assert(offsetof(ApiTypeEntry, description) == 16);
static_assert(offsetof(ApiTypeEntry, tags) == 20);
static_assert(offsetof(ApiTypeEntry, tagCount) == 24);
static_assert(offsetof(ApiTypeEntry, fields) == 28);
static_assert(offsetof(ApiTypeEntry, values) == 32);
static_assert(offsetof(ApiTypeEntry, memberCount) == 36);

static_assert(sizeof(ApiEventEntry) == 28);
static_assert(offsetof(ApiEventEntry, name) == 4);
static_assert(offsetof(ApiEventEntry, nameSpace) == 8);
static_assert(offsetof(ApiEventEntry, dataTypeName) == 12);
static_assert(offsetof(ApiEventEntry, description) == 16);
static_assert(offsetof(ApiEventEntry, tags) == 20);
static_assert(offsetof(ApiEventEntry, tagCount) == 24);
#endif

} // namespace Korvel
