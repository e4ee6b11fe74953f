// The service-status plug-in against a plain second implementation of what it publishes.
//
// Seeded pseudo-random days are played through the test host: start-up with or without globals
// and login broadcasts, periodic passes, region and locale changes, LCDS broadcasts, login-data
// events and status documents that change between passes (texts in several locales, enumerators
// by name and by number, repeated keys and repeated entries, shapes that do not fit). After every
// step the events the plug-in fired, its own log lines and what its two declared functions answer
// are compared with what the model below says. The model keeps its own reading of the document:
// the JSON text is generated here as a tree with repeated keys allowed, and the value the reader
// builds from it (null leaves a value alone, a repeated object key merges, a repeated array key
// appends, a text ends at a zero character) is derived from that tree, not from the library.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/api_declaration.h"
#include "plugin/function_request_records.h"
#include "support/function_caller.h"
#include "support/service_status_names.h"
#include "support/test_host.h"

namespace Korvel::Testing {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kStatusNames = {"unknown", "online", "offline", "degraded",
                                               "deploying"};
const std::vector<std::string> kSeverityNames = {"info", "warn", "error"};

// ---------------------------------------------------------------------------------------------
// The model's dynamic value: what the reader makes of a document.

struct Value {
    enum class Kind { Empty, Bool, Signed, Unsigned, Float, String, Collection, Structure };
    Kind kind = Kind::Empty;
    int64_t s = 0;
    uint64_t u = 0;
    std::string text;
    std::vector<Value> elements;
    std::map<std::string, Value> members;

