#include "remoting/content_kind.h"

namespace Korvel {

namespace {

char LowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

ContentKind ClassifyBodyContentType(std::string_view contentType) noexcept {
    if (StartsWithIgnoringCase(contentType, kMessagePackContentType)) {
        return ContentKind::MessagePack;
    }
    if (StartsWithIgnoringCase(contentType, kJsonContentType) ||
        StartsWithIgnoringCase(contentType, kJsonApiContentType)) {
        return ContentKind::Json;
    }
    if (StartsWithIgnoringCase(contentType, kYamlBodyContentType)) {
        return ContentKind::Yaml;
    }
    return ContentKind::Other;
}

ContentKind ContentKindForHost(std::uint32_t code) noexcept {
    switch (code) {
    case 1:
    case 2:
    case 3:
        return static_cast<ContentKind>(code);
    default:
        return ContentKind::Other;
    }
}

} // namespace Korvel
