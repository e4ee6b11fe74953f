// A full remoting call: a fuzzed request record (method, path with query, headers, host
// arguments, content type and body) goes through the declared entry point of test-only bound
// functions, the way a host calls them; the response record is read, its body streamed and the
// record released.
//
// Input: a head of four bytes (method code, content-type choice, function choice, header and
// argument counts), the path up to a newline, each header as name and value lines, each host
// argument as a kind byte, a name line and a value line, a content type line when the choice
// asks for a fuzzed one, then the body.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "plugin/api_declaration.h"
#include "plugin/function_request_records.h"
#include "plugin/host_resource_records.h"
#include "remoting/function_dispatch.h"
#include "remoting/remoting_function.h"
#include "remoting/remoting_response.h"
#include "support/fuzz_input.h"
#include "support/host_values.h"

namespace Korvel::Client::FuzzCall {

enum class Mood : std::int32_t { Calm = 0, Angry = 1 };

struct Item {
    std::int32_t x = 0;
    std::string name;
    Mood mood = Mood::Calm;
    std::vector<double> weights;
};

} // namespace Korvel::Client::FuzzCall

KORVEL_STATIC_TYPE(enum, Korvel::Client::FuzzCall::Mood)
KORVEL_STATIC_TYPE(struct, Korvel::Client::FuzzCall::Item)

namespace {

using namespace Korvel;
using namespace Korvel::Client::FuzzCall;

struct Api {
    Api() {
        registry.Reinitialise();
        registry.RegisterEnum<Mood>("Mood").AddValue("Calm", 0).AddValue("Angry", 1);
        auto item = registry.RegisterStruct<Item>("Item");
        KORVEL_BINDING_FIELD(item, Item, x, "x", "", 0);
        KORVEL_BINDING_FIELD(item, Item, name, "name", "", 0);
        KORVEL_BINDING_FIELD(item, Item, mood, "mood", "", 0);
        KORVEL_BINDING_FIELD(item, Item, weights, "weights", "", 0);
        OperationResult result = RegisterRemotingFunction(
            registry, "Echo", "/items/{id}", HttpMethod::None,
            {{"verbose", ArgumentLocation::Query},
             {"count", ArgumentLocation::Any},
             {"id", ArgumentLocation::Path},
             {"token", ArgumentLocation::Header},
             {"item", ArgumentLocation::Any},
             {"tags", ArgumentLocation::Query},
             {"extra", ArgumentLocation::Any},
             {"payload", ArgumentLocation::Body}},
            [](const HttpBaseTransport::Request& request, bool verbose,
               std::optional<std::int32_t> count, std::string id, std::optional<std::string> token,
               std::optional<Item> item, std::optional<std::vector<std::string>> tags,
               BindingProperty extra, std::optional<Item> payload) {
                KORVEL_FUZZ_CHECK(request.arguments.size() == 8);
                Item answer = payload.value_or(item.value_or(Item{}));
                answer.name += id + token.value_or("") + (verbose ? "!" : "");
                answer.x = static_cast<std::int32_t>(static_cast<std::int64_t>(answer.x) +
                                                     count.value_or(0) % 1000);
                answer.weights.push_back(static_cast<double>(tags ? tags->size() : 0));
                answer.weights.push_back(static_cast<double>(extra.Size()));
                return answer;
            });
        KORVEL_FUZZ_CHECK(!result.failed);
        result = RegisterRemotingFunction(
            registry, "Store", "/store/{+rest}", HttpMethod::Put,
            {{"rest", ArgumentLocation::Path}, {"body", ArgumentLocation::Body}},
            [](RemotingResponse& response, std::string rest, BindingProperty body) {
                response.status = rest.empty() ? 204 : 200;
                response.headers = {{"x-rest", rest}};
                response.bodyStream = std::make_unique<BufferBodyStream>(rest + body.ToString());
                return body;
            });
        KORVEL_FUZZ_CHECK(!result.failed);
        result = RegisterRemotingFunction(
            registry, "Tagged", "/tagged", HttpMethod::Patch,
            {{"items", ArgumentLocation::Any}, {"moods", ArgumentLocation::Any}},
            [](std::optional<std::vector<Item>> list, std::optional<std::vector<Mood>> moods) {
                return static_cast<std::int64_t>((list ? list->size() : 0) +
                                                 (moods ? moods->size() : 0));
            });
        KORVEL_FUZZ_CHECK(!result.failed);
        declaration = BuildPluginApiDeclaration(registry);
        KORVEL_FUZZ_CHECK(declaration != nullptr);
        KORVEL_FUZZ_CHECK(declaration->Declaration().functionCount == 3);
    }

