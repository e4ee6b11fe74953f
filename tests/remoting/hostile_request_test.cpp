// Requests a careless or hostile host may send, through a declared function's entry point: broken
// percent escapes, zero bytes, keys that collide with their own dotted forms, odd content types,
// empty bodies and method codes outside the table.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "remoting/function_dispatch.h"
#include "remoting/function_route.h"
#include "remoting/remoting_function.h"
#include "support/function_caller.h"

namespace Korvel {
namespace {

using Testing::FunctionRequest;
using Testing::FunctionResponse;
using Testing::Json;

class HostileRequestTest : public ::testing::Test {
protected:
    HostileRequestTest() {
        registry_.Reinitialise();
        // Echoes what it received: the path capture, a query string, an object, the body and
        // the request's method.
        const OperationResult echo = RegisterRemotingFunction(
            registry_, "Echo", "/e/{x}", HttpMethod::None,
            {{"x"}, {"s", ArgumentLocation::Query}, {"o"}, {"b", ArgumentLocation::Body}},
            [](const RemotingRequest& request, std::string x, std::optional<std::string> s,
               BindingProperty o, BindingProperty b) {
                BindingProperty out;
                out.Member("x") = x;
                if (s) {
                    out.Member("s") = *s;
                }
                out.Member("o") = o;
                out.Member("b") = b;
                out.Member("method") = static_cast<std::int32_t>(request.method);
                out.Member("methodText") = request.methodText;
                return out;
            });
        EXPECT_FALSE(echo.failed) << echo.ToString();
        EXPECT_FALSE(
            RegisterRemotingFunction(registry_, "Posted", "/posted", HttpMethod::Post, {}, [] {
                return 1;
            }).failed);
        EXPECT_FALSE(
            RegisterRemotingFunction(registry_, "Purge", "/purge", HttpMethod::None, {}, [] {
                return 2;
            }).failed);
        SetRouteCustomMethod(*registry_.FindFunctionForUpdate("Purge"), "PURGE");
        declaration_ = BuildPluginApiDeclaration(registry_);
    }

    FunctionResponse Call(const FunctionRequest& request, const char* name = "Echo") {
        const ApiFunctionEntry* entry =
            Testing::FindDeclaredFunction(declaration_->Declaration(), name);
        EXPECT_NE(entry, nullptr) << name;
        return Testing::CallDeclaredFunction(*entry, request);
    }

    FunctionResponse Get(const std::string& path) {
        FunctionRequest request;
        request.path = path;
        return Call(request);
    }

