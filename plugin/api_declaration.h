#pragma once

#include "plugin/calling_convention.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

// Entry records of the declaration; the remoting layer defines their packed
// layouts.
struct ApiFunctionEntry;
struct ApiTypeEntry;
struct ApiEventEntry;

// The declaration of everything the plug-in's binding API exposes, handed to
// the host through the descriptor (24 bytes in the 32-bit build):
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
#endif

} // namespace Korvel
