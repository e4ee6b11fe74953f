// Outbound requests and the host handshake against a plain model of their rules. Seeded host
// answers (errors, bodies in the record, streamed bodies in odd pieces, outside responses with any
// transport code, status, headers and body) go through the test host; what the caller gets, what
// the host was sent and the order of the host calls are compared with the model.

#include "encoding/json_writer.h"
#include "support/captured_log.h"
#include "support/split_mix.h"
#include "test_plugin.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

using Value = nlohmann::json;
using Calls = std::vector<std::string>;

template <typename T, size_t N>
const T& Pick(SplitMix64& rng, const T (&items)[N]) {
    return items[rng.Next() % N];
}

// --- JSON as the plug-in reads it: RapidJSON's reader with its default flags

// Builds a value from the reader's events: null leaves its target as it is, a repeated key writes
// into the member already there, strings end at their first zero byte.
class ModelHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ModelHandler> {
public:
    explicit ModelHandler(Value& root) : target_(&root) {}
    bool Null() { return Next() != nullptr; }
    bool Bool(bool b) { return Set(b); }
    bool Int(int i) { return Set(static_cast<int64_t>(i)); }
    bool Uint(unsigned u) { return Set(static_cast<uint64_t>(u)); }
    bool Int64(int64_t i) { return Set(i); }
    bool Uint64(uint64_t u) { return Set(u); }
    bool Double(double d) { return Set(d); }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view view(text, length);
        return Set(std::string(view.substr(0, view.find('\0'))));
    }
    bool StartObject() { return Open(Value::value_t::object); }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        return target_ = &(*stack_.back())[std::string(text, length)], true;
    }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool StartArray() { return Open(Value::value_t::array); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

private:
    Value* Next() {
        if (!stack_.empty() && stack_.back()->is_array()) {
            stack_.back()->push_back(nullptr);
            target_ = &stack_.back()->back();
        }
        return target_;
    }
    template <typename T>
    bool Set(T value) {
        return *Next() = value, true;
    }
    bool Open(Value::value_t type) {
        Value* value = Next();
        if (value->type() != type) {
            *value = Value(type);
        }
        stack_.push_back(value);
        return true;
    }
    bool Close() { return stack_.pop_back(), true; }

    Value* target_;
    std::vector<Value*> stack_;
};

struct Parsed {
    bool ok = true;
    Value value;
    std::string error;
};

Parsed ModelReadJson(const std::string& bytes) {
    const std::string text(bytes.c_str()); // the document ends at its first zero byte
    Parsed out;
    ModelHandler handler(out.value);
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    const rapidjson::ParseResult result = reader.Parse(stream, handler);
    if (result.IsError()) {
        out.value = nullptr;
        if (result.Code() != rapidjson::kParseErrorDocumentEmpty) {
            // RapidJSON's English texts, with the older wording of code 2.
            const bool trailing = result.Code() == rapidjson::kParseErrorDocumentRootNotSingular;
            out = {false, nullptr,
                   std::string("Error: ") +
                       (trailing ? "The document root must not follow by other values."
                                 : rapidjson::GetParseError_En(result.Code())) +
                       " at offset " + std::to_string(result.Offset()) + "."};
        }
    }
    return out;
}

// What the caller received, as JSON (an empty value writes the empty text). A string is taken as
// it is: a body kept as raw text need not be UTF-8.
Value Seen(const BindingProperty& value) {
    if (value.Kind() == BindingKind::String) {
        return std::string(value.GetString());
    }
    const std::string text = WriteJson(value);
    return text.empty() ? Value() : Value::parse(text);
}

std::string Blank(SplitMix64& rng) {
    static const char* const kBlanks[] = {"", "", "", " ", "\n\t "};
    return Pick(rng, kBlanks);
}

