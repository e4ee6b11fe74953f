// JSON: reads the input, writes it compact and pretty, reads both again and checks that every
// reading writes the same compact text. A refused input must carry the reader's message form.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Korvel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const BindingResult first = ReadJson(text);
    if (!first.IsSuccess()) {
        const std::string error = first.GetError();
        KORVEL_FUZZ_CHECK(error.rfind("Error: ", 0) == 0);
        KORVEL_FUZZ_CHECK(error.find(" at offset ") != std::string::npos);
        return 0;
    }
    const std::string compact = WriteJson(first.value);
    const std::string pretty = WriteJson(first.value, nullptr, "\n");
    KORVEL_FUZZ_CHECK(compact.find('\n') == std::string::npos);

    const BindingResult fromCompact = ReadJson(compact);
    KORVEL_FUZZ_CHECK(fromCompact.IsSuccess());
    KORVEL_FUZZ_CHECK(WriteJson(fromCompact.value) == compact);
    // A second reading of written text gives the same value, not only the same text.
    KORVEL_FUZZ_CHECK(ReadJson(WriteJson(fromCompact.value)).value == fromCompact.value);

    const BindingResult fromPretty = ReadJson(pretty);
    KORVEL_FUZZ_CHECK(fromPretty.IsSuccess());
    KORVEL_FUZZ_CHECK(WriteJson(fromPretty.value) == compact);
    KORVEL_FUZZ_CHECK(WriteJson(fromPretty.value, nullptr, "\r\n").size() >= compact.size());
    return 0;
}
