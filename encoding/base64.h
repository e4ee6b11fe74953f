#pragma once

// Base64 with the standard alphabet of RFC 4648 and "=" padding.
//
// Decoding is lenient: it reads from the start and stops at the first "=" or at the first
// character outside the alphabet, ignoring the rest; a final partial group of k characters
// (k = 2 or 3) yields k - 1 bytes, a single trailing character yields none. Callers that must
// refuse bad text check it first with IsBase64Text.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Korvel {

std::string Base64Encode(const void* bytes, std::size_t length);
std::string Base64Encode(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> Base64Decode(std::string_view text);
// Appends the decoded bytes to `out`.
void Base64DecodeAppend(std::string_view text, std::vector<std::uint8_t>& out);

// True when every character is one of A-Z, a-z, 0-9, '+', '/' and '='.
bool IsBase64Text(std::string_view text) noexcept;

} // namespace Korvel
