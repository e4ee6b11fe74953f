// FromHostValue on a HostValue tree built from the input, including the malformed records a host
// could pass: kind codes outside the table, null arrays with counts, texts whose stated length
// disagrees with their terminator, members without names, a collection that contains itself and
// deep chains. Every record only describes memory that exists, so any read beyond it is the
// converter's fault. A converted value must make the round trip through ToHostValue unchanged.
//
// Input, per node: a kind byte (low 4 bits: 0-10 the kinds, 11 a chain of nested collections,
// 12 a self-containing collection, 13-15 an unknown code; high bits: variations), then its data.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "binding/host_value_conversion.h"
#include "encoding/json_writer.h"
#include "support/fuzz_input.h"

namespace {

using namespace Korvel;

class TreeBuilder {
public:
    explicit TreeBuilder(Testing::FuzzInput& input) : input_(input) {}

    HostValue Node(int depth) {
        HostValue value;
        std::memset(&value, 0, sizeof value);
        const std::uint8_t head = input_.Byte();
        const std::uint8_t kind = head & 0x0f;
        const bool variant = (head & 0x10) != 0;
        if (depth > 64 && kind >= 9 && kind <= 12) {
            return value; // keeps the builder's own recursion shallow
        }
        switch (kind) {
        case 0:
            break;
        case 1:
            value.kind = 1;
            value.payload.boolean = input_.Byte();
            break;
        case 2:
        case 3:
        case 4:
            value.kind = kind;
            value.payload.unsignedValue = input_.Integer<std::uint64_t>();
            break;
        case 5:
        case 6:
            value.kind = kind;
            Text(value, variant, (head & 0x20) != 0);
            break;
        case 7:
        case 8: {
            value.kind = kind;
            const std::uint8_t length = input_.Byte();
            if (variant) {
                value.payload.bytes = {nullptr, length};
            } else {
                std::vector<std::uint8_t>& block = blocks_.emplace_back();
                const std::string bytes = input_.Take(length);
                block.assign(bytes.begin(), bytes.end());
                value.payload.bytes = {block.empty() ? nullptr : block.data(),
                                       static_cast<std::uint32_t>(block.size())};
            }
            break;
        }
        case 9: {
            value.kind = 9;
            const std::uint32_t count = input_.Byte() % 6u;
            if (variant) {
                value.payload.collection = {nullptr, count};
                break;
            }
            std::vector<HostValue>& items = items_.emplace_back(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                items[i] = Node(depth + 1);
            }
            value.payload.collection = {count == 0 ? nullptr : items.data(), count};
            break;
        }
        case 10: {
            value.kind = 10;
            const std::uint32_t count = input_.Byte() % 6u;
            if (variant) {
                value.payload.structure = {nullptr, count};
                break;
            }
            std::vector<HostValueMember>& members = members_.emplace_back(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint8_t nameHead = input_.Byte();
                const std::string& name = texts_.emplace_back(input_.Until('\n'));
                members[i].name = (nameHead & 1) != 0 ? nullptr : name.c_str();
                members[i].ownsName = static_cast<std::uint8_t>(nameHead >> 1);
                members[i].value = Node(depth + 1);
            }
            value.payload.structure = {count == 0 ? nullptr : members.data(), count};
            break;
        }
        case 11: {
            // A chain of single-element collections, up to 1020 deep, ending in a text.
            const std::size_t chainDepth = input_.Byte() * 4u;
            std::vector<HostValue>& chain = items_.emplace_back(chainDepth + 1);
            chain[chainDepth].kind = 5;
            chain[chainDepth].payload.text = {"end", 3};
            for (std::size_t i = chainDepth; i-- > 0;) {
                chain[i].kind = 9;
                chain[i].payload.collection = {&chain[i + 1], 1};
            }
            value = chain[0];
            break;
        }
        case 12: {
            // A collection whose one element is the collection itself.
            std::vector<HostValue>& self = items_.emplace_back(1);
            self[0].kind = 9;
            self[0].payload.collection = {self.data(), 1};
            value = self[0];
            break;
        }
        default:
            value.kind = static_cast<std::uint32_t>(11 + input_.Integer<std::uint16_t>());
            value.payload.unsignedValue = input_.Integer<std::uint64_t>();
            break;
        }
        return value;
    }

private:
    // A NUL-terminated text, as every host text is. Its stated length is not used by the
    // conversion, so `wrongLength` states one that disagrees with the text. `nullData` states the
    // length without any text.
    void Text(HostValue& value, bool nullData, bool wrongLength) {
        const std::string content = input_.Until('\n');
        const auto length = static_cast<std::uint32_t>(content.size());
        if (nullData) {
            value.payload.text = {nullptr, length};
            return;
        }
        std::vector<std::uint8_t>& buffer = blocks_.emplace_back(content.begin(), content.end());
        buffer.push_back(0);
        value.payload.text = {reinterpret_cast<const char*>(buffer.data()),
                              wrongLength ? length / 2 + 3 : length};
    }

    Testing::FuzzInput& input_;
    std::deque<std::vector<std::uint8_t>> blocks_;
    std::deque<std::vector<HostValue>> items_;
    std::deque<std::vector<HostValueMember>> members_;
    std::deque<std::string> texts_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Testing::FuzzInput input(data, size);
    TreeBuilder builder(input);
    const HostValue source = builder.Node(0);

    HostValueResult error;
    BindingProperty target;
    const bool converted = FromHostValue(error, target, source, "<result>");
    KORVEL_FUZZ_CHECK(converted == !error.failed);
    if (!converted) {
        KORVEL_FUZZ_CHECK(std::strlen(error.Message()) > 0);
        return 0;
    }
    // The library's own tree converts back to the same value.
    HostValue copy;
    std::memset(&copy, 0, sizeof copy);
    ToHostValue(copy, target, nullptr);
    HostValueResult againError;
    BindingProperty again;
    KORVEL_FUZZ_CHECK(FromHostValue(againError, again, copy, "<result>"));
    // JSON text compares NaN payloads too.
    KORVEL_FUZZ_CHECK(WriteJson(again) == WriteJson(target));
    ReleaseHostValue(copy);
    KORVEL_FUZZ_CHECK(copy.kind == 0);
    return 0;
}
