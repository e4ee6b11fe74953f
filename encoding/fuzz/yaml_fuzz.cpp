// YAML: reads the input as one document; a success must give a value the JSON writer writes as
// valid JSON that reads back to the same text, a failure a message.

#include <cstddef>
#include <cstdint>
#include <string>

#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "encoding/yaml_reader.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Korvel;
    const BindingResult result = ReadYaml(reinterpret_cast<const char*>(data), size);
    if (!result.IsSuccess()) {
        KORVEL_FUZZ_CHECK(!result.GetError().empty());
        return 0;
    }
    const std::string json = WriteJson(result.value);
    const BindingResult back = ReadJson(json);
    KORVEL_FUZZ_CHECK(back.IsSuccess());
    // Texts with a zero byte are cut by the JSON reader, and a root NaN written as null reads
    // back as "empty"; everything else survives.
    if (json.find("\\u0000") == std::string::npos && json != "null") {
        KORVEL_FUZZ_CHECK(WriteJson(back.value) == json);
    }
    return 0;
}
