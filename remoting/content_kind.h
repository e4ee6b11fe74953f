#pragma once

#include <cstdint>
#include <string_view>

namespace Korvel {

// Kind of a request body, and of the body a response announces to the host.
enum class ContentKind : std::uint32_t {
    Other = 0,
    Json = 1,
    Yaml = 2,
    MessagePack = 3,
};

// Content-type prefixes, compared without regard to case so that parameters after the type
// ("; charset=utf-8") do not matter.
inline constexpr std::string_view kMessagePackContentType = "application/x-msgpack";
inline constexpr std::string_view kJsonContentType = "application/json";
inline constexpr std::string_view kJsonApiContentType = "application/vnd.api+json";
inline constexpr std::string_view kYamlBodyContentType = "application/x-yaml";
inline constexpr std::string_view kYamlValueContentType = "text/x-yaml";
inline constexpr std::string_view kOctetStreamContentType = "application/octet-stream";

// Whether `text` starts with `prefix`, ASCII letters compared without regard to case.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept;

// The kind of a request body from its content type: "application/x-msgpack..." MessagePack;
// "application/json..." or "application/vnd.api+json..." JSON; "application/x-yaml..." YAML;
// anything else Other.
ContentKind ClassifyBodyContentType(std::string_view contentType) noexcept;

// A response's content kind as the host receives it: 1 to 3 are kept, anything else is Other.
ContentKind ContentKindForHost(std::uint32_t code) noexcept;

} // namespace Korvel