std::string RandomJson(SplitMix64& rng, int depth) {
    static const char* const kScalars[] = {"null", "true", "false",     "1.5",  "-0.25",
                                           "2e3",  "1E+2", "-7.125e-1", "1e19", "0",
                                           "-0",   "-12",  "4294967295"};
    static const char* const kIntegers[] = {"4294967296", "-2147483649", "18446744073709551615",
                                            "-9223372036854775808"};
    static const char* const kPieces[] = {
        "a", "Zz", " ", "\\n", "\\\"", "\\u00e9", "\\u0000x", "\\ud83d\\ude00", "%1"};
    static const char* const kKeys[] = {"\"a\"", "\"b\"", "\"B\"", "\"\\u00e9\"", "\"a b\""};
    std::string text = Blank(rng);
    const uint64_t pick = rng.Next() % (depth > 0 ? 8 : 4);
    if (pick <= 1) {
        text += pick == 0 ? Pick(rng, kScalars) : Pick(rng, kIntegers);
    } else if (pick <= 3) {
        text += '"';
        for (uint64_t n = rng.Next() % 4; n > 0; --n) {
            text += Pick(rng, kPieces);
        }
        text += '"';
    } else {
        const bool object = pick <= 5;
        text += object ? '{' : '[';
        for (uint64_t i = 0, n = rng.Next() % 4; i < n; ++i) {
            text += i > 0 ? "," : "";
            if (object) {
                text += Blank(rng) + Pick(rng, kKeys) + Blank(rng) + ":";
            }
            text += RandomJson(rng, depth - 1);
        }
        text += Blank(rng) + (object ? '}' : ']');
    }
    return text + Blank(rng);
}

// A valid document, or one broken by a cut, a stray character (a zero byte too) or a tail.
std::string RandomBody(SplitMix64& rng) {
    static const char kStray[] = {'{', '}', '[', ']', ',', ':', '"', 'x', '\\', '\0'};
    static const char* const kTails[] = {" x", ",", "}", " 1", "\"\\ud800\""};
    std::string text = RandomJson(rng, 3);
    const size_t at = static_cast<size_t>(rng.Next() % (text.size() + 1));
    const uint64_t how = rng.Next() % 6;
    if (how == 0) {
        text.resize(at);
    } else if (how == 1) {
        text.insert(at, 1, Pick(rng, kStray));
    } else if (how == 2) {
        text += Pick(rng, kTails);
    }
    return text;
}

// --- The model of a read of a host resource

struct ExpectedResource {
    bool failed = false;
    int32_t code = 0;
    std::string message;
    Value value;
    Calls calls{"SendRequest"}; // host calls, the read and release functions among them
    size_t waits = 0;
};

