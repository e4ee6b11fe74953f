#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "diagnostics/allocation.h"
#include "encoding/decode_limits.h"
#include "remoting/function_dispatch.h"
#include "remoting/remoting_function.h"
#include "support/function_caller.h"
#include "support/refused_allocations.h"

namespace Korvel::Client::CallTest {

enum class Mood : std::int32_t { Calm = 0, Angry = 1 };

struct Item {
    std::int32_t x = 0;
    std::string name;
    Mood mood = Mood::Calm;
};

} // namespace Korvel::Client::CallTest

KORVEL_STATIC_TYPE(enum, Korvel::Client::CallTest::Mood)
KORVEL_STATIC_TYPE(struct, Korvel::Client::CallTest::Item)

namespace Korvel {
namespace {

using namespace Client::CallTest;
using Testing::CallDeclaredFunction;
using Testing::CallEntryPoint;
using Testing::FunctionRequest;
using Testing::FunctionResponse;
using Testing::Json;

// What the bound test function received on its last call.
struct Received {
    int calls = 0;
    std::uint32_t token = 0;
    HttpMethod method = HttpMethod::None;
    std::string methodText;
    std::string path;
    std::size_t argumentCount = 0;
    std::unordered_map<std::string, std::string> headers;
    bool verbose = false;
    std::optional<std::int32_t> count;
    std::string id;
    std::optional<std::string> token_;
    std::optional<Item> item;
    std::optional<std::vector<std::string>> tags;
    BindingProperty extra;
    std::optional<Item> payload;
};

class FunctionCallTest : public ::testing::Test {
protected:
    FunctionCallTest() {
        registry_.Reinitialise();
        registry_.RegisterEnum<Mood>("Mood").AddValue("Calm", 0).AddValue("Angry", 1);
        auto item = registry_.RegisterStruct<Item>("Item");
        KORVEL_BINDING_FIELD(item, Item, x, "x", "", 0);
        KORVEL_BINDING_FIELD(item, Item, name, "name", "", 0);
        KORVEL_BINDING_FIELD(item, Item, mood, "mood", "", 0);

        // Parameters of every source and of the kinds binding treats differently.
        const OperationResult echo = RegisterRemotingFunction(
            registry_, "Echo", "/items/{id}", HttpMethod::None,
            {{"verbose", ArgumentLocation::Query},
             {"count", ArgumentLocation::Any},
             {"id", ArgumentLocation::Path},
             {"token", ArgumentLocation::Header},
             {"item", ArgumentLocation::Any},
             {"tags", ArgumentLocation::Query},
             {"extra", ArgumentLocation::Any},
             {"payload", ArgumentLocation::Body}},
            [this](const HttpBaseTransport::Request& request, bool verbose,
                   std::optional<std::int32_t> count, std::string id,
                   std::optional<std::string> token, std::optional<Item> item,
                   std::optional<std::vector<std::string>> tags, BindingProperty extra,
                   std::optional<Item> payload) {
                Received& r = received_;
                ++r.calls;
                r.token = request.token;
                r.method = request.method;
                r.methodText = request.methodText;
                r.path = request.path;
                r.argumentCount = request.arguments.size();
                r.headers = request.headers;
                r.verbose = verbose;
                r.count = count;
                r.id = id;
                r.token_ = token;
                r.item = item;
                r.tags = tags;
                r.extra = extra;
                r.payload = payload;
                return item.value_or(Item{});
            },
            {"Plugins", "Plugin test"});
        EXPECT_FALSE(echo.failed) << echo.ToString();

        // A GET function that fills every part of the response.
        const OperationResult respond = RegisterRemotingFunction(
            registry_, "Respond", "/respond", HttpMethod::Get, {{"status"}},
            [](RemotingResponse& response, std::int32_t status) {
                response.status = status;
                response.statusText = "Made";
                response.flag = 9;
                response.contentKind = static_cast<ContentKind>(status == 201 ? 2 : 7);
                response.headers = {{"x-one", "1"}, {"x-two", "2"}};
                response.bodyStream = std::make_unique<BufferBodyStream>(
                    std::string("body of the response, longer than one read"));
                return Item{3, "three", Mood::Angry};
            });
        EXPECT_FALSE(respond.failed) << respond.ToString();

        declaration_ = BuildPluginApiDeclaration(registry_);
    }

