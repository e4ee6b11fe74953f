// FormatMessage: a fuzzed template with up to four fuzzed arguments of every argument type, into
// the full buffer and into a small one. The result must stay inside the buffer and be terminated
// where its length says.
//
// Input: one byte of argument count (low 2 bits + 1 when bit 2 is set, else none) and buffer
// size, then per argument a type byte and its value (texts up to a 0x1f byte), then the template.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/format_message.h"
#include "diagnostics/operation_result.h"
#include "support/fuzz_input.h"

namespace {

using namespace Korvel;

struct Arguments {
    std::deque<std::int32_t> int32s;
    std::deque<std::uint32_t> uint32s;
    std::deque<std::int64_t> int64s;
    std::deque<std::uint64_t> uint64s;
    std::deque<double> doubles;
    std::deque<char> chars;
    std::deque<std::string> texts;
    std::deque<const char*> cTexts;
    std::deque<std::string_view> views;
    std::deque<OperationResult> results;
    std::vector<FormatArgument> list;
};

void AddArgument(Arguments& arguments, Testing::FuzzInput& input) {
    const FormatArgumentType* type = nullptr;
    const void* value = nullptr;
    switch (input.Byte() % 10) {
    case 0:
        value = &arguments.int32s.emplace_back(input.Integer<std::int32_t>());
        type = &FormatTypes::kInt32;
        break;
    case 1:
        value = &arguments.uint32s.emplace_back(input.Integer<std::uint32_t>());
        type = &FormatTypes::kUInt32;
        break;
    case 2:
        value = &arguments.int64s.emplace_back(input.Integer<std::int64_t>());
        type = &FormatTypes::kInt64;
        break;
    case 3:
        value = &arguments.uint64s.emplace_back(input.Integer<std::uint64_t>());
        type = &FormatTypes::kUInt64;
        break;
    case 4:
        value = &arguments.doubles.emplace_back(input.Integer<double>());
        type = &FormatTypes::kDouble;
        break;
    case 5:
        value = &arguments.chars.emplace_back(static_cast<char>(input.Byte()));
        type = &FormatTypes::kChar;
        break;
    case 6:
        value =
            &arguments.cTexts.emplace_back(arguments.texts.emplace_back(input.Until(0x1f)).c_str());
        type = &FormatTypes::kCText;
        break;
    case 7:
        value = &arguments.texts.emplace_back(input.Until(0x1f));
        type = &FormatTypes::kString;
        break;
    case 8:
        value = &arguments.views.emplace_back(arguments.texts.emplace_back(input.Until(0x1f)));
        type = &FormatTypes::kStringView;
        break;
    default: {
        const std::int32_t code = input.Integer<std::int32_t>();
        const std::string message = input.Until(0x1f);
        value = &arguments.results.emplace_back(
            code == 0 ? OperationResult::Success() : OperationResult::Failure(code, message));
        type = &FormatTypes::kOperationResult;
        break;
    }
    }
    arguments.list.push_back({value, type});
}

void Check(const char* tmpl, const Arguments& arguments, std::size_t size) {
    std::vector<char> buffer(size + 1, '\x7f');
    const std::size_t length = FormatMessageInto(buffer.data(), size, tmpl, arguments.list.data(),
                                                 static_cast<int>(arguments.list.size()));
    KORVEL_FUZZ_CHECK(length < size);
    KORVEL_FUZZ_CHECK(buffer[length] == '\0');
    // Nothing is written beyond the buffer's size.
    KORVEL_FUZZ_CHECK(buffer[size] == '\x7f');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Testing::FuzzInput input(data, size);
    const std::uint8_t head = input.Byte();
    const std::size_t count = (head & 4) != 0 ? (head & 3) + 1u : 0u;
    const std::size_t smallSize = 1u + (head >> 3);
    Arguments arguments;
    for (std::size_t i = 0; i < count; ++i) {
        AddArgument(arguments, input);
    }
    const std::string tmpl = input.Rest();
    Check(tmpl.c_str(), arguments, kFormatMessageBufferSize);
    Check(tmpl.c_str(), arguments, smallSize);
    if (count == 2 && arguments.list[0].type == &FormatTypes::kInt32 &&
        arguments.list[1].type == &FormatTypes::kString) {
        // The template interface normalises and formats the same way.
        const std::string viaTemplate =
            FormatMessage(tmpl.c_str(), *static_cast<const std::int32_t*>(arguments.list[0].value),
                          *static_cast<const std::string*>(arguments.list[1].value));
        KORVEL_FUZZ_CHECK(viaTemplate.size() < kFormatMessageBufferSize);
    }
    return 0;
}