// Gives the resource at `path` a seeded answer and returns what reading it must give.
ExpectedResource ScriptResource(SplitMix64& rng, TestHost& host, const std::string& path) {
    static const char* const kErrors[] = {"Not found", "", "broke at %1"};
    static const int32_t kCodes[] = {404, 0, -1, 500};
    static const uint32_t kBadKinds[] = {11, 12, 255, 0x80000000u};
    static const size_t kSizes[] = {0, 1, 7, 100, 4095, 4096, 4096};
    ExpectedResource e;
    const auto fail = [&e](int32_t code, std::string message) {
        e.failed = true;
        e.code = code;
        e.message = std::move(message);
        e.value = nullptr;
    };
    const std::string what = "GET " + path + ": ";
    const uint64_t kind = rng.Next() % 8;
    if (kind == 0) {
        const std::string error = Pick(rng, kErrors);
        const int32_t code = Pick(rng, kCodes);
        host.SetResourceError(path, code, error);
        fail(code, "Error response for " + what + error);
    } else if (kind < 4) {
        // The body in the record: a value the host built, now and then with an unknown kind in it.
        e.value = ModelReadJson(RandomJson(rng, 3)).value;
        HostValue body = host.Arena().Build(Json::parse(e.value.dump()));
        if (rng.Next() % 5 == 0) {
            const HostValue bad = host.Arena().Raw(Pick(rng, kBadKinds));
            const uint64_t where = rng.Next() % 3;
            body = where == 0   ? bad
                   : where == 1 ? host.Arena().Collection({body, bad})
                                : host.Arena().Structure({{"z", bad}, {"a", body}});
            fail(0, "Error converting response for " + what +
                        "Couldn't assign value to '<result>' "
                        "of type object because the input is of an incompatible type ''.");
        }
        host.SetResourceValue(path, body);
    } else {
        // A streamed body in pieces of at most one buffer; the last read clears the more-data
        // byte, and now and then one read fails.
        std::string text = RandomBody(rng);
        if (rng.Next() % 4 == 0) {
            text.insert(0, static_cast<size_t>(rng.Next() % 9000), ' ');
        }
        std::vector<StreamChunk> chunks;
        for (size_t at = 0; at < text.size() || chunks.empty();) {
            chunks.push_back({text.substr(at, Pick(rng, kSizes)), true});
            at += chunks.back().bytes.size();
        }
        if (rng.Next() % 3 == 0) {
            chunks.push_back({"", false});
        } else {
            chunks.back().more = false;
        }
        std::optional<size_t> failAfter;
        if (rng.Next() % 6 == 0) {
            failAfter = static_cast<size_t>(rng.Next() % chunks.size());
        }
        std::string read;
        Parsed parsed{false, nullptr, "Stream read error"};
        for (size_t i = 0;; ++i) {
            e.calls.push_back("Read");
            if (i == failAfter) {
                break;
            }
            read += chunks[i].bytes;
            if (!chunks[i].more) {
                parsed = ModelReadJson(read);
                break;
            }
            if (chunks[i].bytes.size() < 4096) {
                e.calls.insert(e.calls.end(), {"BeginWait", "Yield", "EndWait"});
                ++e.waits;
            }
        }
        e.value = parsed.value;
        if (!parsed.ok) {
            fail(0, "Error reading streamed response for " + what + parsed.error);
        }
        host.SetStreamedResource(path, std::move(chunks), static_cast<uint32_t>(rng.Next() % 9000),
                                 failAfter);
    }
    e.calls.push_back("Release");
    return e;
}

// --- The model of a request to an outside web server

struct ExpectedExternal {
    int32_t code = -1, status = 0, bodyInvalid = -1;
    std::string errorText;
    HeaderTable headers;
    Value body;
};

// Gives `url` a seeded answer and returns what a request of `method` to it must give.
ExpectedExternal ScriptExternal(SplitMix64& rng, TestHost& host, const std::string& method,
                                const std::string& url) {
    static const uint32_t kTransports[] = {0, 0, 0, 0, 0, 1, 2, 3, 0xFFFFFFFFu, 0x80000000u};
    static const uint32_t kStatuses[] = {200, 204, 299, 300, 404, 503, 0xFFFFFFFFu};
    static const char* const kNames[] = {"content-type", "x-a", "retry-after", "%1", ""};
    static const char* const kValues[] = {"application/json", "", "5", "%2"};
    CannedExternalResponse canned{Pick(rng, kTransports), Pick(rng, kStatuses), {}, {}, false};
    for (const char* name : kNames) {
        if (rng.Next() % 3 == 0) {
            canned.headers.emplace_back(name, Pick(rng, kValues));
        }
    }
    canned.nullHeaders = rng.Next() % 6 == 0;
    if (const uint64_t body = rng.Next() % 8; body != 0) {
        canned.body = body == 1 ? std::string() : RandomBody(rng);
    }
    host.SetExternalResponse(url, canned);

    ExpectedExternal e;
    const uint32_t transport = canned.transportCode;
    e.code = transport == 0 || transport == 2 ? static_cast<int32_t>(transport)
             : transport == 0xFFFFFFFFu       ? -1
                                              : 1;
    const std::string body = canned.body.value_or("");
    if (e.code != 0) {
        e.errorText = body;
        return e;
    }
    e.status = static_cast<int32_t>(canned.status);
    const std::string what = method + " " + url + ": ";
    if (canned.nullHeaders && !canned.headers.empty()) {
        e.bodyInvalid = 1;
        e.errorText = "Error converting response for " + what + "headers was null";
    } else if (!canned.nullHeaders) {
        e.headers.insert(canned.headers.begin(), canned.headers.end());
    }
    const Parsed parsed = ModelReadJson(body);
    if (body.empty()) {
        e.bodyInvalid = 1;
        e.errorText = "Error converting response for " + what + "body was empty";
    } else if (!parsed.ok) {
        e.bodyInvalid = 1;
        e.errorText = "Error deserializing json response for " + what + parsed.error;
        e.body = body.c_str(); // a string value is a text: it ends at the first zero byte
    } else {
        e.bodyInvalid = 0;
        e.body = parsed.value;
    }
    return e;
}