    const ApiFunctionEntry& Entry(const char* name) {
        const ApiFunctionEntry* entry =
            Testing::FindDeclaredFunction(declaration_->Declaration(), name);
        EXPECT_NE(entry, nullptr) << name;
        return *entry;
    }

    FunctionResponse Call(FunctionRequest request, const char* function = "Echo") {
        return CallDeclaredFunction(Entry(function), request);
    }

    BindingRegistry registry_;
    std::unique_ptr<BuiltApiDeclaration> declaration_;
    Testing::HostValueArena arena_;
    Received received_;
};

TEST_F(FunctionCallTest, ArgumentsFromEverySource) {
    FunctionRequest request;
    request.method = 6;
    request.path = "/items/a%20b?verbose&tags.1=second&item.name=n&item.x=4";
    request.headers = {{"token", "secret"}, {"x-other", "o"}, {"token", "later"}};
    request.arguments = {{"count", arena_.Signed(12)}, {"extra", arena_.Build(Json{{"k", "v"}})}};
    request.contentType = "application/json; charset=utf-8";
    request.body = R"({"x": 5, "name": "body", "mood": "Angry"})";
    request.token = 77;
    const FunctionResponse response = Call(request);

    ASSERT_EQ(received_.calls, 1) << response.value.dump();
    EXPECT_EQ(received_.token, 77u);
    EXPECT_EQ(received_.method, HttpMethod::Post);
    EXPECT_EQ(received_.path, request.path);
    EXPECT_EQ(received_.argumentCount, 8u);
    EXPECT_EQ(received_.headers.at("token"), "later");
    EXPECT_EQ(received_.headers.at("x-other"), "o");
    EXPECT_TRUE(received_.verbose);
    EXPECT_EQ(received_.count, 12);
    // The route is matched against the whole path: a simple placeholder stops only at "/", so
    // its capture runs on into the query part.
    EXPECT_EQ(received_.id, "a b?verbose&tags.1=second&item.name=n&item.x=4");
    EXPECT_EQ(received_.token_, "later");
    ASSERT_TRUE(received_.item.has_value());
    EXPECT_EQ(received_.item->x, 4);
    EXPECT_EQ(received_.item->name, "n");
    EXPECT_EQ(received_.tags, (std::vector<std::string>{"", "second"}));
    EXPECT_EQ(received_.extra.Member("k").GetString(), "v");
    ASSERT_TRUE(received_.payload.has_value());
    EXPECT_EQ(received_.payload->name, "body");
    EXPECT_EQ(received_.payload->mood, Mood::Angry);

    // The result is the item, its enumerator named through the registry.
    EXPECT_EQ(response.value, (Json{{"mood", "Calm"}, {"name", "n"}, {"x", 4}}));
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.statusText, "");
    EXPECT_TRUE(response.released);
}

TEST_F(FunctionCallTest, SourcesReplaceInOrderHeaderPathQuery) {
    // count (location 0) comes from a header, then the query replaces it.
    FunctionRequest request;
    request.path = "/items/x?count=3";
    request.headers = {{"count", "1"}};
    Call(request);
    ASSERT_EQ(received_.calls, 1);
    EXPECT_EQ(received_.count, 3);
    // Header names are compared as given: "Token" is not the lower-cased parameter name.
    request.path = "/items/x";
    request.headers = {{"Token", "t"}};
    Call(request);
    EXPECT_FALSE(received_.token_.has_value());
    // Unnamed host arguments count from the parameter after the path captures.
    request.headers.clear();
    request.arguments = {{std::nullopt, arena_.Signed(6)}, {std::nullopt, arena_.Text("z")}};
    const FunctionResponse response = Call(request);
    EXPECT_EQ(received_.calls, 3) << response.value.dump();
    EXPECT_EQ(received_.count, 6);
    EXPECT_EQ(received_.id, "z");
}

TEST_F(FunctionCallTest, QueryReplacesPathCaptureAndPlaceholdersKeepTheirLocation) {
    ASSERT_FALSE(RegisterRemotingFunction(registry_, "Pick", "/pick/{v}/{q}", HttpMethod::None,
                                          {{"v"}, {"q", ArgumentLocation::Query}},
                                          [](std::string v, std::optional<std::string> q) {
                                              return v + "/" + q.value_or("-");
                                          })
                     .failed);
    ASSERT_FALSE(RegisterRemotingFunction(registry_, "PickOne", "/pick/{v}", HttpMethod::None,
                                          {{"v"}}, [](std::string v) { return v; })
                     .failed);
    declaration_ = BuildPluginApiDeclaration(registry_);
    FunctionRequest request;
    request.path = "/pick/a?v=b";
    EXPECT_EQ(Call(request, "PickOne").value, "b");
    request.path = "/pick/a";
    EXPECT_EQ(Call(request, "PickOne").value, "a");
    request.path = "/pick/a/c";
    EXPECT_EQ(Call(request, "Pick").value,
              "Argument 'q' for 'Pick' was specified in an invalid location.");
}

TEST_F(FunctionCallTest, FailuresReachTheHostAndSkipTheCall) {
    struct Case {
        std::string path;
        std::vector<std::pair<std::optional<std::string>, HostValue>> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"/items/x?nope=1", {}, "Unknown argument 'nope' for 'Echo'."},
        {"/items/x?", {}, ""},
        {"/items/x?verbose&", {}, "Unknown argument '' for 'Echo'."},
        {"/items/x?id=2", {}, "Argument 'id' for 'Echo' was specified in an invalid location."},
        {"/items/x?count=", {}, "Expected value for argument 'count'."},
        {"/items/x?tags.1a=x", {}, "Index 1a is in an incorrect format"},
        {"/items/x?tags.2147483647=x", {}, "Index 2147483647 is out of range"},
        {"/items/x?extra.65535.65535=x", {}, "Index 65535 is out of range"},
        {"/items/x?extra.a.40000=x&extra.b.40000=x", {}, "Index 40000 is out of range"},
        {"/items/x?item={\"x\":",
         {},
         "Couldn't deserialize JSON value for parameter 'item' of "
         "'Echo': Error: Invalid value. at offset 5."},
        {"/items/x", {{"nope", arena_.Signed(1)}}, "Unknown argument 'nope' for 'Echo'."},
        {"/items/x",
         {{std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)},
          {std::nullopt, arena_.Signed(1)}},
         "Unknown argument '8' for 'Echo'."},
        {"/items/x",
         {{"extra", arena_.Raw(11)}},
         "Couldn't assign value to 'extra' of type object because the input is of an "
         "incompatible type ''."},
        {"/items/x?count=abc", {}, "Value abc for 'count' of type int32 is in an incorrect format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        received_.calls = 0;
        FunctionRequest request;
        request.path = c.path;
        request.arguments = c.arguments;
        const FunctionResponse response = Call(request);
        if (c.message.empty()) {
            EXPECT_EQ(received_.calls, 1);
            continue;
        }
        EXPECT_EQ(received_.calls, 0);
        EXPECT_EQ(response.value, c.message);
        EXPECT_EQ(response.valueKinds, 6);
        // A failure leaves the status as the function would have: unset.
        EXPECT_EQ(response.status, 0);
    }
}

