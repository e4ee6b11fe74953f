// Base64: the input's bytes encode and decode back unchanged; the input read as text decodes
// leniently, and what it decodes to makes the same round trip.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/base64.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Korvel;
    const std::string encoded = Base64Encode(data, size);
    KORVEL_FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
    KORVEL_FUZZ_CHECK(IsBase64Text(encoded));
    const std::vector<std::uint8_t> decoded = Base64Decode(encoded);
    KORVEL_FUZZ_CHECK(decoded.size() == size);
    KORVEL_FUZZ_CHECK(size == 0 || std::equal(decoded.begin(), decoded.end(), data));

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> lenient = Base64Decode(text);
    KORVEL_FUZZ_CHECK(lenient.size() <= size * 3 / 4);
    KORVEL_FUZZ_CHECK(Base64Decode(Base64Encode(lenient)) == lenient);
    if (IsBase64Text(text) && size % 4 == 0 && text.find('=') == std::string_view::npos) {
        KORVEL_FUZZ_CHECK(Base64Encode(lenient) == text);
    }
    std::vector<std::uint8_t> appended = {0x5a};
    Base64DecodeAppend(text, appended);
    KORVEL_FUZZ_CHECK(appended.size() == lenient.size() + 1);
    KORVEL_FUZZ_CHECK(std::equal(lenient.begin(), lenient.end(), appended.begin() + 1));
    return 0;
}
