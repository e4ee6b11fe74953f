// Request routing checked against a second, deliberately plain implementation of the same rules:
// method names, function names from a method and a path, route templates as ECMAScript
// expressions (matched here with the standard library's engine), the choice among several routes
// and URL decoding. Inputs come from a seeded generator, so every run sees the same cases.

#include <cstdint>
#include <deque>
#include <limits>
#include <regex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "remoting/function_dispatch.h"
#include "remoting/function_name.h"
#include "remoting/function_route.h"
#include "remoting/http_method.h"
#include "remoting/remoting_function.h"
#include "remoting/remoting_route.h"
#include "remoting/route_match.h"
#include "remoting/route_template.h"
#include "remoting/url_decode.h"
#include "support/function_caller.h"

namespace Korvel {
namespace {

using Captures = std::unordered_map<std::string, std::string>;

// ---------------------------------------------------------------------------------------------
// The reference rules, written out step by step.

std::string RefMethodName(std::int32_t code) {
    static const char* const kNames[] = {"",        "DELETE", "GET",  "HEAD",
                                         "OPTIONS", "PATCH",  "POST", "PUT"};
    return code >= 1 && code <= 7 ? kNames[code] : "";
}

std::int32_t RefMethodFromHost(std::int32_t code) {
    return code >= 1 && code <= 8 ? code : 0;
}

std::string RefFunctionName(std::int32_t method, const std::string& path) {
    const std::string methodName = RefMethodName(method);
    std::string formatted;
    if (!methodName.empty()) {
        formatted += methodName[0];
        for (std::size_t i = 1; i < methodName.size(); ++i) {
            const char c = methodName[i];
            formatted += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        }
    }
    formatted += "/" + path;

    std::string name;
    bool capitaliseNext = true;
    for (const char c : formatted) {
        if (std::string_view("!+-./_").find(c) != std::string_view::npos) {
            capitaliseNext = true;
        } else if (c == '{') {
            name += "By";
            capitaliseNext = true;
        } else if (c == '}') {
        } else {
            name +=
                (capitaliseNext && c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
            capitaliseNext = false;
        }
    }
    return name;
}

struct RefPlaceholder {
    int op = 0; // 0 simple, 1 reserved ("+"), 2 fragment ("#")
    std::string name;
};

struct RefTemplate {
    std::string expression;
    std::vector<RefPlaceholder> placeholders;
};

// Only well-formed templates are given to this one: no "}" outside a placeholder and no "{"
// inside one.
RefTemplate RefTranslate(const std::string& pattern) {
    RefTemplate result;
    bool inside = false;
    bool first = false;
    RefPlaceholder current;
    for (const char c : pattern) {
        if (!inside) {
            if (c == '{') {
                inside = true;
                first = true;
                current = {};
                continue;
            }
            if (std::string_view("^$.*+?()[]|\\").find(c) != std::string_view::npos) {
                result.expression += '\\';
            }
            result.expression += c;
            continue;
        }
        if (c == '}') {
            static const char* const kGroups[] = {"([^/]*)", "(.*)", "#(.*)"};
            result.expression += kGroups[current.op];
            result.placeholders.push_back(current);
            inside = false;
            continue;
        }
        if (first && c == '+') {
            current.op = 1;
        } else if (first && c == '#') {
            current.op = 2;
        } else {
            current.name += c;
        }
        first = false;
    }
    return result;
}

std::string RefUrlDecode(const std::string& text) {
    const auto digit = [](char c) -> int {
        const std::string_view lower = "0123456789abcdef";
        const std::string_view upper = "0123456789ABCDEF";
        std::size_t at = lower.find(c);
        if (at == std::string_view::npos) {
            at = upper.find(c);
        }
        return at == std::string_view::npos ? 16 : static_cast<int>(at);
    };
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
            i += 1;
        } else if (c == '%' && text.size() - i >= 3) {
            out += static_cast<char>((digit(text[i + 1]) * 16 + digit(text[i + 2])) % 256);
            i += 3;
        } else if (c == '%') {
            i += 1;
        } else {
            out += c;
            i += 1;
        }
    }
    return out;
}

struct RefRoute {
    std::string pattern; // as stored: path, or the name without one
    std::int32_t method = 0;
    std::string methodText;
};

struct RefMatch {
    bool matched = false;
    std::size_t index = 0;
    Captures captures;
};

RefMatch RefMatchRoutes(const std::vector<RefRoute>& routes, std::int32_t method,
                        const std::string& methodText, const std::string& path) {
    RefMatch taken;
    std::size_t takenTotal = 0;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RefRoute& route = routes[i];
        Captures captures;
        bool pathFits = false;
        if (route.pattern.find('{') == std::string::npos) {
            pathFits = path == route.pattern;
        } else {
            const RefTemplate translated = RefTranslate(route.pattern);
            const std::regex expression(translated.expression,
                                        std::regex::ECMAScript | std::regex::optimize);
            std::smatch groups;
            pathFits = std::regex_match(path, groups, expression);
            if (pathFits) {
                for (std::size_t g = 1; g < groups.size(); ++g) {
                    captures[translated.placeholders[g - 1].name] = RefUrlDecode(groups[g].str());
                }
            }
        }
        if (!pathFits) {
            continue;
        }
        if (route.method != 0 && (method != route.method || methodText != route.methodText)) {
            continue;
        }
        std::size_t total = 0;
        for (const auto& entry : captures) {
            total += entry.second.size();
        }
        if (!taken.matched || total < takenTotal) {
            taken.matched = true;
            taken.index = i;
            taken.captures = captures;
            takenTotal = total;
            if (captures.empty()) {
                break;
            }
        }
    }
    return taken;
}