TEST_F(FunctionCallTest, BodyStepRunsAfterAnEarlierFailure) {
    FunctionRequest request;
    request.path = "/items/x?nope=1";
    request.contentType = "text/x-yaml";
    request.body = "a: 1";
    EXPECT_EQ(Call(request).value, "Unsupported body content type");
    request.contentType = "application/json";
    request.body = "{\"x\": 1}";
    EXPECT_EQ(Call(request).value, "Unknown argument 'nope' for 'Echo'.");
    request.path = "/items/x";
    request.contentType = "application/x-msgpack";
    request.body = std::string("\x81\xA1x\x01\xC0", 5);
    EXPECT_EQ(Call(request).value, "Extra MessgePack data found in body");
    EXPECT_EQ(received_.calls, 0);
    request.body = std::string("\x81\xA4name\xA2mp", 9);
    Call(request);
    ASSERT_EQ(received_.calls, 1);
    EXPECT_EQ(received_.payload->name, "mp");
}

// The loose spots of value texts, as a host's request reaches the bound function.
TEST_F(FunctionCallTest, ValueTextsThroughTheEntryPoint) {
    // A required bool that no source mentions is false; hexadecimal and octal indices.
    FunctionRequest request;
    request.path = "/items/x?tags.0x1=h&tags.03=o";
    FunctionResponse response = Call(request);
    ASSERT_EQ(received_.calls, 1) << response.value.dump();
    EXPECT_FALSE(received_.verbose);
    EXPECT_EQ(received_.tags, (std::vector<std::string>{"", "h", "", "o"}));

    // A JSON text is read for a struct, kept as it is for a string; YAML and MessagePack are
    // sniffed for an object parameter.
    request.path = "/items/x?item=%7B%22x%22%3A7%7D&extra=---%0Ak%3A%20v";
    request.headers = {{"token", "{\"x\":1}"}};
    response = Call(request);
    ASSERT_EQ(received_.calls, 2) << response.value.dump();
    ASSERT_TRUE(received_.item.has_value());
    EXPECT_EQ(received_.item->x, 7);
    EXPECT_EQ(received_.token_, "{\"x\":1}");
    EXPECT_EQ(received_.extra.Member("k").GetString(), "v");
    request.headers.clear();
    request.path = "/items/x?extra=%81%A1k%02";
    response = Call(request);
    ASSERT_EQ(received_.calls, 3) << response.value.dump();
    EXPECT_EQ(received_.extra.Member("k").GetSigned(), 2);

    // The decoders' failures name the parameter and the function.
    request.path = "/items/x?extra=---%0Ak%3A%20%5B";
    response = Call(request);
    EXPECT_TRUE(response.value.get<std::string>().starts_with(
        "Couldn't deserialize YAML value for parameter 'extra' of 'Echo': "))
        << response.value.dump();
    request.path = "/items/x?extra=%91%C1";
    response = Call(request);
    EXPECT_TRUE(response.value.get<std::string>().starts_with(
        "Couldn't deserialize MessagePack value for parameter 'extra' of 'Echo': "))
        << response.value.dump();
    EXPECT_EQ(received_.calls, 3);

    // The whole path, query part included, is matched against the route however long it is: a
    // simple placeholder takes the query part as well, and a dotted key as deep as the nesting
    // limit allows still reaches the function.
    std::string deep = "/items/x?extra";
    for (std::size_t i = 0; i < DecodeLimits::kMaxNestingDepth; ++i) {
        deep += ".a";
    }
    request.path = deep + "=bottom";
    response = Call(request);
    ASSERT_EQ(received_.calls, 4) << response.value.dump();
    EXPECT_EQ(received_.id, request.path.substr(7));
    const BindingProperty* level = &received_.extra;
    for (std::size_t i = 0; i < DecodeLimits::kMaxNestingDepth; ++i) {
        level = &level->Member("a");
    }
    EXPECT_EQ(level->GetString(), "bottom");
    received_.extra.Clear();
}

