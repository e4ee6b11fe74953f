#pragma once

// YAML reader: reads one YAML document into a BindingProperty, on libyaml's event parser.
//
// Mappings give structures (keys must be string scalars), sequences collections, scalars follow
// the rules of encoding/yaml_scalar.h. Anchors and aliases are supported: an alias copies the
// anchored value (an anchored mapping key copies as its text); aliases to a node that is still
// open, to an unknown anchor, and anchors defined twice are errors.
//
// Repeated mapping keys: a scalar replaces the earlier value, a sequence appends to an earlier
// sequence, a mapping merges into an earlier mapping.
//
// Messages carry 1-based line and column ("At line: 3 col: 5"), except libyaml's own parse
// errors, reported as "YAML parser error: <problem>. At line: <l> col: <c>" with libyaml's 0-based
// position. Only one document is accepted ("Multi-document YAML is not supported."). Nesting,
// the values that aliases copy included, is limited to DecodeLimits::kMaxNestingDepth levels,
// alias copies to DecodeLimits::kMaxAliasCopiedNodes nodes and DecodeLimits::kMaxAliasCopiedBytes
// bytes of text, and the walks of aliases to their anchors to DecodeLimits::kMaxAliasPathBytes
// (see encoding/decode_limits.h).

#include <cstddef>
#include <string_view>

#include "binding/binding_result.h"

namespace Korvel {

// Reads `length` bytes of UTF-8 text. An empty text gives a successful "empty" value.
BindingResult ReadYaml(const char* text, std::size_t length);

inline BindingResult ReadYaml(std::string_view text) {
    return ReadYaml(text.data(), text.size());
}

} // namespace Korvel