// ---------------------------------------------------------------------------------------------
// Deterministic inputs.

class Inputs {
public:
    explicit Inputs(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}

    std::uint32_t Next() {
        // xorshift32: the same sequence on every platform and standard library.
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::size_t Below(std::size_t n) { return Next() % n; }
    bool Chance(std::size_t percent) { return Below(100) < percent; }
    char From(std::string_view set) { return set[Below(set.size())]; }

    std::string Run(std::string_view set, std::size_t most) {
        std::string text;
        for (std::size_t n = Below(most + 1); n > 0; --n) {
            text += From(set);
        }
        return text;
    }

private:
    std::uint32_t state_;
};

// Literal text of templates: ordinary bytes, every character the expression escapes, a few that
// it does not (hyphen, comma, space, "#", "=", "&"), line breaks, a zero byte and bytes above 127.
const std::string kLiteralBytes = std::string("aab//.-^$.*+?()[]|\\#=&, \n\r\xC3\xA9\xFF") + '\0';
// Text placed where a placeholder stands: escapes, "+" and the bytes the groups refuse.
const std::string kCaptureBytes = std::string("abc/%2F%41%zZ%+#?=&.\n\r\xE2\x82\xAC");
const char* const kNames[] = {"a", "b", "id", "x", "", "+x", "#y", "a b", "\xC3\xA9"};

struct GeneratedTemplate {
    std::string pattern;
    // Literal pieces and placeholder operators, in order, for building paths that fit.
    std::vector<std::string> pieces;
    std::vector<int> ops;
};

GeneratedTemplate MakeTemplate(Inputs& in, std::size_t mostPlaceholders) {
    GeneratedTemplate made;
    made.pieces.push_back(in.Run(kLiteralBytes, 4));
    made.pattern = made.pieces.back();
    for (std::size_t n = in.Below(mostPlaceholders + 1); n > 0; --n) {
        const int op = static_cast<int>(in.Below(3));
        made.ops.push_back(op);
        made.pattern += op == 0 ? "{" : op == 1 ? "{+" : "{#";
        made.pattern += kNames[in.Below(std::size(kNames))];
        made.pattern += "}";
        made.pieces.push_back(in.Chance(30) ? std::string() : in.Run(kLiteralBytes, 3));
        made.pattern += made.pieces.back();
    }
    if (in.Chance(5)) {
        made.pattern += "{tail"; // unterminated: adds nothing
    }
    return made;
}

// A path that fits the template most of the time, then sometimes spoilt by one change.
std::string MakePath(Inputs& in, const GeneratedTemplate& made) {
    std::string path = made.pieces[0];
    for (std::size_t i = 0; i < made.ops.size(); ++i) {
        if (made.ops[i] == 2) {
            path += '#';
        }
        std::string value = in.Run(kCaptureBytes, 5);
        if (made.ops[i] == 0 && in.Chance(80)) {
            std::erase(value, '/');
        }
        path += value + made.pieces[i + 1];
    }
    if (in.Chance(10)) {
        path += "?" + in.Run("ab=&%+1", 6);
    }
    if (!path.empty() && in.Chance(25)) {
        const std::size_t at = in.Below(path.size());
        switch (in.Below(3)) {
        case 0:
            path.erase(at, 1);
            break;
        case 1:
            path.insert(at, 1, in.From("/#a\n."));
            break;
        default:
            path[at] = in.From("/#b.");
            break;
        }
    }
    return path;
}

std::string Printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '\\') {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

TEST(RoutingOracle, MethodNamesAndHostCodes) {
    const std::int32_t codes[] = {std::numeric_limits<std::int32_t>::min(),
                                  -8,
                                  -1,
                                  0,
                                  1,
                                  2,
                                  3,
                                  4,
                                  5,
                                  6,
                                  7,
                                  8,
                                  9,
                                  10,
                                  255,
                                  256,
                                  std::numeric_limits<std::int32_t>::max()};
    for (const std::int32_t code : codes) {
        EXPECT_EQ(HttpMethodName(static_cast<HttpMethod>(code)), RefMethodName(code)) << code;
        EXPECT_EQ(static_cast<std::int32_t>(HttpMethodFromHost(code)), RefMethodFromHost(code))
            << code;
    }
}

TEST(RoutingOracle, FunctionNamesFromMethodAndPath) {
    Inputs in(1);
    const std::string bytes = "abcXYZ09/!+-._{}/ ?%\xC3\xA9z";
    for (int round = 0; round < 20000; ++round) {
        const auto method = static_cast<std::int32_t>(in.Below(10));
        const std::string path = in.Run(bytes, 24);
        ASSERT_EQ(FunctionNameFromPath(static_cast<HttpMethod>(method), path),
                  RefFunctionName(method, path))
            << "method " << method << " path '" << Printable(path) << "'";
    }
    // A path far beyond the message formatter's size limit is turned into a name whole.
    const std::string longPath = "/" + std::string(5000, 'a') + "/{id}";
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Put, longPath), RefFunctionName(7, longPath));
}

