// The YAML reader checked against a second, deliberately plain reading of the same rules. The
// reference reads libyaml's events itself and builds its own tree by recursive descent: the word
// tables, the plain-scalar number rule, quoted and block scalars, explicit tags and their
// conversions with their messages, mappings with repeated keys, sequences, anchors and aliases,
// and the 1-based positions of the reader's own messages. Documents come from a seeded generator
// that writes random event streams through libyaml's emitter (sometimes damaged afterwards), so
// every run sees the same cases.

#include <yaml.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "encoding/yaml_reader.h"
#include "support/tree_text.h"

namespace Korvel {
namespace {

// ---------------------------------------------------------------------------------------------
// The reference tree.

struct RefNode {
    enum Kind { Empty, Bool, Signed, Unsigned, Float, String, Sequence, Mapping };
    Kind kind = Empty;
    bool flag = false;
    std::int64_t sint = 0;
    std::uint64_t uint = 0;
    double real = 0.0;
    std::string text;
    std::vector<std::unique_ptr<RefNode>> elements;
    std::map<std::string, std::unique_ptr<RefNode>> members; // byte order of the names

    void Reset(Kind to) {
        kind = to;
        text.clear();
        elements.clear();
        members.clear();
    }
};

std::unique_ptr<RefNode> Clone(const RefNode& node) {
    auto copy = std::make_unique<RefNode>();
    copy->kind = node.kind;
    copy->flag = node.flag;
    copy->sint = node.sint;
    copy->uint = node.uint;
    copy->real = node.real;
    copy->text = node.text;
    for (const auto& element : node.elements) {
        copy->elements.push_back(Clone(*element));
    }
    for (const auto& [name, member] : node.members) {
        copy->members.emplace(name, Clone(*member));
    }
    return copy;
}

std::string Print(const RefNode& node) {
    switch (node.kind) {
    case RefNode::Empty:
        return "~";
    case RefNode::Bool:
        return node.flag ? "bool:true" : "bool:false";
    case RefNode::Signed:
        return "signed:" + std::to_string(node.sint);
    case RefNode::Unsigned:
        return "unsigned:" + std::to_string(node.uint);
    case RefNode::Float:
        return "float:" + Testing::FloatText(node.real);
    case RefNode::String:
        return "string:" + Testing::QuotedText(node.text);
    case RefNode::Sequence: {
        std::string out = "[";
        for (const auto& element : node.elements) {
            out += Print(*element) + ", ";
        }
        return out + "]";
    }
    case RefNode::Mapping: {
        std::string out = "{";
        for (const auto& [name, member] : node.members) {
            out += Testing::QuotedText(name) + ": " + Print(*member) + ", ";
        }
        return out + "}";
    }
    }
    return "?";
}

std::string Print(const BindingResult& result) {
    if (!result.IsSuccess()) {
        std::string out = "error: " + result.GetError();
        if (result.value.Kind() != BindingKind::Structure || result.value.Size() != 1) {
            out += " (with a value other than the error structure)";
        }
        return out;
    }
    return Testing::TreeText(result.value);
}

// ---------------------------------------------------------------------------------------------
// The reference scalar rules.

const char* const kStrTag = "tag:yaml.org,2002:str";
const char* const kIntTag = "tag:yaml.org,2002:int";
const char* const kFloatTag = "tag:yaml.org,2002:float";
const char* const kBoolTag = "tag:yaml.org,2002:bool";

bool InList(const std::string& text, std::initializer_list<const char*> words) {
    for (const char* word : words) {
        if (text == word) {
            return true;
        }
    }
    return false;
}

bool TrueWord(const std::string& text) {
    return InList(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"});
}
bool FalseWord(const std::string& text) {
    return InList(text,
                  {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"});
}
bool NullWord(const std::string& text) {
    return InList(text, {"", "~", "null", "Null", "NULL"});
}

// Strings and member names of the value tree are C texts: they end at their first zero byte.
std::string CText(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

struct Failure {
    std::string message;
};

// Messages are formatted into at most 4095 characters, and a text argument is rendered as a C
// string, so it ends at its first zero byte.
std::string Limited(std::string message) {
    return message.size() > 4095 ? message.substr(0, 4095) : message;
}

std::string FormatError(const std::string& text, const char* type, bool range) {
    return Limited("Value " + CText(text) + " for 'yaml' of type " + type +
                   (range ? " is out of range" : " is in an incorrect format"));
}

// Whole text as a plain integer: blanks (which strtod skips too), an optional sign, then decimal
// digits or 0x and hexadecimal digits.
bool PlainIntegerText(const std::string& text, int& base, bool& negative) {
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos) {
        return false;
    }
    negative = text[at] == '-';
    if (text[at] == '+' || text[at] == '-') {
        ++at;
    }
    base = 10;
    if (text.size() > at + 1 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    if (at == text.size()) {
        return false;
    }
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (!(std::isdigit(static_cast<unsigned char>(c)) ||
              (base == 16 && std::isxdigit(static_cast<unsigned char>(c))))) {
            return false;
        }
    }
    return true;
}

void Convert(RefNode& target, const char* tag, const std::string& text, bool quoted) {
    const char* const begin = text.c_str();
    const char* const whole = begin + text.size();
    char* end = nullptr;
    if (tag != nullptr) {
        const std::string name = tag;
        if (name == kStrTag) {
            target.Reset(RefNode::String);
            target.text = CText(text);
        } else if (name == kIntTag && !text.empty() && text[0] == '-') {
            errno = 0;
            const long long value = std::strtoll(begin, &end, 0);
            if (end != whole) {
                throw Failure{FormatError(text, "int64_t", false)};
            }
            if (errno == ERANGE) {
                throw Failure{FormatError(text, "int64_t", true)};
            }
            target.Reset(RefNode::Signed);
            target.sint = value;
        } else if (name == kIntTag) {
            errno = 0;
            const unsigned long long value = std::strtoull(begin, &end, 0);
            if (end != whole) {
                throw Failure{FormatError(text, "uint64_t", false)};
            }
            // A minus sign (after blanks, which strtoull skips) makes the text negative.
            const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
            if (errno == ERANGE || (first != std::string::npos && text[first] == '-')) {
                throw Failure{FormatError(text, "uint64_t", true)};
            }
            target.Reset(RefNode::Unsigned);
            target.uint = value;
        } else if (name == kFloatTag) {
            errno = 0;
            const double value = std::strtod(begin, &end);
            if (end != whole) {
                throw Failure{FormatError(text, "double", false)};
            }
            if (std::isinf(value) || value > DBL_MAX || value < -DBL_MAX) {
                throw Failure{FormatError(text, "double", true)};
            }
            target.Reset(RefNode::Float);
            target.real = value;
        } else if (name == kBoolTag) {
            if (TrueWord(text) || FalseWord(text)) {
                target.Reset(RefNode::Bool);
                target.flag = TrueWord(text);
            }
        } else {
            throw Failure{Limited("Unsupported YAML tag '" + name + "'.")};
        }
        return;
    }
    if (quoted) {
        target.Reset(RefNode::String);
        target.text = CText(text);
        return;
    }
    if (NullWord(text)) {
        target.Reset(RefNode::Empty);
        return;
    }
    const double number = std::strtod(begin, &end);
    if (end != begin && end == whole && !std::isinf(number)) {
        if (std::isnan(number) || std::floor(number) != number) {
            target.Reset(RefNode::Float);
            target.real = number;
            return;
        }
        // Integer texts are read exactly; beyond 64 bits they keep the double.
        int base = 10;
        bool negative = false;
        if (PlainIntegerText(text, base, negative)) {
            errno = 0;
            if (negative) {
                const long long value = std::strtoll(begin, nullptr, base);
                if (errno == 0) {
                    if (value == 0) {
                        target.Reset(RefNode::Unsigned);
                        target.uint = 0;
                    } else {
                        target.Reset(RefNode::Signed);
                        target.sint = value;
                    }
                    return;
                }
            } else {
                const unsigned long long value = std::strtoull(begin, nullptr, base);
                if (errno == 0) {
                    target.Reset(RefNode::Unsigned);
                    target.uint = value;
                    return;
                }
            }
            target.Reset(RefNode::Float);
            target.real = number;
            return;
        }
        if (number >= 0 && number < 18446744073709551616.0) {
            target.Reset(RefNode::Unsigned);
            target.uint = static_cast<std::uint64_t>(number);
        } else if (number < 0 && number >= -9223372036854775808.0) {
            target.Reset(RefNode::Signed);
            target.sint = static_cast<std::int64_t>(number);
        } else {
            target.Reset(RefNode::Float);
            target.real = number;
        }
        return;
    }
    if (TrueWord(text) || FalseWord(text)) {
        target.Reset(RefNode::Bool);
        target.flag = TrueWord(text);
        return;
    }
    target.Reset(RefNode::String);
    target.text = CText(text);
}

// ---------------------------------------------------------------------------------------------
// The reference reader: libyaml's events, read by recursive descent.

struct Event {
    yaml_event_type_t type = YAML_NO_EVENT;
    bool hasAnchor = false;
    std::string anchor; // of a node, or the name an alias refers to
    bool hasTag = false;
    std::string tag;
    std::string text;
    bool quoted = false;
    std::string line; // 1-based
    std::string column;
};

struct ParserStop {};

struct Step {
    bool isIndex;
    std::size_t index;
    std::string name;
};

struct Anchored {
    bool isText = false;
    std::string text;
    std::vector<Step> path;
};

class RefReader {
public:
    std::string Read(const std::string& input) {
        yaml_parser_initialize(&parser_);
        yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(input.data()),
                                     input.size());
        std::string outcome;
        try {
            Document();
            outcome = Print(root_);
        } catch (const Failure& failure) {
            outcome = "error: " + failure.message;
        } catch (const ParserStop&) {
            outcome = "error: YAML parser error: " + std::string(parser_.problem) +
                      ". At line: " + std::to_string(parser_.problem_mark.line) +
                      " col: " + std::to_string(parser_.problem_mark.column);
        }
        yaml_parser_delete(&parser_);
        return outcome;
    }

private:
    Event Next() {
        yaml_event_t raw;
        if (yaml_parser_parse(&parser_, &raw) == 0) {
            throw ParserStop{};
        }
        Event event;
        event.type = raw.type;
        event.line = std::to_string(raw.start_mark.line + 1);
        event.column = std::to_string(raw.start_mark.column + 1);
        const yaml_char_t* anchor = nullptr;
        const yaml_char_t* tag = nullptr;
        if (raw.type == YAML_SCALAR_EVENT) {
            anchor = raw.data.scalar.anchor;
            tag = raw.data.scalar.tag;
            event.text.assign(reinterpret_cast<const char*>(raw.data.scalar.value),
                              raw.data.scalar.length);
            event.quoted = raw.data.scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                           raw.data.scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
        } else if (raw.type == YAML_SEQUENCE_START_EVENT) {
            anchor = raw.data.sequence_start.anchor;
        } else if (raw.type == YAML_MAPPING_START_EVENT) {
            anchor = raw.data.mapping_start.anchor;
        } else if (raw.type == YAML_ALIAS_EVENT) {
            anchor = raw.data.alias.anchor;
        }
        if (anchor != nullptr) {
            event.hasAnchor = true;
            event.anchor = reinterpret_cast<const char*>(anchor);
        }
        if (tag != nullptr) {
            event.hasTag = true;
            event.tag = reinterpret_cast<const char*>(tag);
        }
        yaml_event_delete(&raw);
        return event;
    }

    static std::string At(const Event& event) {
        return "At line: " + event.line + " col: " + event.column;
    }

    void Document() {
        Next(); // stream start
        bool seen = false;
        for (;;) {
            const Event event = Next();
            if (event.type == YAML_STREAM_END_EVENT) {
                return;
            }
            // A document start.
            if (seen) {
                throw Failure{"Multi-document YAML is not supported."};
            }
            seen = true;
            Value(Next(), root_);
            Next(); // document end
        }
    }

    void Record(const Event& event, Anchored anchored) {
        if (anchors_.count(event.anchor) != 0) {
            throw Failure{"Duplicate occurrence of anchor \"" + event.anchor + "\". " + At(event)};
        }
        anchors_.emplace(event.anchor, std::move(anchored));
    }

    Anchored Here() const {
        Anchored anchored;
        anchored.path = path_;
        return anchored;
    }

    // The node at a path as the tree stands now; null when the path leads nowhere.
    RefNode* Follow(const std::vector<Step>& path) {
        RefNode* node = &root_;
        for (const Step& step : path) {
            if (step.isIndex) {
                if (node->kind != RefNode::Sequence || step.index >= node->elements.size()) {
                    return nullptr;
                }
                node = node->elements[step.index].get();
            } else {
                if (node->kind != RefNode::Mapping) {
                    return nullptr;
                }
                const auto found = node->members.find(step.name);
                if (found == node->members.end()) {
                    return nullptr;
                }
                node = found->second.get();
            }
        }
        return node;
    }

    // A value (never a mapping key) into `target`.
    void Value(const Event& event, RefNode& target) {
        switch (event.type) {
        case YAML_SCALAR_EVENT:
            Convert(target, event.hasTag ? event.tag.c_str() : nullptr, event.text, event.quoted);
            if (event.hasAnchor) {
                Record(event, Here());
            }
            return;
        case YAML_SEQUENCE_START_EVENT:
            if (target.kind != RefNode::Sequence) {
                target.Reset(RefNode::Sequence);
            }
            if (event.hasAnchor) {
                Record(event, Here());
            }
            open_.push_back({&target, event.anchor});
            for (;;) {
                const Event inner = Next();
                if (inner.type == YAML_SEQUENCE_END_EVENT) {
                    break;
                }
                target.elements.push_back(std::make_unique<RefNode>());
                path_.push_back({true, target.elements.size() - 1, {}});
                Value(inner, *target.elements.back());
                path_.pop_back();
            }
            open_.pop_back();
            return;
        case YAML_MAPPING_START_EVENT:
            if (target.kind != RefNode::Mapping) {
                target.Reset(RefNode::Mapping);
            }
            if (event.hasAnchor) {
                Record(event, Here());
            }
            open_.push_back({&target, event.anchor});
            for (;;) {
                const Event key = Next();
                if (key.type == YAML_MAPPING_END_EVENT) {
                    break;
                }
                if (key.type == YAML_SEQUENCE_START_EVENT) {
                    throw Failure{"Unexpected start of sequence. " + At(key)};
                }
                if (key.type == YAML_MAPPING_START_EVENT) {
                    throw Failure{"Unexpected start of mapping. " + At(key)};
                }
                if (key.type == YAML_ALIAS_EVENT || (key.hasTag && key.tag != kStrTag)) {
                    throw Failure{"Invalid mapping key. Only string scalar keys are allowed. " +
                                  At(key)};
                }
                if (key.hasAnchor) {
                    Anchored anchored;
                    anchored.isText = true;
                    anchored.text = key.text;
                    Record(key, anchored);
                }
                auto& slot = target.members[CText(key.text)];
                if (!slot) {
                    slot = std::make_unique<RefNode>();
                }
                path_.push_back({false, 0, CText(key.text)});
                Value(Next(), *slot);
                path_.pop_back();
            }
            open_.pop_back();
            return;
        case YAML_ALIAS_EVENT: {
            for (const auto& [node, anchor] : open_) {
                if (anchor == event.anchor) {
                    throw Failure{"Cannot deserialize cyclic aliases. Alias \"" + event.anchor +
                                  "\". " + At(event)};
                }
            }
            const auto found = anchors_.find(event.anchor);
            if (found == anchors_.end()) {
                throw Failure{"Undefined alias encountered: \"" + event.anchor + "\". " +
                              At(event)};
            }
            if (found->second.isText) {
                target.Reset(RefNode::String);
                target.text = CText(found->second.text);
                return;
            }
            const RefNode* source = Follow(found->second.path);
            if (source == &target) {
                return;
            }
            for (const auto& [node, anchor] : open_) {
                if (node == source) {
                    throw Failure{"Cannot deserialize cyclic aliases. Alias \"" + event.anchor +
                                  "\". " + At(event)};
                }
            }
            std::unique_ptr<RefNode> copy =
                source != nullptr ? Clone(*source) : std::make_unique<RefNode>();
            target = std::move(*copy);
            return;
        }
        default:
            return;
        }
    }

    yaml_parser_t parser_;
    RefNode root_;
    std::vector<Step> path_;
    std::vector<std::pair<const RefNode*, std::string>> open_; // open containers and anchors
    std::map<std::string, Anchored> anchors_;
};

std::string RefRead(const std::string& text) {
    RefReader reader;
    return reader.Read(text);
}

// ---------------------------------------------------------------------------------------------
// Documents: random event streams written by libyaml's emitter.

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::size_t Below(std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng_);
    }
    bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

    std::string Digits(std::size_t count, const char* alphabet = "0123456789") {
        const std::string letters = alphabet;
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            out += letters[Below(letters.size())];
        }
        return out;
    }