// Bodies of every content type, of several megabytes, through the entry point.
TEST_F(FunctionCallTest, BodiesOfEveryContentType) {
    const std::string name(4u << 20, 'n'); // 4 MiB
    std::string packed = "\x82\xA1x\x05\xA4name\xDB";
    for (int shift = 24; shift >= 0; shift -= 8) {
        packed += static_cast<char>((name.size() >> shift) & 0xFF);
    }
    packed += name;
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"Application/JSON; charset=utf-8", "{\"x\": 5, \"name\": \"" + name + "\"}"},
        {"application/vnd.api+json", "{\"x\": 5, \"name\": \"" + name + "\"}"},
        {"application/x-yaml", "x: 5\nname: " + name + "\n"},
        {"application/x-msgpack", packed},
    };
    for (const auto& [type, body] : bodies) {
        SCOPED_TRACE(type);
        received_.payload.reset();
        FunctionRequest request;
        request.path = "/items/x";
        request.contentType = type;
        request.body = body;
        const FunctionResponse response = Call(request);
        ASSERT_TRUE(received_.payload.has_value()) << response.value.dump().substr(0, 200);
        EXPECT_EQ(received_.payload->x, 5);
        EXPECT_EQ(received_.payload->name.size(), name.size());
        EXPECT_EQ(received_.payload->name, name);
    }
    EXPECT_EQ(received_.calls, 4);
}