    const Value& Member(const std::string& name) const {
        static const Value empty;
        if (kind != Kind::Structure) {
            return empty;
        }
        const auto found = members.find(name);
        return found == members.end() ? empty : found->second;
    }
};

// A member read as text: a string's text, the empty text for anything else.
std::string TextOf(const Value& value, const std::string& member) {
    const Value& m = value.Member(member);
    return m.kind == Value::Kind::String ? m.text : std::string();
}

// An enumeration converted from a value by its names (or numbers); anything that names no
// enumerator gives the zero value.
int EnumOf(const Value& value, const std::vector<std::string>& names,
           const std::map<std::string, int64_t>& numericTexts) {
    const auto count = static_cast<int64_t>(names.size());
    switch (value.kind) {
    // Numbers wider than 32 bits name no enumerator (they are not cut to their low bits).
    case Value::Kind::Signed:
        return value.s >= 0 && value.s < count ? static_cast<int>(value.s) : 0;
    case Value::Kind::Unsigned:
        return value.u < static_cast<uint64_t>(count) ? static_cast<int>(value.u) : 0;
    case Value::Kind::String: {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == value.text) {
                return static_cast<int>(i);
            }
        }
        // Number texts: the generator only makes those listed, with their values (or -1 when
        // the text is no number).
        const auto found = numericTexts.find(value.text);
        if (found != numericTexts.end() && found->second >= 0 && found->second < count) {
            return static_cast<int>(found->second);
        }
        return 0;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// A JSON document as written: objects may repeat keys.

struct Node {
    enum class Kind { Null, Number, String, Array, Object };
    Kind kind = Kind::Null;
    std::string literal; // number literal, or a string's own escaped form
    Value number;        // what the reader makes of a number literal
    std::string text;    // raw bytes of a string (may hold a zero byte)
    std::vector<Node> items;
    std::vector<std::pair<std::string, Node>> pairs;
};

Node Null() {
    return Node{};
}
Node Str(std::string text) {
    Node n;
    n.kind = Node::Kind::String;
    n.text = std::move(text);
    return n;
}
Node Arr(std::vector<Node> items) {
    Node n;
    n.kind = Node::Kind::Array;
    n.items = std::move(items);
    return n;
}
Node Obj(std::vector<std::pair<std::string, Node>> pairs) {
    Node n;
    n.kind = Node::Kind::Object;
    n.pairs = std::move(pairs);
    return n;
}
Node Num(const char* literal, Value::Kind kind, int64_t s, uint64_t u) {
    Node n;
    n.kind = Node::Kind::Number;
    n.literal = literal;
    n.number.kind = kind;
    n.number.s = s;
    n.number.u = u;
    return n;
}

void WriteString(const std::string& text, std::string& out) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void Write(const Node& node, std::string& out) {
    switch (node.kind) {
    case Node::Kind::Null:
        out += "null";
        break;
    case Node::Kind::Number:
        out += node.literal;
        break;
    case Node::Kind::String:
        if (node.literal.empty()) {
            WriteString(node.text, out);
        } else {
            out += node.literal;
        }
        break;
    case Node::Kind::Array:
        out += '[';
        for (size_t i = 0; i < node.items.size(); ++i) {
            out += i == 0 ? "" : ", ";
            Write(node.items[i], out);
        }
        out += ']';
        break;
    case Node::Kind::Object:
        out += '{';
        for (size_t i = 0; i < node.pairs.size(); ++i) {
            out += i == 0 ? "" : ",";
            WriteString(node.pairs[i].first, out);
            out += ':';
            Write(node.pairs[i].second, out);
        }
        out += '}';
        break;
    }
}

std::string CutAtZero(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

// What the reader does with one value event on `target`.
void Read(const Node& node, Value& target) {
    switch (node.kind) {
    case Node::Kind::Null:
        break;
    case Node::Kind::Number:
        target = node.number;
        break;
    case Node::Kind::String:
        target = Value{};
        target.kind = Value::Kind::String;
        target.text = CutAtZero(node.text);
        break;
    case Node::Kind::Array:
        if (target.kind != Value::Kind::Collection) {
            target = Value{};
            target.kind = Value::Kind::Collection;
        }
        for (const Node& item : node.items) {
            target.elements.emplace_back();
            Read(item, target.elements.back());
        }
        break;
    case Node::Kind::Object:
        if (target.kind != Value::Kind::Structure) {
            target = Value{};
            target.kind = Value::Kind::Structure;
        }
        for (const auto& [key, item] : node.pairs) {
            Read(item, target.members[CutAtZero(key)]);
        }
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// The model of the plug-in.

struct Ticker {
    int severity = 0;
    std::string createdAt, updatedAt, heading, message;
};

Json TickerJson(const std::vector<Ticker>& ticker) {
    Json list = Json::array();
    for (const Ticker& t : ticker) {
        list.push_back(Json{{"createdAt", t.createdAt},
                            {"heading", t.heading},
                            {"message", t.message},
                            {"severity", kSeverityNames[static_cast<size_t>(t.severity)]},
                            {"updatedAt", t.updatedAt}});
    }
    return list;
}

struct Fired {
    std::string name;
    Json payload;
};

// Texts with their values as enumerator numbers; -1 marks a text that is no number.
const std::map<std::string, int64_t> kNumericTexts = {
    {"0", 0},   {"1", 1},   {"2", 2},  {"4", 4},   {"+2", 2},  {" 1", 1},  {"  3", 3},
    {"0x2", 2}, {"0X4", 4}, {"02", 2}, {"010", 8}, {"08", -1}, {"2 ", -1}, {"1.0", -1},
    {"-1", -1}, {"", 0},    {" ", -1}, {"1x", -1}, {"-0", 0},  {"0x", -1}, {"1e0", -1},
};

struct Response {
    uint32_t transport = 0;
    uint32_t status = 200;
    std::optional<std::string> body;
    // The document the body holds when it is one (empty value for blanks, "null").
    std::optional<Value> document;
};

// How often the days reached the cases worth reaching, over all seeds.
struct Coverage {
    size_t passes = 0, parsed = 0, failed = 0, noAddress = 0, messages = 0, translated = 0,
           numberedEnumerators = 0, broadcasts = 0, fromMessageKey = 0, unchanged = 0;
};
Coverage coverage;

class Model {
public:
    std::string region, locale;
    bool timerArmed = true;
    std::vector<Ticker> ticker;
    int status = 0;
    std::string humanUrl;
    Value regionData;
    std::map<std::string, Response> responses; // by url
    std::vector<Fired> fired;
    std::vector<std::string> lines;
    std::string lastBody;
    std::vector<std::string> fetched; // urls of the status fetches, in order

    void Publish(const char* path, const char* eventName, const Json& data) {
        const Json payload = Json{{"data", data}, {"eventType", "Update"}, {"uri", path}};
        fired.push_back({eventName, payload});
        fired.push_back({"OnJsonApiEvent", payload});
    }
    Json StatusJson() const {
        return Json{{"humanReadableUrl", humanUrl},
                    {"status", kStatusNames[static_cast<size_t>(status)]}};
    }

    bool SetRegionLocale(const std::string& r, const std::string& l) {
        if (r == region && l == locale) {
            ++coverage.unchanged;
            return false;
        }
        region = r;
        locale = l;
        return true;
    }

    void Pass() {
        const Value& node = regionData.Member(region).Member("servers").Member("service_status");
        std::string url = TextOf(node, "human_readable_status_url");
        const size_t hash = url.find('#');
        if (hash != std::string::npos) {
            url.insert(hash, "?" + locale);
        }
        const std::string api = TextOf(node, "api_url");
        ++coverage.passes;
        if (api.empty()) {
            ++coverage.noAddress;
            lines.push_back("1 vel-service-status: Unable to get service statuses. The "
                            "service_status/api_url is missing for region '" +
                            region + "' in the data_store.");
            timerArmed = false;
            return;
        }
        ticker.clear();
        status = 0;
        humanUrl = url;
        fetched.push_back(api);
        const auto found = responses.find(api);
        const bool ok = found != responses.end() && found->second.transport == 0 &&
                        found->second.status >= 200 && found->second.status <= 299 &&
                        found->second.document.has_value();
        lastBody = found == responses.end() ? "(none)" : found->second.body.value_or("(null)");
        if (ok) {
            ++coverage.parsed;
            Parse(*found->second.document);
        } else {
            ++coverage.failed;
            lines.push_back("1 vel-service-status: Failed to get service status for region '" +
                            region + "': " +
                            FailureDetails(api, found == responses.end() ? Response{1, 0, "", {}}
                                                                         : found->second));
        }
        Publish(kTickerPath, kTickerEvent, TickerJson(ticker));
        Publish(kStatusPath, kStatusEvent, StatusJson());
    }

    // "<status> - <error text> - '<body as pretty JSON>'" of a failed fetch, for the failures
    // the generator makes.
    static std::string FailureDetails(const std::string& url, const Response& response) {
        const std::string request = "GET " + url;
        if (response.transport != 0) {
            // No response: the host's text is the error, nothing else is set.
            return "0 - " + response.body.value_or("") + " - ''";
        }
        const std::string status = std::to_string(response.status) + " - ";
        if (!response.body.has_value() || response.body->empty()) {
            return status + "Error converting response for " + request + ": body was empty - ''";
        }
        if (*response.body == "{\"status\":") {
            return status + "Error deserializing json response for " + request +
                   ": Error: Invalid value. at offset 10. - '\"{\\\"status\\\":\"'";
        }
        if (*response.body == "<html>oops</html>") {
            return status + "Error deserializing json response for " + request +
                   ": Error: Invalid value. at offset 0. - '\"<html>oops</html>\"'";
        }
        if (!response.document.has_value() || response.document->kind == Value::Kind::Empty) {
            return status + " - ''";
        }
        // The one document served with a status outside 200-299.
        return status +
               " - '{\r\n    \"messages\": [\r\n        {\r\n            \"heading\": \"H\"\r\n"
               "        }\r\n    ],\r\n    \"status\": \"online\"\r\n}'";
    }

    void Parse(const Value& document) {
        status = EnumOf(document.Member("status"), kStatusNames, kNumericTexts);
        const Value& messages = document.Member("messages");
        if (messages.kind != Value::Kind::Collection) {
            return;
        }
        for (const Value& element : messages.elements) {
            Ticker t;
            t.createdAt = TextOf(element, "created_at");
            t.updatedAt = TextOf(element, "updated_at");
            t.severity = EnumOf(element.Member("severity"), kSeverityNames, kNumericTexts);
            t.heading = TextOf(element, "heading");
            t.message = TextOf(element, "content");
            const Value& translations = element.Member("translations");
            if (translations.kind == Value::Kind::Collection) {
                for (const Value& translation : translations.elements) {
                    const Value& tl = translation.Member("locale");
                    if (tl.kind != Value::Kind::String || tl.text != locale) {
                        continue;
                    }
                    ++coverage.translated;
                    if (!TextOf(translation, "heading").empty()) {
                        t.heading = TextOf(translation, "heading");
                    }
                    if (!TextOf(translation, "content").empty()) {
                        t.message = TextOf(translation, "content");
                    }
                    break;
                }
            }
            // An enumerator given by its number (or a number text).
            const Value& severity = element.Member("severity");
            if (t.severity != 0 &&
                severity.text != kSeverityNames[static_cast<size_t>(t.severity)]) {
                ++coverage.numberedEnumerators;
            }
            ++coverage.messages;
            ticker.push_back(std::move(t));
        }
    }

    // Broadcast messages as the host hands them over (JSON built into host values).
    void ShowBroadcasts(const Json& messages) {
        ticker.clear();
        const auto text = [](const Json& m, const char* key) {
            if (!m.is_object() || !m.contains(key) || !m[key].is_string()) {
                return std::string();
            }
            return CutAtZero(m[key].get<std::string>());
        };
        for (const Json& m : messages) {
            Ticker t;
            t.message = text(m, "content");
            if (t.message.empty()) {
                t.message = text(m, "messageKey");
                coverage.fromMessageKey += t.message.empty() ? 0 : 1;
            }
            ++coverage.broadcasts;
            const std::string severity = text(m, "severity");
            t.severity = severity == "warn" ? 1 : severity == "error" ? 2 : 0;
            ticker.push_back(std::move(t));
        }
        Publish(kTickerPath, kTickerEvent, TickerJson(ticker));
    }
};

// ---------------------------------------------------------------------------------------------
// Generators.

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    size_t Below(size_t n) { return static_cast<size_t>(rng_() % n); }
    bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
    template <typename T>
    const T& Pick(const std::vector<T>& from) {
        return from[Below(from.size())];
    }

    const std::vector<std::string> regions = {"EUW", "NA", "KR", "OC1", "TR", "euw", ""};
    const std::vector<std::string> locales = {"en_US", "de_DE", "pt_BR", "EN_us", "en-US",
                                              "en",    "",      "ja_JP", "x#y",   "en_US "};

    std::string Text() {
        static const std::vector<std::string> texts = {
            "Login issues",
            "St\xC3\xB6rung der Anmeldung",
            "\xE3\x83\xAD\xE3\x82\xB0\xE3\x82\xA4\xE3\x83\xB3\xE3\x81\xAE\xE5\x95\x8F\xE9\xA1\x8C",
            "",
            "a \"quoted\" \\ text",
            "line\nbreak",
            std::string("cut\0here", 8),
            "Servers restart at 10:00",
            "#",
            "x",
            std::string("\0lead", 5),
            "bad \xFF\xFE bytes",
            "\x7F"};
        // Now and then a text longer than a log line, or than a page of value storage.
        if (Chance(1)) {
            static const std::string longTexts[] = {std::string(5000, 'L') + "\xC3\xA9",
                                                    std::string(70000, 'M')};
            return longTexts[Below(2)];
        }
        return Pick(texts);
    }

    // A text node, now and then written with escapes the reader has to resolve.
    Node TextNode() {
        if (!Chance(15)) {
            return Str(Text());
        }
        static const std::vector<std::pair<std::string, std::string>> escaped = {
            {R"("\u00e9t\u00e9")", "\xC3\xA9t\xC3\xA9"},
            {R"("\ud83d\ude00 ok")", "\xF0\x9F\x98\x80 ok"},
            {R"("a\/b")", "a/b"},
            {R"("tab\there\r\n")", "tab\there\r\n"},
            {R"("\u0041\u0000B")", "A"},
            {R"("\u0000lead")", std::string("\0lead", 5)},
            {R"("\b\f")", "\b\f"},
        };
        const auto& [literal, text] = Pick(escaped);
        Node n = Str(text);
        n.literal = literal;
        return n;
    }

    // A locale text for a translation, near the current one.
    Node TranslationLocale(const std::string& current) {
        switch (Below(10)) {
        case 0:
        case 1:
        case 2:
            return Str(current);
        case 3:
            return Str(current + std::string("\0tail", 5));
        case 4: {
            std::string upper = current;
            for (char& c : upper) {
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            }
            return Str(upper);
        }
        case 5: {
            std::string dashed = current;
            for (char& c : dashed) {
                c = c == '_' ? '-' : c;
            }
            return Str(dashed);
        }
        case 6:
            return Str(current.substr(0, 2));
        case 7:
            return Num("5", Value::Kind::Unsigned, 0, 5);
        case 8:
            return Null();
        default:
            return Str(Pick(locales));
        }
    }

    Node Number() {
        switch (Below(11)) {
        case 0:
            return Num("1", Value::Kind::Unsigned, 0, 1);
        case 1:
            return Num("2", Value::Kind::Unsigned, 0, 2);
        case 2:
            return Num("3", Value::Kind::Unsigned, 0, 3);
        case 3:
            return Num("4", Value::Kind::Unsigned, 0, 4);
        case 4:
            return Num("0", Value::Kind::Unsigned, 0, 0);
        case 5:
            return Num("-1", Value::Kind::Signed, -1, 0);
        case 6:
            return Num("4294967298", Value::Kind::Unsigned, 0, 4294967298u);
        case 7:
            return Num("-4294967295", Value::Kind::Signed, -4294967295LL, 0);
        case 8:
            return Num("2.0", Value::Kind::Float, 0, 0);
        case 9:
            return Num("-0", Value::Kind::Signed, 0, 0);
        default:
            return Num("18446744073709551616", Value::Kind::Float, 0, 0);
        }
    }

    Node Enumerator(const std::vector<std::string>& names) {
        switch (Below(8)) {
        case 0:
        case 1:
        case 2:
            return Str(Pick(names));
        case 3: {
            std::string capital = Pick(names);
            capital[0] = static_cast<char>(capital[0] - 32);
            return Str(capital);
        }
        case 4: {
            auto it = kNumericTexts.begin();
            std::advance(it, static_cast<std::ptrdiff_t>(Below(kNumericTexts.size())));
            return Str(it->first);
        }
        case 5:
            return Number();
        case 6:
            return Str(Pick(std::vector<std::string>{"maintenance", "fatal", "critical"}));
        default:
            return Odd();
        }
    }

    // Something of the wrong shape.
    Node Odd() {
        switch (Below(5)) {
        case 0:
            return Null();
        case 1:
            return Number();
        case 2:
            return Arr({Str(Text())});
        case 3:
            return Obj({{"heading", Str(Text())}});
        default:
            return Num("true", Value::Kind::Bool, 0, 0);
        }
    }

    Node TextOrOdd() { return Chance(80) ? TextNode() : Odd(); }

    // Keys of an object in random order, some repeated.
    Node Shuffled(std::vector<std::pair<std::string, Node>> pairs) {
        for (size_t i = pairs.size(); i > 1; --i) {
            std::swap(pairs[i - 1], pairs[Below(i)]);
        }
        if (!pairs.empty() && Chance(20)) {
            auto again = pairs[Below(pairs.size())];
            again.second = Chance(50) ? Null() : TextOrOdd();
            pairs.insert(pairs.begin() + static_cast<std::ptrdiff_t>(Below(pairs.size() + 1)),
                         again);
        }
        return Obj(std::move(pairs));
    }

    Node Translation(const std::string& locale) {
        std::vector<std::pair<std::string, Node>> pairs;
        if (Chance(90)) {
            pairs.emplace_back("locale", TranslationLocale(locale));
        }
        if (Chance(75)) {
            pairs.emplace_back("heading", TextOrOdd());
        }
        if (Chance(75)) {
            pairs.emplace_back("content", TextOrOdd());
        }
        return Shuffled(std::move(pairs));
    }

    Node Message(const std::string& locale) {
        if (Chance(5)) {
            return Odd();
        }
        std::vector<std::pair<std::string, Node>> pairs;
        const char* texts[] = {"created_at", "updated_at", "heading", "content"};
        for (const char* key : texts) {
            if (Chance(85)) {
                pairs.emplace_back(key, TextOrOdd());
            }
        }
        if (Chance(85)) {
            pairs.emplace_back("severity", Enumerator(kSeverityNames));
        }
        if (Chance(80)) {
            if (Chance(90)) {
                std::vector<Node> translations;
                const size_t count = Below(5);
                for (size_t i = 0; i < count; ++i) {
                    translations.push_back(Translation(locale));
                }
                pairs.emplace_back("translations", Arr(std::move(translations)));
            } else {
                pairs.emplace_back("translations", Translation(locale));
            }
        }
        if (Chance(10)) {
            pairs.emplace_back("id", Number());
        }
        return Shuffled(std::move(pairs));
    }

    Node Messages(const std::string& locale) {
        std::vector<Node> messages;
        // Mostly a few messages, now and then a long list.
        const size_t count = Chance(3) ? 50 + Below(150) : Below(6);
        for (size_t i = 0; i < count; ++i) {
            // Now and then the same message twice.
            if (!messages.empty() && Chance(15)) {
                messages.push_back(messages.back());
            } else {
                messages.push_back(Message(locale));
            }
        }
        return Arr(std::move(messages));
    }

    Node Document(const std::string& locale) {
        if (Chance(4)) {
            return Chance(50) ? Arr({Message(locale)}) : Str("online");
        }
        std::vector<std::pair<std::string, Node>> pairs;
        if (Chance(90)) {
            pairs.emplace_back("status", Enumerator(kStatusNames));
        }
        if (Chance(90)) {
            pairs.emplace_back("messages", Chance(90) ? Messages(locale) : Odd());
        }
        if (Chance(10)) {
            // A second "messages" array appends to the first.
            pairs.emplace_back("messages", Messages(locale));
        }
        if (Chance(10)) {
            pairs.emplace_back("extra", Obj({{"status", Str("offline")}}));
        }
        return Obj(std::move(pairs));
    }

    Response ResponseFor(const std::string& locale) {
        Response response;
        const size_t kind = Below(20);
        if (kind < 14) {
            const Node document = Document(locale);
            std::string body;
            Write(document, body);
            Value value;
            Read(document, value);
            response.status = Chance(85) ? 200 : static_cast<uint32_t>(Chance(50) ? 204 : 299);
            response.body = body;
            response.document = value;
            return response;
        }
        switch (kind) {
        case 14: {
            response.status = Pick(std::vector<uint32_t>{199, 300, 304, 404, 500});
            const Node document =
                Obj({{"status", Str("online")}, {"messages", Arr({Obj({{"heading", Str("H")}})})}});
            Write(document, *(response.body = std::string()));
            response.document.emplace();
            Read(document, *response.document);
            break;
        }
        case 15:
            response.body = std::nullopt;
            break;
        case 16:
            response.body = Chance(50) ? "" : "{\"status\":";
            break;
        case 17:
            response.transport = Chance(50) ? 1 : 2;
            response.body = "connection refused";
            break;
        case 18:
            // A body of blanks or a bare null reads as an empty document.
            response.body = Chance(50) ? "  " : "null";
            response.document = Value{};
            break;
        default:
            response.body = "<html>oops</html>";
            break;
        }
        return response;
    }

    Json Broadcast() {
        if (Chance(8)) {
            return Pick(std::vector<Json>{nullptr, 5, "text", Json::array({{{"content", "x"}}})});
        }
        Json message = Json::object();
        const auto textOrOdd = [&]() -> Json {
            if (Chance(80)) {
                return Text();
            }
            return Pick(std::vector<Json>{nullptr, 7, Json::array({"a"}), false});
        };
        if (Chance(75)) {
            message["content"] = textOrOdd();
        }
        if (Chance(60)) {
            message["messageKey"] = Pick(std::vector<Json>{"k1", "maintenance_soon", "", 3});
        }
        if (Chance(85)) {
            message["severity"] = Pick(std::vector<Json>{"info", "warn", "error", "WARN", "Error",
                                                         " warn", "", "fatal", 1, nullptr});
        }
        return message;
    }

    Json Broadcasts() {
        Json messages = Json::array();
        const size_t count = Below(5);
        for (size_t i = 0; i < count; ++i) {
            messages.push_back(!messages.empty() && Chance(10) ? messages.back() : Broadcast());
        }
        return messages;
    }

    // The region data: per region a node that may lack parts.
    Json RegionData() {
        Json data = Json::object();
        for (const std::string& region : regions) {
            if (Chance(10)) {
                continue;
            }
            Json node = Json::object();
            const std::string tag = region.empty() ? "_" : region;
            const size_t api = Below(10);
            if (api < 7) {
                node["api_url"] = "https://status.example/" + tag + "/v1/status";
            } else if (api == 7) {
                node["api_url"] = 12;
            } else if (api == 8) {
                node["api_url"] = "";
            }
            if (Chance(85)) {
                node["human_readable_status_url"] = Pick(std::vector<std::string>{
                    "https://status.example/#/" + tag, "https://status.example/" + tag, "#", "",
                    "https://s/#/a#b"});
            }
            const size_t shape = Below(20);
            data[region] = shape == 0   ? Json{{"service_status", node}}
                           : shape == 1 ? Json{{"servers", Json::array({node})}}
                                        : Json{{"servers", {{"service_status", node}}}};
        }
        return data;
    }

private:
    std::mt19937 rng_;
};

// The model's value of JSON passed to the plug-in through host values.
Value FromJson(const Json& json) {
    Value value;
    if (json.is_string()) {
        value.kind = Value::Kind::String;
        value.text = CutAtZero(json.get<std::string>());
    } else if (json.is_number_integer()) {
        value.kind = Value::Kind::Signed;
        value.s = json.get<int64_t>();
    } else if (json.is_object()) {
        value.kind = Value::Kind::Structure;
        for (const auto& [key, item] : json.items()) {
            value.members[key] = FromJson(item);
        }
    } else if (json.is_array()) {
        value.kind = Value::Kind::Collection;
        for (const Json& item : json) {
            value.elements.push_back(FromJson(item));
        }
    }
    return value;
}

// Calls a declared function as a host does; the value it answered with.
Json CallDeclared(const ApiDeclaration& declaration, const std::string& name, const char* path) {
    Testing::FunctionRequest request;
    request.path = path;
    const Testing::FunctionResponse response =
        Testing::CallDeclaredFunction(declaration, name, request);
    return response.status == 0 ? response.value : Json("failed");
}

// Equal values; texts that are no UTF-8 are shown replaced when they differ.
void ExpectSame(const Json& actual, const Json& expected) {
    if (actual != expected) {
        ADD_FAILURE() << "declared function answered\n  "
                      << actual.dump(-1, ' ', false, Json::error_handler_t::replace)
                      << "\nmodel says\n  "
                      << expected.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

std::string Describe(const std::vector<Fired>& events) {
    std::string out;
    for (const Fired& event : events) {
        out += event.name + " " +
               event.payload.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    return out;
}

// Compares what the host saw since the last step with the model, then clears both records.
void Compare(TestHost& host, Model& model, const std::string& step) {
    SCOPED_TRACE(step);
    SCOPED_TRACE("last document read: " + model.lastBody);
    std::vector<Fired> seen;
    for (const FiredEvent& event : host.Events()) {
        seen.push_back({event.name, event.payload});
    }
    EXPECT_EQ(seen.size(), model.fired.size()) << Describe(seen);
    for (size_t i = 0; i < seen.size() && i < model.fired.size(); ++i) {
        if (seen[i].name != model.fired[i].name || seen[i].payload != model.fired[i].payload) {
            ADD_FAILURE() << "event " << i << " differs:\n  plug-in: " << seen[i].name << " "
                          << seen[i].payload.dump(-1, ' ', false, Json::error_handler_t::replace)
                          << "\n  model:   " << model.fired[i].name << " "
                          << model.fired[i].payload.dump(-1, ' ', false,
                                                         Json::error_handler_t::replace);
            break;
        }
    }

    std::vector<std::string> lines;
    for (const LogLine& line : host.LogLines()) {
        if (line.text.rfind("vel-service-status:", 0) == 0) {
            // With its level: 1 WARN, 3 ALWAYS.
            lines.push_back(std::to_string(line.level) + " " + line.text);
        }
    }
    ASSERT_EQ(lines.size(), model.lines.size()) << (lines.empty() ? std::string() : lines.back());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], model.lines[i]);
    }

    const ApiDeclaration& declaration = *host.Descriptor().apiDeclaration;
    ExpectSame(CallDeclared(declaration, "GetVelServiceStatusV1TickerMessages", kTickerPath),
               TickerJson(model.ticker));
    ExpectSame(CallDeclared(declaration, "GetVelServiceStatusV1ZumStatus", kStatusPath),
               model.StatusJson());

    std::vector<std::string> fetched;
    for (const ExternalRequest& request : host.ExternalRequests()) {
        EXPECT_EQ(request.method, 2u);
        EXPECT_EQ(request.timeLimit, 20u);
        fetched.push_back(request.url);
    }
    EXPECT_EQ(fetched, model.fetched);

    host.ClearRecords();
    model.fetched.clear();
    model.fired.clear();
    model.lines.clear();
}

void SetResponse(TestHost& host, Model& model, const std::string& url, const Response& response) {
    CannedExternalResponse canned;
    canned.transportCode = response.transport;
    canned.status = response.status;
    canned.headers = {{"content-type", "application/json"}};
    canned.body = response.body;
    host.SetExternalResponse(url, canned);
    model.responses[url] = response;
}

// One seeded day of the plug-in.
void PlayDay(uint32_t seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator gen(seed);
    Model model;
    TestHost host;

    // Region data as a structure of regions; now and then unreadable, or of another shape, so
    // that every pass finds no address.
    const Json regionData = gen.RegionData();
    const size_t dataShape = gen.Below(40);
    if (dataShape == 0) {
        host.SetResourceError(kRegionData, 500, "Store unavailable");
    } else if (dataShape == 1) {
        host.SetResource(kRegionData, Json::array({regionData}));
    } else {
        host.SetResource(kRegionData, regionData);
        model.regionData = FromJson(regionData);
    }

    std::string region = gen.Pick(gen.regions);
    std::string locale = gen.Pick(gen.locales);
    const bool haveGlobals = gen.Chance(90);
    if (haveGlobals) {
        // Globals hold more than region and locale; a member that is no text reads as empty.
        Json globals = Json{{"locale", locale}, {"region", region}, {"install", "x"}};
        if (gen.Chance(10)) {
            globals["locale"] = 3;
            locale.clear();
        }
        if (gen.Chance(5)) {
            globals.erase("region");
            region.clear();
        }
        host.SetResource(kGlobals, globals);
    } else {
        host.SetResourceError(kGlobals, 404, "Not found");
    }
    for (const std::string& r : gen.regions) {
        const std::string url = "https://status.example/" + (r.empty() ? "_" : r) + "/v1/status";
        if (gen.Chance(90)) {
            SetResponse(host, model, url, gen.ResponseFor(locale));
        }
    }
    Json loginBroadcasts;
    if (gen.Chance(40)) {
        loginBroadcasts = gen.Broadcasts();
        host.SetResource(kLoginData,
                         Json{{"broadcastNotification", {{"broadcastMessages", loginBroadcasts}}}});
    }

    host.Load();
    ASSERT_TRUE(host.Initialize());
    if (loginBroadcasts.is_array() && !loginBroadcasts.empty()) {
        model.lines.push_back("3 vel-service-status: a notification with " +
                              std::to_string(loginBroadcasts.size()) + " messages exist.");
        model.ShowBroadcasts(loginBroadcasts);
    }
    if (haveGlobals) {
        model.SetRegionLocale(region, locale);
    }
    host.RunDueTimers();
    model.Pass();
    ASSERT_NO_FATAL_FAILURE(Compare(host, model, "start"));

    for (int step = 0; step < 14; ++step) {
        std::string what;
        switch (gen.Below(6)) {
        case 0:
        case 1: {
            // One to three periods: one pass each while the timer runs.
            const size_t periods = gen.Chance(80) ? 1 : 2 + gen.Below(2);
            what = "periodic passes: " + std::to_string(periods);
            host.AdvanceTime(periods * 120s);
            for (size_t i = 0; i < periods && model.timerArmed; ++i) {
                model.Pass();
            }
            break;
        }
        case 2: {
            // Mostly a real change, sometimes the same pair again, sometimes members that are
            // no texts.
            Json payload;
            std::string r = gen.Chance(30) ? model.region : gen.Pick(gen.regions);
            std::string l = gen.Chance(30) ? model.locale : gen.Pick(gen.locales);
            if (gen.Chance(10)) {
                payload = Json{{"region", r}, {"locale", 5}};
                l.clear();
            } else if (gen.Chance(5)) {
                payload = Json::array({r, l});
                r.clear();
                l.clear();
            } else {
                payload = Json{{"locale", l}, {"region", r}, {"other", "x"}};
            }
            what = "region/locale " + payload.dump(-1, ' ', false, Json::error_handler_t::replace);
            host.Deliver("OnRegionLocaleChanged", payload);
            if (model.SetRegionLocale(r, l)) {
                model.Pass();
            }
            break;
        }
        case 3: {
            // One or two notifications; they reach the plug-in through deferred tasks, so a
            // region change the host delivers meanwhile runs its pass first.
            std::vector<Json> notifications = {gen.Broadcasts()};
            if (gen.Chance(20)) {
                notifications.push_back(gen.Broadcasts());
            }
            what = "LCDS broadcasts";
            for (const Json& messages : notifications) {
                what += " " + messages.dump(-1, ' ', false, Json::error_handler_t::replace);
                host.Deliver(kLcdsEvent, Json{{"clientId", "c"},
                                              {"subtopic", "s"},
                                              {"typeName", kLcdsClass},
                                              {"body", {{"broadcastMessages", messages}}}});
            }
            if (gen.Chance(20)) {
                const std::string r = gen.Pick(gen.regions);
                const std::string l = gen.Pick(gen.locales);
                what += " with a change to " + r + "/" + l + " before they run";
                host.Deliver("OnRegionLocaleChanged", Json{{"region", r}, {"locale", l}});
                if (model.SetRegionLocale(r, l)) {
                    model.Pass();
                }
            }
            host.RunDueTimers();
            for (const Json& messages : notifications) {
                model.lines.push_back("3 vel-service-status: a notification with " +
                                      std::to_string(messages.size()) + " messages received.");
                model.ShowBroadcasts(messages);
            }
            break;
        }
        case 4: {
            const Json messages = gen.Broadcasts();
            const char* type = gen.Pick(std::vector<const char*>{"Create", "Update", "Delete"});
            what = std::string("login data ") + type + " " +
                   messages.dump(-1, ' ', false, Json::error_handler_t::replace);
            host.Deliver(
                kLoginEvent,
                Json{{"uri", gen.Chance(50) ? kLoginData : kLoginData + 1},
                     {"eventType", type},
                     {"data", {{"broadcastNotification", {{"broadcastMessages", messages}}}}}});
            if (std::string(type) != "Delete" && !messages.empty()) {
                model.lines.push_back("3 vel-service-status: a notification with " +
                                      std::to_string(messages.size()) + " messages exist.");
                model.ShowBroadcasts(messages);
            }
            break;
        }
        default: {
            // The status document of a region changes; nothing happens until the next pass.
            const std::string r = gen.Pick(gen.regions);
            const std::string url =
                "https://status.example/" + (r.empty() ? "_" : r) + "/v1/status";
            // Texts of the locale the player is likely to have by then.
            SetResponse(host, model, url,
                        gen.ResponseFor(gen.Chance(70) ? model.locale : gen.Pick(gen.locales)));
            what = "new document for " + url;
            break;
        }
        }
        ASSERT_NO_FATAL_FAILURE(Compare(host, model, "step " + std::to_string(step) + ": " + what));
    }
}

// A host that hands its listeners each event at once and delivers further events while the
// plug-in publishes or waits for the status document: whatever arrives in between, the last
// ticker and status the plug-in published are what its declared functions answer.
void PlayBusyDay(uint32_t seed, size_t& injected) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator gen(seed);
    TestHost host;
    host.SetResource(kRegionData, gen.RegionData());
    host.SetResource(kGlobals,
                     Json{{"locale", gen.Pick(gen.locales)}, {"region", gen.Pick(gen.regions)}});
    for (const std::string& r : gen.regions) {
        CannedExternalResponse canned;
        const Response response = gen.ResponseFor(gen.Pick(gen.locales));
        canned.transportCode = response.transport;
        canned.status = response.status;
        canned.body = response.body;
        host.SetExternalResponse("https://status.example/" + (r.empty() ? "_" : r) + "/v1/status",
                                 canned);
    }
    const auto interject = [&] {
        if (!gen.Chance(40)) {
            return;
        }
        ++injected;
        switch (gen.Below(3)) {
        case 0:
            host.Deliver("OnRegionLocaleChanged", Json{{"region", gen.Pick(gen.regions)},
                                                       {"locale", gen.Pick(gen.locales)}});
            break;
        case 1:
            host.Deliver(
                kLoginEvent,
                Json{{"uri", kLoginData},
                     {"eventType", "Update"},
                     {"data",
                      {{"broadcastNotification", {{"broadcastMessages", gen.Broadcasts()}}}}}});
            break;
        default:
            host.Deliver(kLcdsEvent, Json{{"typeName", kLcdsClass},
                                          {"body", {{"broadcastMessages", gen.Broadcasts()}}}});
            break;
        }
    };
    host.WhilePublishing([&](const std::string&) { interject(); });
    host.WhileFetching([&](const std::string&) { interject(); });

    host.Load();
    ASSERT_TRUE(host.Initialize());
    for (int step = 0; step < 12; ++step) {
        switch (gen.Below(3)) {
        case 0:
            host.AdvanceTime(120s);
            break;
        case 1:
            host.Deliver("OnRegionLocaleChanged", Json{{"region", gen.Pick(gen.regions)},
                                                       {"locale", gen.Pick(gen.locales)}});
            break;
        default:
            host.Deliver(kLcdsEvent, Json{{"typeName", kLcdsClass},
                                          {"body", {{"broadcastMessages", gen.Broadcasts()}}}});
            break;
        }
        host.RunDueTimers();

        std::optional<Json> ticker, status;
        for (const FiredEvent& event : host.Events()) {
            if (event.name == kTickerEvent) {
                ticker = event.payload["data"];
            } else if (event.name == kStatusEvent) {
                status = event.payload["data"];
            }
        }
        SCOPED_TRACE("step " + std::to_string(step));
        const ApiDeclaration& declaration = *host.Descriptor().apiDeclaration;
        if (ticker.has_value()) {
            ExpectSame(
                CallDeclared(declaration, "GetVelServiceStatusV1TickerMessages", kTickerPath),
                *ticker);
        }
        if (status.has_value()) {
            ExpectSame(CallDeclared(declaration, "GetVelServiceStatusV1ZumStatus", kStatusPath),
                       *status);
        }
    }
}

TEST(PublishedValuesOracle, EventsDeliveredMidPassLeaveTheLastPublishedValuesCurrent) {
    size_t injected = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        ASSERT_NO_FATAL_FAILURE(PlayBusyDay(seed, injected));
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_GT(injected, 500u);
}

TEST(PublishedValuesOracle, SeededDaysPublishWhatThePlainModelSays) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        ASSERT_NO_FATAL_FAILURE(PlayDay(seed));
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    // The days reached every case the model tells apart.
    EXPECT_GT(coverage.passes, 1000u);
    EXPECT_GT(coverage.parsed, 500u);
    EXPECT_GT(coverage.failed, 100u);
    EXPECT_GT(coverage.noAddress, 50u);
    EXPECT_GT(coverage.messages, 1500u);
    EXPECT_GT(coverage.translated, 200u);
    EXPECT_GT(coverage.numberedEnumerators, 20u);
    EXPECT_GT(coverage.broadcasts, 500u);
    EXPECT_GT(coverage.fromMessageKey, 50u);
    EXPECT_GT(coverage.unchanged, 50u);
}

} // namespace
} // namespace Korvel::Testing