    BindingRegistry registry;
    std::unique_ptr<BuiltApiDeclaration> declaration;
};

Api& TheApi() {
    static Api api;
    return api;
}

const char* const kContentTypes[] = {
    nullptr,
    "application/json",
    "application/vnd.api+json; charset=utf-8",
    "application/x-yaml",
    "application/x-msgpack",
    "application/octet-stream",
    "text/x-yaml",
};

const char* const kArgumentNames[] = {"verbose", "count", "id",   "token", "item",
                                      "tags",    "extra", "rest", "body",  "moods"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Api& api = TheApi();
    Testing::FuzzInput input(data, size);
    const std::uint32_t method = input.Byte() % 10;
    const std::uint8_t contentChoice = input.Byte();
    const std::uint8_t functionChoice = input.Byte();
    const std::uint8_t counts = input.Byte();

    const std::string path = input.Until('\n');
    std::vector<std::string> headerTexts;
    const std::size_t headerCount = counts & 3u;
    for (std::size_t i = 0; i < 2 * headerCount; ++i) {
        headerTexts.push_back(input.Until('\n'));
    }
    std::vector<HostHeaderEntry> headers;
    for (std::size_t i = 0; i < headerCount; ++i) {
        headers.push_back({headerTexts[2 * i].c_str(), headerTexts[2 * i + 1].c_str()});
    }

    Testing::HostValueArena arena;
    std::vector<HostArgument> arguments;
    const std::size_t argumentCount = (counts >> 2) & 3u;
    for (std::size_t i = 0; i < argumentCount; ++i) {
        const std::uint8_t kind = input.Byte();
        const std::string name = input.Until('\n');
        const std::string text = input.Until('\n');
        HostArgument argument{};
        argument.name = (kind & 0x10) != 0 ? nullptr
                        : (kind & 0x20) != 0
                            ? arena.Keep(name)
                            : kArgumentNames[static_cast<std::size_t>(kind >> 6) * 3 % 10];
        HostValue value{};
        switch (kind & 0x0f) {
        case 0:
            value = arena.Signed(static_cast<std::int64_t>(std::hash<std::string>{}(text)));
            break;
        case 1:
            value = arena.Unsigned(text.size());
            break;
        case 2:
            value = arena.Raw(kind & 0x0f);
            break;
        case 3: {
            // Text as JSON when it is some, else as a text value.
            const Testing::Json json = Testing::Json::parse(text, nullptr, false);
            value = json.is_discarded() ? arena.Text(text) : arena.Build(json);
            break;
        }
        default:
            value = arena.Text(text);
            break;
        }
        std::memcpy(&argument.value, &value, sizeof value);
        arguments.push_back(argument);
    }

    const std::size_t choice = contentChoice % 8u;
    std::string fuzzedType;
    const char* contentType = nullptr;
    if (choice == 7) {
        fuzzedType = input.Until('\n');
        contentType = fuzzedType.c_str();
    } else {
        contentType = kContentTypes[choice];
    }
    const std::string body = input.Rest();

    HostFunctionRequest request;
    std::memset(&request, 0, sizeof request);
    request.method = method;
    request.methodText = (contentChoice & 0x80) != 0 ? "PURGE" : nullptr;
    request.path = path.c_str();
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<std::uint32_t>(headers.size());
    request.arguments = arguments.empty() ? nullptr : arguments.data();
    request.argumentCount = static_cast<std::uint32_t>(arguments.size());
    request.contentType = contentType;
    request.body = (contentChoice & 0x40) != 0 && body.empty()
                       ? nullptr
                       : reinterpret_cast<const std::uint8_t*>(body.data());
    request.bodyLength = static_cast<std::uint32_t>(body.size());
    request.token = functionChoice;

    const ApiDeclaration& declaration = api.declaration->Declaration();
    const ApiFunctionEntry& entry =
        declaration.functions[functionChoice % declaration.functionCount];
    request.userData = entry.userData;

    HostFunctionResponse response;
    std::memset(&response, 0, sizeof response);
    entry.entryPoint(&response, &request);

    // Read everything the record describes, as a host would.
    HostValue value;
    std::memcpy(&value, &response.value, sizeof value);
    (void)Testing::ReadHostValue(value);
    KORVEL_FUZZ_CHECK(response.statusText != nullptr);
    KORVEL_FUZZ_CHECK(response.headerCount == 0 || response.headers != nullptr);
    for (std::uint32_t i = 0; i < response.headerCount; ++i) {
        KORVEL_FUZZ_CHECK(response.headers[i].name != nullptr);
        KORVEL_FUZZ_CHECK(response.headers[i].value != nullptr);
        (void)std::strlen(response.headers[i].name);
        (void)std::strlen(response.headers[i].value);
    }
    if (response.bodyStream != nullptr) {
        KORVEL_FUZZ_CHECK(response.read != nullptr && response.releaseStream != nullptr);
        std::string streamed;
        char buffer[13];
        while (true) {
            std::uint32_t length = sizeof buffer;
            if (!response.read(response.bodyStream, response.bodyPosition, buffer, &length) ||
                length == 0) {
                break;
            }
            KORVEL_FUZZ_CHECK(length <= sizeof buffer);
            streamed.append(buffer, length);
            response.bodyPosition += length;
        }
        KORVEL_FUZZ_CHECK(streamed.size() == response.bodySize);
        response.releaseStream(response.bodyStream);
    }
    KORVEL_FUZZ_CHECK(response.release != nullptr);
    response.release(&response);
    return 0;
}