TEST_F(FunctionCallTest, RouteAndMethodMustFit) {
    FunctionRequest request;
    request.path = "/items/x/y";
    FunctionResponse response = Call(request);
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);
    request.path = "/respond";
    request.method = 6;
    response = Call(request, "Respond");
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(received_.calls, 0);
    // The query part is matched with the rest of the path: a literal route does not match the
    // same path followed by a query part, whatever the method.
    request.method = 2;
    request.path = "/respond?status=201";
    response = Call(request, "Respond");
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(received_.calls, 0);
    request.path = "/respond";
    request.arguments = {{"status", arena_.Signed(201)}};
    response = Call(request, "Respond");
    EXPECT_EQ(response.status, 201);
}

TEST_F(FunctionCallTest, ResponseRecordCarriesEverything) {
    FunctionRequest request;
    request.path = "/respond";
    request.arguments = {{"status", arena_.Signed(201)}};
    FunctionResponse response = Call(request, "Respond");
    EXPECT_EQ(response.value, (Json{{"mood", "Angry"}, {"name", "three"}, {"x", 3}}));
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.statusText, "Made");
    EXPECT_EQ(response.flag, 9);
    EXPECT_EQ(response.contentKind, 2u);
    EXPECT_EQ(response.headers,
              (std::vector<std::pair<std::string, std::string>>{{"x-one", "1"}, {"x-two", "2"}}));
    ASSERT_TRUE(response.hasBody);
    EXPECT_EQ(response.bodySize, 42u);
    EXPECT_EQ(response.body, "body of the response, longer than one read");
    // Content kinds other than 1 to 3 reach the host as 0.
    request.arguments = {{"status", arena_.Signed(200)}};
    response = Call(request, "Respond");
    EXPECT_EQ(response.contentKind, 0u);
}

TEST_F(FunctionCallTest, RegistrationRefusesMismatchesAndKeepsTheFirst) {
    OperationResult refused = RegisterRemotingFunction(registry_, "Two", "/two", HttpMethod::Get,
                                                       {{"a"}}, [](int, int) { return 0; });
    EXPECT_TRUE(refused.failed);
    EXPECT_STREQ(refused.message.Text(),
                 "The parameter list does not match the function's parameters");
    refused = RegisterRemotingFunction(registry_, "Bad", "/a}/{x}", HttpMethod::Get, {},
                                       [] { return 0; });
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(registry_.FindFunction("Two"), nullptr);
    EXPECT_EQ(registry_.FindFunction("Bad"), nullptr);
    // A second registration of a name changes nothing.
    const OperationResult again = RegisterRemotingFunction(
        registry_, "Echo", "/other", HttpMethod::Delete, {}, [] { return 1; });
    EXPECT_FALSE(again.failed);
    EXPECT_EQ(registry_.FindFunction("Echo")->path, "/items/{id}");
    EXPECT_EQ(registry_.FindFunction("Echo")->parameters.size(), 8u);
    // A function registered with an empty path is reached by its name.
    ASSERT_FALSE(RegisterRemotingFunction(registry_, "ByName", "", HttpMethod::None, {}, [] {
                     return std::string("named");
                 }).failed);
    declaration_ = BuildPluginApiDeclaration(registry_);
    FunctionRequest request;
    request.path = "ByName";
    EXPECT_EQ(Call(request, "ByName").value, "named");
}

TEST_F(FunctionCallTest, MalformedRequestRecordsAreRefused) {
    const ApiFunctionEntry& entry = Entry("Echo");
    HostFunctionRequest request;
    std::memset(&request, 0, sizeof(request));
    request.userData = entry.userData;
    request.method = 2;

    FunctionResponse response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Malformed request: the path is missing");
    EXPECT_EQ(response.status, 400);

    request.path = "/items/x";
    request.headerCount = 2;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Malformed request: 2 headers without a header list");

    const HostHeaderEntry headers[] = {{"a", "b"}, {nullptr, "c"}};
    request.headers = headers;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Malformed request: header 1 has no name");

    request.headerCount = 0;
    request.argumentCount = 3;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Malformed request: 3 arguments without an argument list");

    request.argumentCount = 0;
    request.bodyLength = 10;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Malformed request: 10 body bytes without a body");
    EXPECT_EQ(received_.calls, 0);

    // Null header values, method text and content type read as empty texts.
    request.bodyLength = 0;
    const HostHeaderEntry item[] = {{"item", nullptr}};
    request.headers = item;
    request.headerCount = 1;
    request.method = 8;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(received_.calls, 1) << response.value.dump();
    EXPECT_EQ(received_.method, HttpMethod::Custom);
    EXPECT_EQ(received_.methodText, "");
    // The empty header value gives an empty structure, an item with default fields.
    ASSERT_TRUE(received_.item.has_value());
    EXPECT_EQ(received_.item->x, 0);

    // Without user data there is no function to call.
    request.userData = nullptr;
    response = CallEntryPoint(entry.entryPoint, &request);
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);
    response = CallEntryPoint(entry.entryPoint, nullptr);
    EXPECT_EQ(response.status, 404);
    entry.entryPoint(nullptr, &request); // no response record: nothing happens
}

