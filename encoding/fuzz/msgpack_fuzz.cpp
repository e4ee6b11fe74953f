// MessagePack: decodes the input; the decoder must stop inside the input, decode the bytes it
// used to the same value again, and give a value the JSON writer can write as valid JSON.

#include <cstddef>
#include <cstdint>
#include <string>

#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "encoding/msgpack_decoder.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Korvel;
    std::size_t used = 0;
    const BindingResult result = DecodeMessagePack(data, size, used);
    KORVEL_FUZZ_CHECK(used <= size);
    if (!result.IsSuccess()) {
        KORVEL_FUZZ_CHECK(!result.GetError().empty());
        return 0;
    }
    // JSON text stands in for the value: it compares NaN with NaN and blobs by their bytes.
    const std::string json = WriteJson(result.value);
    std::size_t usedAgain = 0;
    const BindingResult again = DecodeMessagePack(data, used, usedAgain);
    KORVEL_FUZZ_CHECK(again.IsSuccess());
    KORVEL_FUZZ_CHECK(usedAgain == used);
    KORVEL_FUZZ_CHECK(WriteJson(again.value) == json);
    KORVEL_FUZZ_CHECK(ReadJson(json).IsSuccess());
    KORVEL_FUZZ_CHECK(used > 0 || size == 0);
    return 0;
}