TEST(RoutingOracle, TemplatesTranslateToTheSameExpression) {
    Inputs in(2);
    for (int round = 0; round < 20000; ++round) {
        const GeneratedTemplate made = MakeTemplate(in, 5);
        const RouteTemplate translated = TranslateRouteTemplate(made.pattern);
        const RefTemplate expected = RefTranslate(made.pattern);
        ASSERT_TRUE(translated.Ok()) << Printable(made.pattern) << ": " << translated.error;
        ASSERT_EQ(translated.expression, expected.expression) << Printable(made.pattern);
        ASSERT_EQ(translated.placeholders.size(), expected.placeholders.size());
        for (std::size_t i = 0; i < expected.placeholders.size(); ++i) {
            EXPECT_EQ(static_cast<int>(translated.placeholders[i].op), expected.placeholders[i].op);
            EXPECT_EQ(translated.placeholders[i].name, expected.placeholders[i].name);
        }
    }
}

// Functions with the given routes; `routes` are built from them as a request would build them.
struct Table {
    std::deque<BindingFunctionDescriptor> functions;
    std::vector<RemotingRoute> routes;
    std::vector<RefRoute> reference;
};

TEST(RoutingOracle, RouteListsChooseTheSameRouteAndCaptures) {
    Inputs in(3);
    std::size_t matched = 0;
    std::size_t missed = 0;
    std::size_t withCaptures = 0;
    const std::int32_t methods[] = {0, 2, 6, 8};
    for (int round = 0; round < 6000; ++round) {
        Table table;
        std::vector<GeneratedTemplate> made;
        for (std::size_t n = 1 + in.Below(4); n > 0; --n) {
            made.push_back(MakeTemplate(in, 3));
            BindingFunctionDescriptor& function = table.functions.emplace_back();
            function.name = "F" + std::to_string(table.functions.size());
            RefRoute reference;
            std::string path = made.back().pattern;
            if (in.Chance(15)) {
                path += '/';
            }
            if (path.empty() || in.Chance(5)) {
                // Reached by name only: the name is the pattern.
                reference.pattern = function.name;
            } else {
                ASSERT_FALSE(SetRoutePath(function, path).failed) << Printable(path);
                reference.pattern =
                    path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
                ASSERT_EQ(function.path, reference.pattern);
            }
            reference.method = methods[in.Below(std::size(methods))];
            if (reference.method == 8) {
                reference.methodText = in.Chance(50) ? "PURGE" : "LINK";
                SetRouteCustomMethod(function, reference.methodText);
            } else {
                SetRouteMethod(function, static_cast<HttpMethod>(reference.method));
            }
            table.reference.push_back(reference);
        }
        for (const BindingFunctionDescriptor& function : table.functions) {
            table.routes.push_back(BuildRoute(function));
        }

        for (int request = 0; request < 4; ++request) {
            RouteMatch match;
            const std::int32_t method = methods[in.Below(std::size(methods))];
            match.method = static_cast<HttpMethod>(method);
            match.methodText = method == 8 ? (in.Chance(50) ? "PURGE" : "LINK") : "";
            match.path = MakePath(in, made[in.Below(made.size())]);
            const RefMatch expected =
                RefMatchRoutes(table.reference, method, match.methodText, match.path);
            const bool actual = MatchRoutes(match, table.routes);
            ASSERT_EQ(actual, expected.matched) << "path '" << Printable(match.path) << "'";
            if (!expected.matched) {
                ++missed;
                EXPECT_EQ(match.function, nullptr);
                continue;
            }
            ++matched;
            withCaptures += expected.captures.empty() ? 0 : 1;
            ASSERT_EQ(*match.routeIndex, expected.index)
                << "path '" << Printable(match.path) << "'";
            EXPECT_EQ(match.function, &table.functions[expected.index]);
            EXPECT_EQ(match.captures, expected.captures)
                << "path '" << Printable(match.path) << "' pattern '"
                << Printable(table.reference[expected.index].pattern) << "'";
        }
    }
    // Both outcomes, and matches with captures, are common enough to mean something.
    EXPECT_GT(matched, 4000u);
    EXPECT_GT(missed, 4000u);
    EXPECT_GT(withCaptures, 2000u);
}

