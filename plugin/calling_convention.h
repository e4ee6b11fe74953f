#pragma once

// Calling convention of every function that crosses the boundary between the
// host and the plug-in. The host interface is defined for 32-bit Windows,
// where the C calling convention must be named explicitly because a compiler
// may be set to another default; elsewhere there is only one convention.
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define KORVEL_CDECL __cdecl
#else
#define KORVEL_CDECL
#endif

#include <cstdint>

// True in a build with 4-byte pointers, the word size of the production host.
// The records of the host interface are checked against their fixed 32-bit
// layouts in such a build.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define KORVEL_ABI_32 1
#else
#define KORVEL_ABI_32 0
#endif
