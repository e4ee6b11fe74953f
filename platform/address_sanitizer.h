#pragma once

// Defines KORVEL_ADDRESS_SANITIZER when the translation unit is built with AddressSanitizer.
// GCC announces the sanitizer with a macro of its own; Clang answers through __has_feature.

#if defined(__SANITIZE_ADDRESS__)
#define KORVEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEL_ADDRESS_SANITIZER 1
#endif
#endif