    BindingRegistry registry_;
    std::unique_ptr<BuiltApiDeclaration> declaration_;
};

TEST_F(HostileRequestTest, BrokenEscapesAndZeroBytesInThePath) {
    // The capture is decoded after the match, so an escaped "/" stays inside one placeholder.
    EXPECT_EQ(Get("/e/a%2Fb").value["x"], "a/b");
    EXPECT_EQ(Get("/e/a+b").value["x"], "a b");
    // A "%" cut off by the end is dropped; non-hexadecimal digits count as 16.
    EXPECT_EQ(Get("/e/a%").value["x"], "a");
    EXPECT_EQ(Get("/e/a%4").value["x"], "a4");
    EXPECT_EQ(Get("/e/%zz").value["x"], "\x10");
    // A decoded zero byte ends the text; nothing after it leaks into the value.
    EXPECT_EQ(Get("/e/a%00b").value["x"], "a");
    EXPECT_EQ(Get("/e/x?o=%00abc").value["o"], "");
    // A key with a zero byte names no parameter.
    const FunctionResponse zeroKey = Get("/e/x?o%00=1");
    EXPECT_EQ(zeroKey.valueKinds, 6);
    EXPECT_TRUE(zeroKey.value.get<std::string>().starts_with("Unknown argument 'o"));
    // A decoded key that looks like a message placeholder is printed as it is.
    EXPECT_EQ(Get("/e/x?%252=1").value, "Unknown argument '%2' for 'Echo'.");
    // Line breaks and "#" are ordinary bytes for a simple placeholder.
    EXPECT_EQ(Get("/e/x#frag").value["x"], "x#frag");
    EXPECT_EQ(Get("/e/x\r\n").value["x"], "x\r\n");
}

TEST_F(HostileRequestTest, QueryKeysThatCollide) {
    EXPECT_EQ(Get("/e/x?=v").value, "Unknown argument '' for 'Echo'.");
    EXPECT_EQ(Get("/e/x?&").value, "Unknown argument '' for 'Echo'.");
    EXPECT_EQ(Get("/e/x?s=a=b").value["s"], "a=b");
    EXPECT_EQ(Get("/e/x?s=1&s=2&s=3").value["s"], "3");
    // A key and its dotted form: the whole value is assigned first, the dotted key then turns it
    // into a structure, whichever order the query names them in.
    EXPECT_EQ(Get("/e/x?o=1&o.a=2").value["o"], (Json{{"a", "2"}}));
    EXPECT_EQ(Get("/e/x?o.a=1&o=2").value["o"], (Json{{"a", "1"}}));
    // Empty segments are member names like any other.
    EXPECT_EQ(Get("/e/x?o.=1").value["o"], (Json{{"", "1"}}));
    EXPECT_EQ(Get("/e/x?o..=1").value["o"], (Json{{"", {{"", "1"}}}}));
    EXPECT_EQ(Get("/e/x?o.0.a=1&o.0.b=2").value["o"], Json::parse(R"([{"a":"1","b":"2"}])"));
    // An index and then a member name: the collection becomes a structure.
    EXPECT_EQ(Get("/e/x?o.0=1&o.a=2").value["o"], (Json{{"a", "2"}}));
    // Indices with C-style bases, and the ones that are refused.
    EXPECT_EQ(Get("/e/x?o.0X2=z").value["o"], Json::parse(R"([null,null,"z"])"));
    EXPECT_EQ(Get("/e/x?o.08=1").value, "Index 08 is in an incorrect format");
    EXPECT_EQ(Get("/e/x?o.0x=1").value, "Index 0x is in an incorrect format");
    EXPECT_EQ(Get("/e/x?o.4294967296=1").value, "Index 4294967296 is out of range");
    EXPECT_EQ(Get("/e/x?o.99999999999999999999999=1").value,
              "Index 99999999999999999999999 is out of range");
    // Sniffing looks past leading spaces only.
    EXPECT_EQ(Get("/e/x?o=%20%20%7B%22a%22%3A1%7D").value["o"], (Json{{"a", 1}}));
    EXPECT_EQ(Get("/e/x?o=%09%7B%7D").value["o"], "\t{}");
}

TEST_F(HostileRequestTest, OddContentTypesAndEmptyBodies) {
    const auto body = [this](std::optional<std::string> type, std::string bytes) {
        FunctionRequest request;
        request.path = "/e/x";
        request.contentType = std::move(type);
        request.body = std::move(bytes);
        return Call(request);
    };
    EXPECT_EQ(body("APPLICATION/X-MSGPACK-EXT", "\x81\xA1"
                                                "a\x01")
                  .value["b"],
              (Json{{"a", 1}}));
    EXPECT_EQ(body("application/json;charset=utf-8", "[1]").value["b"], Json::array({1}));
    // A prefix match: anything may follow the type.
    EXPECT_EQ(body("application/jsonx", "[2]").value["b"], Json::array({2}));
    // Leading whitespace, a missing type and the value-only YAML type are not body types.
    EXPECT_EQ(body(" application/json", "[3]").value, "Unsupported body content type");
    EXPECT_EQ(body(std::nullopt, "[3]").value, "Unsupported body content type");
    EXPECT_EQ(body("application/octet-stream", "x").value, "Unsupported body content type");
    // An empty body is no body, whatever its type claims.
    EXPECT_EQ(body("text/plain", "").value["b"], nullptr);
    // Blank, null and zero-byte JSON bodies leave the argument empty and the call goes on.
    for (const std::string& text :
         std::vector<std::string>{"   ", "null", std::string("\0\0", 2)}) {
        const FunctionResponse response = body("application/json", text);
        EXPECT_EQ(response.valueKinds["b"], 0) << response.value.dump();
    }
    // Hostile nesting is refused by each reader with its own message.
    EXPECT_EQ(body("application/json", std::string(100000, '[')).value,
              "Error: The document is nested deeper than 512 levels at offset 513.");
    EXPECT_EQ(body("application/x-msgpack", std::string(100000, '\x91')).value,
              "Invalid MessagePack data at position 513. Nesting is deeper than 512 levels.");
    EXPECT_EQ(body("application/x-yaml", std::string(100000, '[')).value,
              "YAML nesting is deeper than 512 levels. At line: 1 col: 513");
}

TEST_F(HostileRequestTest, MethodCodesOutsideTheTable) {
    FunctionRequest request;
    request.path = "/posted";
    for (const std::uint32_t code : {0u, 9u, 0x80000000u, 0xFFFFFFFFu}) {
        request.method = code;
        const FunctionResponse response = Call(request, "Posted");
        EXPECT_EQ(response.value, "Invalid function") << code;
        EXPECT_EQ(response.status, 404) << code;
    }
    request.method = 6;
    EXPECT_EQ(Call(request, "Posted").value, 1);

    // A route open to every method sees an unknown code as none, without a method text.
    request.path = "/e/x";
    request.method = 9;
    request.methodText = "PURGE";
    FunctionResponse response = Call(request);
    EXPECT_EQ(response.value["method"], 0);
    EXPECT_EQ(response.value["methodText"], "");
    request.method = 8;
    response = Call(request);
    EXPECT_EQ(response.value["method"], 8);
    EXPECT_EQ(response.value["methodText"], "PURGE");

    // A custom method is matched by its exact name.
    request.path = "/purge";
    EXPECT_EQ(Call(request, "Purge").value, 2);
    for (const std::optional<std::string>& text :
         {std::optional<std::string>("purge"), std::optional<std::string>("PURGE "),
          std::optional<std::string>()}) {
        request.methodText = text;
        EXPECT_EQ(Call(request, "Purge").status, 404) << text.value_or("<null>");
    }
    request.method = 7;
    request.methodText = "PURGE";
    EXPECT_EQ(Call(request, "Purge").status, 404);
}

} // namespace
} // namespace Korvel
