#include "support/tree_text.h"

#include <cstdio>

namespace Korvel::Testing {

std::string QuotedText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FloatText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%a", value);
    return buffer;
}

std::string TreeText(const BindingProperty& value) {
    switch (value.Kind()) {
    case BindingKind::Empty:
        return "~";
    case BindingKind::Bool:
        return value.GetBool() ? "bool:true" : "bool:false";
    case BindingKind::Signed:
        return "signed:" + std::to_string(value.GetSigned());
    case BindingKind::Unsigned:
        return "unsigned:" + std::to_string(value.GetUnsigned());
    case BindingKind::Float:
        return "float:" + FloatText(value.GetFloat());
    case BindingKind::String:
        return "string:" + QuotedText(value.GetString());
    case BindingKind::Collection: {
        std::string out = "[";
        for (const BindingProperty& element : value.Elements()) {
            out += TreeText(element) + ", ";
        }
        return out + "]";
    }
    case BindingKind::Structure: {
        std::string out = "{";
        std::string last;
        bool first = true;
        for (const auto member : value.Members()) {
            // std::string compares bytes as unsigned, as the tree orders its names.
            if (!first && !(last < member.name)) {
                out += "OUT OF ORDER ";
            }
            out += QuotedText(member.name) + ": " + TreeText(member.value) + ", ";
            last = member.name;
            first = false;
        }
        return out + "}";
    }
    default:
        return std::string("kind:") + KindName(value.Kind());
    }
}

} // namespace Korvel::Testing