    std::string RandomCase(std::string word) {
        for (char& c : word) {
            if (Chance(50)) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            } else {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        return word;
    }

    std::string Number() {
        static const std::vector<std::string> kSigns = {"", "", "-", "+"};
        std::string sign = Pick(kSigns);
        switch (Below(14)) {
        case 0:
            return sign + Digits(1 + Below(4));
        case 1:
            return sign + std::string(1 + Below(3), '0') + Digits(Below(4));
        case 2: // runs around and beyond 64 bits and 2^53, now and then far beyond
            return sign + Digits(Chance(3) ? 4000 + Below(200) : 15 + Below(12));
        case 3:
            return sign + Pick(std::vector<std::string>{
                              "9223372036854775807", "9223372036854775808", "9223372036854775809",
                              "18446744073709551615", "18446744073709551616", "9007199254740993",
                              "0", "00", "0.0", "-0"});
        case 4:
            return sign + (Chance(50) ? "0x" : "0X") +
                   Digits(1 + Below(17), "0123456789abcdefABCDEF");
        case 5:
            return sign +
                   Pick(std::vector<std::string>{"0o", "0O", "0b", "0", "0x", "0x.", "0x1p"}) +
                   Digits(Below(5), "01234567");
        case 6:
            return sign + Digits(Below(3)) + "." + Digits(Below(4));
        case 7: // exponents, some integral, some beyond the double range
            return sign + Digits(1 + Below(3)) + (Chance(30) ? "." + Digits(Below(3)) : "") +
                   Pick(std::vector<std::string>{"e", "E", "e+", "e-", "E-"}) +
                   Pick(std::vector<std::string>{"0", "1", "2", "5", "19", "20", "308", "309",
                                                 "320", "400", ""});
        case 8:
            return sign + RandomCase(Pick(std::vector<std::string>{
                              ".inf", ".nan", "inf", "infinity", "nan", "nan(12)", "in", "na"}));
        case 9: // hexadecimal floating point
            return sign + "0x" + Digits(1 + Below(3), "0123456789abcdef") +
                   (Chance(50) ? "." + Digits(Below(3), "0123456789abcdef") : "") + "p" +
                   Pick(std::vector<std::string>{"0", "1", "-1", "4", "-4", "+8", "1024", "x"});
        case 10: // near misses
            return sign + Digits(1 + Below(3)) +
                   Pick(std::vector<std::string>{"_000", "abc", ".", "..5", "e", ".5.5", "x", " ",
                                                 ",5", "1:30", "-", "+", "e+e"});
        case 11:
            return std::string(Below(2), ' ') + sign + (Chance(30) ? "0x" : "") +
                   Digits(Chance(50) ? 1 + Below(3) : 15 + Below(6)) + std::string(Below(2), ' ');
        case 12:
            return sign + "." + Digits(1 + Below(3)) +
                   (Chance(50) ? "e" + std::to_string(Below(5)) : "");
        default:
            return sign + Digits(1 + Below(2)) + ".0" + std::string(Below(3), '0');
        }
    }

    std::string Word() {
        static const std::vector<std::string> kWords = {
            "true", "false", "yes", "no",   "on",  "off", "y",   "n",     "null", "~",
            "",     "maybe", "nul", "yess", "onn", "of",  "tru", "True ", " no"};
        std::string word = Pick(kWords);
        return Chance(50) ? RandomCase(word) : word;
    }

    std::string Text() {
        static const std::vector<std::string> kParts = {
            "a",  "b",  "key", "value", " ", "-", ":", "#",  "'",  "\"", "\\",
            "\n", "\t", "x y", "é",     "[", "]", "{", "}",  ",",  "&",  "*",
            "!",  "%",  "@",   "`",     "?", "|", ">", "%1", "%2", "%s", std::string(1, '\0')};
        std::string out;
        const std::size_t parts = Below(5);
        for (std::size_t i = 0; i < parts; ++i) {
            out += Pick(kParts);
        }
        return out;
    }

    std::string ScalarText() {
        switch (Below(4)) {
        case 0:
        case 1:
            return Number();
        case 2:
            return Word();
        default:
            return Text();
        }
    }

    // Document text; empty when the emitter refused the events.
    std::string Document() {
        yaml_emitter_t emitter;
        yaml_emitter_initialize(&emitter);
        std::string out;
        yaml_emitter_set_output(
            &emitter,
            [](void* data, unsigned char* buffer, size_t size) -> int {
                static_cast<std::string*>(data)->append(reinterpret_cast<char*>(buffer), size);
                return 1;
            },
            &out);
        yaml_emitter_set_unicode(&emitter, 1);
        if (Chance(50)) {
            yaml_emitter_set_width(&emitter, -1);
        }
        emitter_ = &emitter;
        ok_ = true;
        anchorsUsed_.clear();
        yaml_event_t event;
        yaml_stream_start_event_initialize(&event, YAML_UTF8_ENCODING);
        Emit(event);
        const std::size_t documents = Chance(5) ? 2 : 1;
        for (std::size_t d = 0; d < documents; ++d) {
            yaml_document_start_event_initialize(&event, nullptr, nullptr, nullptr,
                                                 Chance(70) ? 1 : 0);
            Emit(event);
            Node(0, 1 + Below(4));
            yaml_document_end_event_initialize(&event, Chance(80) ? 1 : 0);
            Emit(event);
        }
        yaml_stream_end_event_initialize(&event);
        Emit(event);
        yaml_emitter_delete(&emitter);
        if (!ok_) {
            return {};
        }
        if (Chance(12)) {
            Damage(out);
        }
        return out;
    }

private:
    void Emit(yaml_event_t& event) {
        if (!ok_ || yaml_emitter_emit(emitter_, &event) == 0) {
            if (ok_) {
                ok_ = false;
            } else {
                yaml_event_delete(&event);
            }
        }
    }

    void Damage(std::string& text) {
        static const std::vector<std::string> kInserts = {
            ":",  "[",    "]",    "{",      "&a ",          "*a",    "- ",         "\n",
            "\"", "'",    "? ",   "!!int ", "\t",           "---\n", "&x ",        " ",
            "#",  "\xff", "\xc3", "\x01",   "\xef\xbb\xbf", "...\n", "%YAML 1.1\n"};
        const std::size_t at = text.empty() ? 0 : Below(text.size() + 1);
        if (Chance(50) && at < text.size()) {
            text.erase(at, 1 + Below(3));
        } else {
            text.insert(at, Pick(kInserts));
        }
    }

    // Mostly a new name; now and then one that may be taken already.
    std::string AnchorName() {
        static const std::vector<std::string> kNames = {"a", "b", "x", "x1", "anchor", "k"};
        return Chance(80) ? "n" + std::to_string(++anchorCount_) : Pick(kNames);
    }

    // A tag, mostly a supported one, with a text that suits it more often than not.
    const char* Tag(std::string& text) {
        static const std::vector<const char*> kOthers = {"tag:yaml.org,2002:null",
                                                         "tag:yaml.org,2002:foo", "!local"};
        switch (Below(10)) {
        case 0:
        case 1:
            return "tag:yaml.org,2002:str";
        case 2:
        case 3:
        case 4:
            text = Chance(70) ? Number() : text;
            return "tag:yaml.org,2002:int";
        case 5:
        case 6:
            text = Chance(70) ? Number() : text;
            return "tag:yaml.org,2002:float";
        case 7:
        case 8:
            text = Chance(70) ? Word() : text;
            return "tag:yaml.org,2002:bool";
        default:
            return Pick(kOthers);
        }
    }

    void Scalar(bool key) {
        std::string text = key && Chance(60)
                               ? Pick(std::vector<std::string>{"a", "b", "c", "k", ""})
                               : ScalarText();
        const char* tag = Chance(key ? 5 : 25) ? Tag(text) : nullptr;
        std::string anchor;
        if (Chance(10)) {
            anchor = AnchorName();
            anchorsUsed_.push_back(anchor);
        }
        static const std::vector<yaml_scalar_style_t> kStyles = {
            YAML_PLAIN_SCALAR_STYLE,         YAML_PLAIN_SCALAR_STYLE,
            YAML_SINGLE_QUOTED_SCALAR_STYLE, YAML_DOUBLE_QUOTED_SCALAR_STYLE,
            YAML_LITERAL_SCALAR_STYLE,       YAML_FOLDED_SCALAR_STYLE};
        yaml_event_t event;
        yaml_scalar_event_initialize(
            &event, anchor.empty() ? nullptr : reinterpret_cast<const yaml_char_t*>(anchor.c_str()),
            reinterpret_cast<const yaml_char_t*>(tag),
            reinterpret_cast<const yaml_char_t*>(text.data()), static_cast<int>(text.size()),
            tag == nullptr ? 1 : 0, tag == nullptr ? 1 : 0, Pick(kStyles));
        Emit(event);
    }

    void Node(std::size_t depth, std::size_t budget, bool key = false) {
        const std::size_t choice = Below(100);
        yaml_event_t event;
        if (choice < (key ? 2 : 8) && !anchorsUsed_.empty()) {
            const std::string name = Chance(85) ? Pick(anchorsUsed_) : AnchorName();
            yaml_alias_event_initialize(&event, reinterpret_cast<const yaml_char_t*>(name.c_str()));
            Emit(event);
            return;
        }
        const bool container =
            depth < 4 && budget > 0 && (key ? choice < 10 : choice < (depth == 0 ? 90 : 45));
        if (!container) {
            Scalar(key);
            return;
        }
        std::string anchor;
        if (Chance(20)) {
            anchor = AnchorName();
        }
        const yaml_char_t* anchorText =
            anchor.empty() ? nullptr : reinterpret_cast<const yaml_char_t*>(anchor.c_str());
        // Tags on sequences and mappings carry no meaning for the reader.
        static const std::vector<const char*> kContainerTags = {
            "tag:yaml.org,2002:seq", "tag:yaml.org,2002:map", "tag:yaml.org,2002:str",
            "tag:yaml.org,2002:int", "!local"};
        const auto* containerTag =
            Chance(10) ? reinterpret_cast<const yaml_char_t*>(Pick(kContainerTags)) : nullptr;
        const bool flow = Chance(30);
        const std::size_t count = Below(5);
        if (Chance(45)) {
            yaml_sequence_start_event_initialize(
                &event, anchorText, containerTag, containerTag == nullptr ? 1 : 0,
                flow ? YAML_FLOW_SEQUENCE_STYLE : YAML_BLOCK_SEQUENCE_STYLE);
            Emit(event);
            if (!anchor.empty()) {
                anchorsUsed_.push_back(anchor);
            }
            for (std::size_t i = 0; i < count; ++i) {
                Node(depth + 1, budget - 1);
            }
            yaml_sequence_end_event_initialize(&event);
        } else {
            yaml_mapping_start_event_initialize(
                &event, anchorText, containerTag, containerTag == nullptr ? 1 : 0,
                flow ? YAML_FLOW_MAPPING_STYLE : YAML_BLOCK_MAPPING_STYLE);
            Emit(event);
            if (!anchor.empty()) {
                anchorsUsed_.push_back(anchor);
            }
            for (std::size_t i = 0; i < count; ++i) {
                Node(depth + 1, budget - 1, true);
                Node(depth + 1, budget - 1);
            }
            yaml_mapping_end_event_initialize(&event);
        }
        Emit(event);
    }

    std::mt19937_64 rng_;
    yaml_emitter_t* emitter_ = nullptr;
    bool ok_ = true;
    std::vector<std::string> anchorsUsed_;
    std::size_t anchorCount_ = 0;
};

std::string Library(const std::string& text) {
    return Print(ReadYaml(text));
}

// ---------------------------------------------------------------------------------------------

TEST(YamlOracle, HandWrittenDocumentsAgreeWithTheReference) {
    // The reference itself, on the cases whose answers are written out.
    EXPECT_EQ(RefRead(""), "~");
    EXPECT_EQ(RefRead("a: 1"), "{\"a\": unsigned:1, }");
    EXPECT_EQ(RefRead("a: YeS"), "{\"a\": string:\"YeS\", }");
    EXPECT_EQ(RefRead("a: !!foo x"), "error: Unsupported YAML tag 'tag:yaml.org,2002:foo'.");
    EXPECT_EQ(RefRead("a: &x [*x]"),
              "error: Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 8");
    EXPECT_EQ(RefRead("- 0x1F\n- -0\n- 010\n- 2.0\n- 1e3\n- -1e3\n- 0.5\n- 1e400\n- .inf\n- "
                      ".nan\n- NaN\n- nO\n- N"),
              "[unsigned:31, unsigned:0, unsigned:10, unsigned:2, unsigned:1000, signed:-1000, "
              "float:0x1p-1, string:\"1e400\", string:\".inf\", string:\".nan\", float:nan, "
              "string:\"nO\", bool:false, ]");
    EXPECT_EQ(RefRead("- 18446744073709551615\n- 18446744073709551616\n- -9223372036854775808"),
              "[unsigned:18446744073709551615, float:0x1p+64, signed:-9223372036854775808, ]");
    EXPECT_EQ(RefRead("a: !!int ' -5'"),
              "error: Value  -5 for 'yaml' of type uint64_t is out of range");
    EXPECT_EQ(RefRead("a: !!float 1e400"),
              "error: Value 1e400 for 'yaml' of type double is out of range");
    EXPECT_EQ(RefRead("a: !!int 08"),
              "error: Value 08 for 'yaml' of type uint64_t is in an incorrect format");
    EXPECT_EQ(RefRead("[!!bool yes, !!bool Off, !!bool 1, '', \"~\", ~]"),
              "[bool:true, bool:false, ~, string:\"\", string:\"~\", ~, ]");
    EXPECT_EQ(RefRead("? [1, 2]\n: x"), "error: Unexpected start of sequence. At line: 1 col: 3");

    const char* const kDocuments[] = {
        "a: 1\na: [2]\na: [3]\n",
        "a: {x: 1}\na: {y: 2}\n",
        "a: {x: 1}\na: 5\n",
        "a: [1]\na: {x: 1}\n",
        "a: 1\na: !!bool maybe\n",
        "a: 1\na: ~\n",
        "a: &x [1]\na: [2]\nb: *x\n",
        "a: &x [1]\na: [*x]\n",
        "a: [&x 1]\na: *x\n",
        "a: &x 1\na: *x\n",
        "a: &x {b: 1}\na: {c: *x}\n",
        "&k a: 1\nb: *k\n",
        "&k a: &k 1\n",
        "a: &x 1\nb: &x 2\n",
        "*x : 1\n",
        "&x [*x]\n",
        "- &x [1, 2]\n- *x\n- *y\n",
        "!!int 1: x\n",
        "!!str 1: x\n",
        "? {a: 1}\n: x\n",
        "a: !!int -9223372036854775809\n",
        "a: !!int 18446744073709551616\n",
        "a: !!int ' -5'\n",
        "a: !!int ''\n",
        "a: !!float ' '\n",
        "a: !!float 1e400\n",
        "a: !!float -inf\n",
        "a: !!float nan\n",
        "a: |-\n   12\n",
        "a: |2-\n   -12\n",
        "a: >-\n  0x1F\n",
        "---\n1\n---\n2\n",
        "---\n---\n2\n",
        "a: [1, 2\n",
        "a: !!int \"1\\0x\"\n",
        "a: !!float \"%1%2\"\n",
        "a: !%25%31 x\n",
        "a: 1\n b: 2\n",
        "\"a\": 1\n'': 2\n: 3\n",
    };
    for (const char* text : kDocuments) {
        EXPECT_EQ(Library(text), RefRead(text)) << text;
    }
}

TEST(YamlOracle, BlockScalarIntegersWithLeadingBlanksAreExact) {
    // A literal or folded scalar may begin with blanks, which the number rule skips; the integer is
    // still read exactly, not through a double (2^63 - 1 and 2^64 - 1 have no double of their own).
    const char* const kDocuments[] = {
        "- |2-\n   9223372036854775807\n",  "- >2-\n   18446744073709551615\n",
        "- |2-\n   -9223372036854775807\n", "- |2-\n   9007199254740993\n",
        "- |2-\n  \t0x7fffffffffffffff\n",  "- |2-\n   -0\n"};
    const char* const kExpected[] = {
        "[unsigned:9223372036854775807, ]", "[unsigned:18446744073709551615, ]",
        "[signed:-9223372036854775807, ]",  "[unsigned:9007199254740993, ]",
        "[unsigned:9223372036854775807, ]", "[unsigned:0, ]"};
    for (std::size_t i = 0; i < std::size(kDocuments); ++i) {
        EXPECT_EQ(RefRead(kDocuments[i]), kExpected[i]) << kDocuments[i];
        EXPECT_EQ(Library(kDocuments[i]), kExpected[i]) << kDocuments[i];
    }
}

TEST(YamlOracle, PlainAndTaggedScalarsAgreeWithTheReference) {
    Generator generator(0x59414d4c5343ULL);
    static const char* const kForms[] = {"a: %s\n",
                                         "- %s\n",
                                         "%s\n",
                                         "[%s]\n",
                                         "{a: %s}\n",
                                         "%s: v\n",
                                         "a: !!int %s\n",
                                         "a: !!float %s\n",
                                         "a: !!bool %s\n",
                                         "a: !!str %s\n",
                                         "a: '%s'\n",
                                         "- \"%s\"\n",
                                         "- |-\n  %s\n",
                                         "- >-\n  %s\n",
                                         "- |\n  %s\n",
                                         "!!str %s: v\n",
                                         "? !!int %s\n: v\n",
                                         "&k %s: v\nb: *k\n",
                                         "a: &x %s\nb: *x\n",
                                         "[!!int %s, %s]\n",
                                         "{%s: 1, %s: 2}\n",
                                         "- !<tag:yaml.org,2002:int> %s\n",
                                         "[%s: 1, b]\n",
                                         "{%s, b: [%s]}\n",
                                         "? %s\n",
                                         "- ! %s\n",
                                         "%%TAG !e! tag:yaml.org,2002:\n--- !e!float %s\n"};
    int reported = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string scalar = i % 3 == 0 ? generator.Word() : generator.Number();
        std::string text = kForms[generator.Below(std::size(kForms))];
        for (std::size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s")) {
            text.replace(at, 2, scalar);
        }
        if (const std::size_t at = text.find("%%"); at != std::string::npos) {
            text.erase(at, 1);
        }
        const std::string expected = RefRead(text);
        const std::string actual = Library(text);
        if (actual != expected) {
            ADD_FAILURE() << "document " << Testing::QuotedText(text) << "\n  library:   " << actual
                          << "\n  reference: " << expected;
            if (++reported >= 20) {
                break;
            }
        }
    }
}

TEST(YamlOracle, RandomDocumentsAgreeWithTheReference) {
    Generator generator(0x594d4c44ULL);
    int compared = 0;
    int failures = 0;
    int successes = 0;
    int reported = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = generator.Document();
        if (text.empty()) {
            continue;
        }
        const std::string expected = RefRead(text);
        const std::string actual = Library(text);
        ++compared;
        (expected.rfind("error: ", 0) == 0 ? failures : successes) += 1;
        if (actual != expected) {
            ADD_FAILURE() << "document " << Testing::QuotedText(text) << "\n  library:   " << actual
                          << "\n  reference: " << expected;
            if (++reported >= 20) {
                break;
            }
        }
    }
    // The generator must reach both outcomes in quantity, or the comparison proves little.
    EXPECT_GT(compared, 15000);
    EXPECT_GT(successes, 5000);
    EXPECT_GT(failures, 1000);
}

} // namespace
} // namespace Korvel