TEST(RoutingOracle, UrlDecodingOfCapturesAndQueryParts) {
    Inputs in(4);
    const std::string bytes = std::string("%%%++aF0g9/=&?\xC3\xA9\x80") + '\0';
    for (int round = 0; round < 50000; ++round) {
        const std::string text = in.Run(bytes, 12);
        ASSERT_EQ(UrlDecode(text), RefUrlDecode(text)) << "'" << Printable(text) << "'";
    }
    // Every escape of two characters, hexadecimal or not, and of every byte value.
    for (int high = 0; high < 256; ++high) {
        for (int low = 0; low < 256; low += 7) {
            const std::string text = {'%', static_cast<char>(high), static_cast<char>(low)};
            ASSERT_EQ(UrlDecode(text), RefUrlDecode(text)) << "'" << Printable(text) << "'";
        }
    }
}

// What a host sees: the declared entry points map the host's method code and text and match the
// whole request path against the function's own route, as the reference says.
TEST(RoutingOracle, DeclaredFunctionsAnswerAsTheirRoutesSay) {
    struct Seen {
        int calls = 0;
        HttpMethod method = HttpMethod::None;
        std::string methodText;
        Captures captures;
    } seen;
    const auto record = [&seen](const HttpBaseTransport::Request& request, Captures captures) {
        ++seen.calls;
        seen.method = request.method;
        seen.methodText = request.methodText;
        seen.captures = std::move(captures);
    };

    BindingRegistry registry;
    registry.Reinitialise();
    struct Declared {
        const char* name;
        RefRoute route;
    };
    const std::vector<Declared> declared = {
        {"Pair", {"/r.(x)/{a}-{+b}", 0, ""}},
        {"Purge", {"/c/{a}{#b}", 8, "PURGE"}},
        {"Post", {"/lit/x.y", 6, ""}},
    };
    OperationResult registered = RegisterRemotingFunction(
        registry, "Pair", "/r.(x)/{a}-{+b}/", HttpMethod::None,
        {{"a", ArgumentLocation::Path}, {"b", ArgumentLocation::Path}},
        [&record](const HttpBaseTransport::Request& request, std::string a, std::string b) {
            record(request, {{"a", a}, {"b", b}});
        });
    ASSERT_FALSE(registered.failed) << registered.ToString();
    registered = RegisterRemotingFunction(
        registry, "Purge", "/c/{a}{#b}", HttpMethod::Custom,
        {{"a", ArgumentLocation::Path}, {"b", ArgumentLocation::Path}},
        [&record](const HttpBaseTransport::Request& request, std::string a, std::string b) {
            record(request, {{"a", a}, {"b", b}});
        });
    ASSERT_FALSE(registered.failed) << registered.ToString();
    SetRouteCustomMethod(*registry.FindFunctionForUpdate("Purge"), "PURGE");
    registered = RegisterRemotingFunction(
        registry, "Post", "/lit/x.y", HttpMethod::Post, {},
        [&record](const HttpBaseTransport::Request& request) { record(request, {}); });
    ASSERT_FALSE(registered.failed) << registered.ToString();
    const std::unique_ptr<BuiltApiDeclaration> declaration = BuildPluginApiDeclaration(registry);

    Inputs in(5);
    const std::int32_t codes[] = {-1, 0, 1, 2, 6, 7, 8, 9, 100};
    const char* const texts[] = {nullptr, "PURGE", "purge", "LINK", ""};
    const std::string pathBytes = "r.(x)/c#ab-%41+lit.y";
    std::size_t called = 0;
    std::size_t refused = 0;
    for (int round = 0; round < 3000; ++round) {
        const Declared& function = declared[in.Below(declared.size())];
        Testing::FunctionRequest request;
        request.method = static_cast<std::uint32_t>(codes[in.Below(std::size(codes))]);
        const char* text = texts[in.Below(std::size(texts))];
        if (text != nullptr) {
            request.methodText = text;
        }
        // A path of another function, a near miss or plain noise.
        const Declared& other = in.Chance(70) ? function : declared[in.Below(declared.size())];
        if (in.Chance(80)) {
            request.path = other.route.pattern;
            for (const std::string_view name : {"{a}", "{+b}", "{#b}"}) {
                const std::size_t at = request.path.find(name);
                if (at != std::string::npos) {
                    const std::string value =
                        in.Chance(90) ? in.From(pathBytes) + in.Run(pathBytes, 4) : "";
                    request.path.replace(at, name.size(), name[1] == '#' ? "#" + value : value);
                }
            }
        } else {
            request.path = in.Run(pathBytes, 14);
        }
        if (in.Chance(20) && !request.path.empty()) {
            request.path.erase(in.Below(request.path.size()), 1);
        }

        const std::int32_t method = RefMethodFromHost(static_cast<std::int32_t>(request.method));
        const std::string methodText = method == 8 ? request.methodText.value_or("") : "";
        const RefMatch expected =
            RefMatchRoutes({function.route}, method, methodText, request.path);

        seen = {};
        const Testing::FunctionResponse response = CallDeclaredFunction(
            *Testing::FindDeclaredFunction(declaration->Declaration(), function.name), request);
        const std::string context =
            std::string(function.name) + " method " + std::to_string(request.method) + " text '" +
            request.methodText.value_or("<none>") + "' path '" + Printable(request.path) + "'";
        if (!expected.matched) {
            ++refused;
            EXPECT_EQ(seen.calls, 0) << context;
            EXPECT_EQ(response.value, "Invalid function") << context;
            EXPECT_EQ(response.status, 404) << context;
            continue;
        }
        bool emptyCapture = false;
        for (const auto& entry : expected.captures) {
            emptyCapture = emptyCapture || entry.second.empty();
        }
        if (emptyCapture) {
            // Argument binding refuses an empty text for a string parameter.
            EXPECT_EQ(seen.calls, 0) << context;
            EXPECT_EQ(response.value.get<std::string>().rfind("Expected value for argument '", 0),
                      0u)
                << context << ": " << response.value.dump();
            continue;
        }
        ++called;
        ASSERT_EQ(seen.calls, 1) << context << ": " << response.value.dump();
        EXPECT_EQ(static_cast<std::int32_t>(seen.method), method) << context;
        EXPECT_EQ(seen.methodText, methodText) << context;
        EXPECT_EQ(seen.captures, expected.captures) << context;
    }
    EXPECT_GT(called, 300u);
    EXPECT_GT(refused, 1000u);
}

} // namespace
} // namespace Korvel