std::string VersionText(const ApiVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           (v.prerelease.empty() ? "" : "-" + v.prerelease) +
           (v.build.empty() ? "" : "+" + v.build);
}

// --- The comparisons

TEST(RequestsOracle, ResourceReadsAsTheModelReadsThem) {
    static const char* const kPaths[] = {"/vel-login/v1/login-data-packet", "/odd/%1/path", "/"};
    static const char* const kSettings[] = {"region_data", "globals", "%2"};
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        SplitMix64 rng(seed);
        Calls calls; // outlives the host that records into it
        TestHost host;
        CapturedLog log;
        auto plugin = MakeTestPlugin(host);
        const auto pluginId = static_cast<uint32_t>(rng.Next());
        ASSERT_TRUE(plugin->Initialize(host.Context(pluginId)));
        host.AtHostCall(
            [&calls](size_t, const std::string& function) { calls.push_back(function); });
        for (int round = 0; round < 80; ++round) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " round " << round);
            host.ClearRecords();
            calls.clear();
            const uint64_t call = rng.Next() % 3;
            const std::string name = call == 2 ? Pick(rng, kPaths) : Pick(rng, kSettings);
            const std::string path = call == 0   ? "/data-store/v1/system-settings/" + name
                                     : call == 1 ? "/data-store/v1/install-settings/" + name
                                                 : name;
            const ExpectedResource want = ScriptResource(rng, host, path);
            const ResourceResult got = call == 0   ? plugin->ReadSystemSetting(name)
                                       : call == 1 ? plugin->ReadInstallSetting(name)
                                                   : plugin->GetResource(path);
            EXPECT_EQ(got.failed, want.failed);
            EXPECT_EQ(got.code, want.code);
            EXPECT_EQ(got.message, want.message);
            EXPECT_EQ(Seen(got.value), want.value);
            EXPECT_EQ(calls, want.calls);
            Calls waits;
            for (size_t i = 0; i < want.waits; ++i) {
                waits.insert(waits.end(), {"BeginWait(Wait: yield, 0)", "Yield", "EndWait"});
            }
            EXPECT_EQ(host.WaitCalls(), waits);
            EXPECT_EQ(host.UnreleasedResponseCount(), 0u);

            ASSERT_EQ(host.Requests().size(), 1u);
            const ResourceRequest& sent = host.Requests()[0];
            EXPECT_EQ(sent.method, 2u);
            EXPECT_EQ(sent.path, path);
            EXPECT_TRUE(sent.arguments.empty());
            EXPECT_EQ(sent.pluginId, pluginId);
            EXPECT_TRUE(sent.reservedBytesZero);
        }
        EXPECT_TRUE(host.LogLines().empty()); // no failure here logs anything
        EXPECT_TRUE(log.Entries().empty());
    }
}

