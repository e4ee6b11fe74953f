#include "remoting/url_decode.h"

namespace Korvel {

namespace {

// The value of a hexadecimal digit (either case); any other character counts as 16.
unsigned HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return 16;
}

} // namespace

std::string UrlDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
            continue;
        }
        if (c == '%') {
            if (i + 2 < text.size()) {
                const unsigned high = HexDigitValue(text[i + 1]);
                const unsigned low = HexDigitValue(text[i + 2]);
                decoded += static_cast<char>((high * 16 + low) & 0xFF);
                i += 2;
            }
            // A "%" cut off by the end of the text is dropped; what follows it is read normally.
            continue;
        }
        decoded += c;
    }
    return decoded;
}

} // namespace Korvel