TEST_F(FunctionCallTest, ReentrantCallsAndRepeatedReleases) {
    // A function that, like a host answering a call back, enters the dispatcher again on the
    // same thread while its own call is in progress, once through itself.
    std::vector<FunctionResponse> inner;
    ASSERT_FALSE(
        RegisterRemotingFunction(registry_, "Outer", "/outer/{depth}", HttpMethod::Get,
                                 {{"depth", ArgumentLocation::Path}},
                                 [this, &inner](std::int32_t depth) {
                                     FunctionRequest request;
                                     if (depth > 0) {
                                         request.path = "/outer/" + std::to_string(depth - 1);
                                         inner.push_back(Call(request, "Outer"));
                                     }
                                     request.path = "/respond";
                                     request.arguments = {{"status", arena_.Signed(200 + depth)}};
                                     inner.push_back(Call(request, "Respond"));
                                     return depth;
                                 })
            .failed);
    declaration_ = BuildPluginApiDeclaration(registry_);
    FunctionRequest request;
    request.path = "/outer/2";
    const FunctionResponse outer = Call(request, "Outer");
    EXPECT_EQ(outer.value, 2);
    ASSERT_EQ(inner.size(), 5u);
    EXPECT_EQ(inner[0].status, 200); // the innermost call finishes first
    EXPECT_EQ(inner[1].value, 0);
    EXPECT_EQ(inner[2].status, 201);
    EXPECT_EQ(inner[3].value, 1);
    EXPECT_EQ(inner[4].status, 202);
    EXPECT_EQ(inner[4].body, "body of the response, longer than one read");

    // Releasing a response record a second time finds nothing left to free.
    std::vector<HostArgument> arguments(1);
    arguments[0].name = "status";
    const HostValue status = arena_.Signed(201);
    std::memcpy(&arguments[0].value, &status, sizeof(status));
    HostFunctionRequest record;
    std::memset(&record, 0, sizeof(record));
    record.method = 2;
    record.path = "/respond";
    record.arguments = arguments.data();
    record.argumentCount = 1;
    record.userData = Entry("Respond").userData;
    HostFunctionResponse response;
    std::memset(&response, 0, sizeof(response));
    Entry("Respond").entryPoint(&response, &record);
    // Copies of the packed record's fields, which are not aligned for references.
    const HostFunctionResponseRelease release = response.release;
    void* const stream = response.bodyStream;
    ASSERT_NE(release, nullptr);
    ASSERT_NE(stream, nullptr);
    response.releaseStream(stream);
    release(&response);
    const std::uint32_t kind = response.value.kind;
    const char* const statusText = response.statusText;
    const HostHeaderEntry* const headers = response.headers;
    const std::uint32_t headerCount = response.headerCount;
    EXPECT_EQ(kind, 0u);
    EXPECT_EQ(statusText, nullptr);
    EXPECT_EQ(headers, nullptr);
    EXPECT_EQ(headerCount, 0u);
    release(&response);
}

TEST_F(FunctionCallTest, ExhaustedMemoryStillGivesAReleasableFailure) {
    FunctionRequest request;
    request.path = "/respond";
    request.arguments = {{"status", arena_.Signed(201)}};
    std::optional<FunctionResponse> answered;
    {
        const Testing::RefusedAllocations refused(0); // every allocation of the library fails
        answered = Call(request, "Respond");
    }
    const FunctionResponse& response = *answered;
    // Not even the failure message could be copied: the record still carries its release
    // function and reports a failure, not a success.
    EXPECT_TRUE(response.released);
    EXPECT_EQ(response.value, "Unexpected failure");
    EXPECT_EQ(response.status, 500);
    EXPECT_FALSE(response.hasBody);
    EXPECT_EQ(response.headers.size(), 0u);
}

} // namespace
} // namespace Korvel