TEST(RequestsOracle, HandshakeAndOutsideRequestsAsTheModelHasThem) {
    static const uint32_t kMajors[] = {18, 18, 18, 17, 19, 0, 0xFFFFFFFFu};
    static const uint32_t kParts[] = {0, 1, 2, 7, 0x80000000u, 0xFFFFFFFFu};
    static const char* const kUrls[] = {"https://status.example/v1/status", "http://h/%1?q=%2", ""};
    static const char* const kHeaderNames[] = {"user-agent", "User-Agent", "accept", "a", ""};
    static const uint32_t kLimits[] = {20, 0, 0xFFFFFFFFu};
    static const char* const kMethods[] = {"",      "DELETE", "GET", "HEAD", "OPTIONS",
                                           "PATCH", "POST",   "PUT", ""};
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        SplitMix64 rng(seed * 7919);
        const ApiVersion version{Pick(rng, kMajors), Pick(rng, kParts), Pick(rng, kParts), {}, {}};
        SCOPED_TRACE("host API " + VersionText(version));
        const bool accepted = version.major == 18; // any minor and patch is at least 18.0.0's
        TestHost host;
        CapturedLog log;
        PluginApiDescriptor descriptor{};
        auto plugin =
            MakeTestPlugin(host, &descriptor, {version.major, version.minor, version.patch});

        EXPECT_EQ(plugin->ApiIncompatibility(),
                  accepted ? ""
                           : "vel-service-status which supports plugin API 18.0.0 is not "
                             "compatible with core's plugin API " +
                                 VersionText(version));
        ASSERT_EQ(log.Entries().size(), accepted ? 0u : 1u);
        if (!accepted) {
            EXPECT_EQ(log.Entries()[0].message, "Assertion failed!\n\nExpression: ALE-EECF0606");
        }
        const std::vector<uint32_t> written{descriptor.apiMajor, descriptor.apiMinor,
                                            descriptor.apiPatch};
        EXPECT_EQ(written, (std::vector<uint32_t>{18, 0, 0})); // the plug-in's, not the host's

        ASSERT_TRUE(plugin->Initialize(host.Context(static_cast<uint32_t>(seed))));
        const std::string userAgent =
            "KorvelClient/" + VersionText(version) + " (vel-service-status)";
        for (int round = 0; round < 30; ++round) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " round " << round);
            host.ClearRecords();
            const auto method = static_cast<HttpMethod>(rng.Next() % 9);
            const std::string url = Pick(rng, kUrls);
            HeaderTable headers;
            for (const char* name : kHeaderNames) {
                if (rng.Next() % 4 == 0) {
                    headers[name] = Pick(rng, kUrls);
                }
            }
            const uint32_t limit = Pick(rng, kLimits);
            const ExpectedExternal want =
                ScriptExternal(rng, host, kMethods[static_cast<int>(method)], url);
            const ExternalResponse got = plugin->SendExternal(method, url, headers, limit);
            EXPECT_EQ(got.code, want.code);
            EXPECT_EQ(got.status, want.status);
            EXPECT_EQ(got.bodyInvalid, want.bodyInvalid);
            EXPECT_EQ(got.reserved, -1);
            EXPECT_EQ(got.errorText, want.errorText);
            EXPECT_EQ(got.headers, want.headers);
            EXPECT_EQ(Seen(got.body), want.body);

            std::vector<std::pair<std::string, std::string>> sentHeaders;
            if (headers.count("user-agent") == 0) {
                sentHeaders.emplace_back("user-agent", userAgent);
            }
            sentHeaders.insert(sentHeaders.end(), headers.begin(), headers.end());
            ASSERT_EQ(host.ExternalRequests().size(), 1u);
            const ExternalRequest& sent = host.ExternalRequests()[0];
            EXPECT_EQ(sent.method, static_cast<uint32_t>(method));
            EXPECT_EQ(sent.url, url);
            EXPECT_EQ(sent.headers, sentHeaders);
            EXPECT_TRUE(sent.body.empty());
            EXPECT_EQ(sent.timeLimit, limit);
            EXPECT_EQ(sent.flag, 1u);
        }
        EXPECT_TRUE(host.LogLines().empty());
    }
}

} // namespace
} // namespace Korvel::Testing
