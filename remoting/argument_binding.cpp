#include "remoting/argument_binding.h"

#include <algorithm>

#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"
#include "encoding/json_reader.h"
#include "encoding/msgpack_decoder.h"
#include "encoding/yaml_reader.h"
#include "remoting/content_kind.h"
#include "remoting/url_decode.h"

namespace Korvel {

namespace {

bool IsDecimalDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

int DigitValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

enum class IndexParse { Ok, IncorrectFormat, OutOfRange };

// Reads a collection index with C-style base detection: "0x" (or "0X") followed
// by a hexadecimal digit reads hexadecimal, another leading "0" octal, anything
// else decimal. The whole segment must be digits of the base.
IndexParse ParseIndex(std::string_view segment, std::uint32_t& index) {
    unsigned base = 10;
    std::size_t at = 0;
    if (segment.size() > 1 && segment[0] == '0') {
        if ((segment[1] == 'x' || segment[1] == 'X') && segment.size() > 2 &&
            DigitValue(segment[2]) < 16) {
            base = 16;
            at = 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t value = 0;
    bool overflow = false;
    std::size_t digits = 0;
    for (; at < segment.size(); ++at, ++digits) {
        const int digit = DigitValue(segment[at]);
        if (digit >= static_cast<int>(base)) {
            break;
        }
        // Anything beyond 32 bits is out of range; stop accumulating before the
        // 64-bit value could wrap.
        if (value > 0xFFFFFFFFull) {
            overflow = true;
        } else {
            value = value * base + static_cast<unsigned>(digit);
        }
    }
    if (at < segment.size()) {
        return IndexParse::IncorrectFormat;
    }
    if (overflow || value > 2147483647u || value > DecodeLimits::kMaxDottedKeyIndex) {
        return IndexParse::OutOfRange;
    }
    index = static_cast<std::uint32_t>(value);
    return IndexParse::Ok;
}

// Descends from `argument` along the dotted segments of `rest` and stores the
// text as a string at the end. Segments that start with a decimal digit are
// collection indices, others member names.
bool AssignPath(BindingResult& result, BindingProperty& argument, std::string_view rest,
                std::string_view value, DottedKeyBudget& budget) {
    // Each segment opens one level of nesting; a key deeper than the decoders accept would build
    // a tree that the converters and writers then refuse or walk at length.
    if (static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '.')) >=
        DecodeLimits::kMaxNestingDepth) {
        result.SetError(FormatMessage("Key %1 is nested deeper than %2 levels",
                                      rest.substr(0, rest.find('.')),
                                      DecodeLimits::kMaxNestingDepth));
        return false;
    }
    BindingProperty* current = &argument;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view segment = rest.substr(0, dot);
        if (!segment.empty() && IsDecimalDigit(segment[0])) {
            std::uint32_t index = 0;
            switch (ParseIndex(segment, index)) {
            case IndexParse::IncorrectFormat:
                result.SetError(FormatMessage("Index %1 is in an incorrect format", segment));
                return false;
            case IndexParse::OutOfRange:
                result.SetError(FormatMessage("Index %1 is out of range", segment));
                return false;
            case IndexParse::Ok:
                break;
            }
            current->MakeCollection();
            // Growing the collection to the index spends the call's element budget.
            const std::size_t size = current->Size();
            if (index >= size) {
                const std::size_t growth = static_cast<std::size_t>(index) + 1 - size;
                if (growth > budget.remainingElements) {
                    result.SetError(FormatMessage("Index %1 is out of range", segment));
                    return false;
                }
                budget.remainingElements -= growth;
            }
            current = &current->Element(index);
        } else {
            current->MakeStructure();
            current = &current->Member(segment);
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    current->SetString(value);
    return true;
}

bool SniffsAsContainer(FieldKind kind) noexcept {
    return kind == FieldKind::Object || kind == FieldKind::Vector || kind == FieldKind::Struct;
}

std::string_view SkipSpaces(std::string_view text) noexcept {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

bool LooksLikeMessagePack(std::string_view text) noexcept {
    if (text.empty()) {
        return false;
    }
    const auto first = static_cast<unsigned char>(text[0]);
    return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

constexpr const char* kJsonValueFailure =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
constexpr const char* kYamlValueFailure =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
constexpr const char* kMessagePackValueFailure =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";

// Moves a decoded value into the target, or reports the decoder's failure with
// `failure`.
void TakeDecoded(BindingResult& result, BindingProperty& target, BindingResult& decoded,
                 const char* failure, const BindingFunctionDescriptor& function,
                 const BindingParameterDescriptor& parameter) {
    if (!decoded.IsSuccess()) {
        result.SetError(FormatMessage(failure, parameter.name, function.name, decoded.GetError()));
        return;
    }
    target.Take(decoded.value);
}

} // namespace

ArgumentLocation ParameterLocation(const BindingParameterDescriptor& parameter) noexcept {
    return static_cast<ArgumentLocation>(parameter.location);
}

std::size_t FindParameter(const BindingFunctionDescriptor& function, std::string_view name) {
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
        if (function.parameters[i].name == name) {
            return i;
        }
    }
    return function.parameters.size();
}

std::vector<BindingProperty> InitialArguments(const BindingFunctionDescriptor& function) {
    std::vector<BindingProperty> arguments(function.parameters.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const BindingParameterDescriptor& parameter = function.parameters[i];
        if (parameter.type.kind == FieldKind::Bool && !parameter.optional) {
            arguments[i].SetBool(false);
        }
    }
    return arguments;
}

ArgumentTexts ParseQuery(std::string_view path) {
    ArgumentTexts values;
    const std::size_t mark = path.find('?');
    if (mark == std::string_view::npos) {
        return values;
    }
    std::string_view query = path.substr(mark + 1);
    if (query.empty()) {
        return values;
    }
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        const std::size_t equals = piece.find('=');
        std::string key = UrlDecode(piece.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : UrlDecode(piece.substr(equals + 1));
        values.insert_or_assign(std::move(key), std::move(value));
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return values;
}

bool AssignByKey(BindingResult& result, std::vector<BindingProperty>& arguments,
                 const BindingFunctionDescriptor& function, std::string_view key,
                 std::string_view value, ArgumentLocation source) {
    DottedKeyBudget budget;
    return AssignByKey(result, arguments, function, key, value, source, budget);
}

bool AssignByKey(BindingResult& result, std::vector<BindingProperty>& arguments,
                 const BindingFunctionDescriptor& function, std::string_view key,
                 std::string_view value, ArgumentLocation source, DottedKeyBudget& budget) {
    if (!result.IsSuccess()) {
        return false;
    }
    const std::size_t dot = key.find('.');
    const std::string_view head = key.substr(0, dot);
    const std::size_t index = FindParameter(function, head);
    if (index >= function.parameters.size() || index >= arguments.size()) {
        result.SetError(FormatMessage("Unknown argument '%1' for '%2'.", head, function.name));
        return false;
    }
    const BindingParameterDescriptor& parameter = function.parameters[index];
    const ArgumentLocation declared = ParameterLocation(parameter);
    if (declared != ArgumentLocation::Any && declared != source) {
        result.SetError(FormatMessage(
            "Argument '%1' for '%2' was specified in an invalid location.", head, function.name));
        return false;
    }
    if (dot == std::string_view::npos) {
        AssignValueText(result, arguments[index], function, parameter, value);
        return result.IsSuccess();
    }
    return AssignPath(result, arguments[index], key.substr(dot + 1), value, budget);
}

void AssignValueText(BindingResult& result, BindingProperty& argument,
                     const BindingFunctionDescriptor& function,
                     const BindingParameterDescriptor& parameter, std::string_view text) {
    const FieldKind kind = parameter.type.kind;
    if (!text.empty()) {
        DecodeTextValue(result, argument, function, parameter, text, {}, SniffsAsContainer(kind));
        return;
    }
    switch (kind) {
    case FieldKind::Bool:
        argument.SetBool(true);
        break;
    case FieldKind::Object:
    case FieldKind::Struct:
        argument.Clear();
        argument.MakeStructure();
        break;
    case FieldKind::Vector:
        argument.Clear();
        argument.MakeCollection();
        break;
    default:
        result.SetError(FormatMessage("Expected value for argument '%1'.", parameter.name));
        break;
    }
}

void DecodeTextValue(BindingResult& result, BindingProperty& target,
                     const BindingFunctionDescriptor& function,
                     const BindingParameterDescriptor& parameter, std::string_view text,
                     std::string_view contentType, bool sniff) {
    const bool sniffing = sniff && contentType.empty();
    const std::string_view trimmed = SkipSpaces(text);
    if (StartsWithIgnoringCase(contentType, kMessagePackContentType) ||
        (sniffing && LooksLikeMessagePack(text))) {
        std::size_t used = 0;
        BindingResult decoded = DecodeMessagePack(text.data(), text.size(), used);
        TakeDecoded(result, target, decoded, kMessagePackValueFailure, function, parameter);
    } else if (StartsWithIgnoringCase(contentType, kJsonContentType) ||
               (sniffing && !trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '['))) {
        BindingResult decoded = ReadJson(text);
        TakeDecoded(result, target, decoded, kJsonValueFailure, function, parameter);
    } else if (StartsWithIgnoringCase(contentType, kYamlValueContentType) ||
               (sniffing && trimmed.starts_with("---"))) {
        BindingResult decoded = ReadYaml(text);
        TakeDecoded(result, target, decoded, kYamlValueFailure, function, parameter);
    } else if (StartsWithIgnoringCase(contentType, kOctetStreamContentType)) {
        target.SetBlob(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } else {
        target.SetString(text);
    }
}

void DecodeBody(BindingResult& result, std::vector<BindingProperty>& arguments,
                const BindingFunctionDescriptor& function, std::string_view contentType,
                std::span<const std::uint8_t> body) {
    std::size_t index = 0;
    while (index < function.parameters.size() &&
           ParameterLocation(function.parameters[index]) != ArgumentLocation::Body) {
        ++index;
    }
    if (index >= function.parameters.size() || index >= arguments.size()) {
        return;
    }
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    BindingResult decoded;
    switch (ClassifyBodyContentType(contentType)) {
    case ContentKind::Json:
        decoded = ReadJson(text);
        break;
    case ContentKind::Yaml:
        decoded = ReadYaml(text.substr(0, text.find('\0')));
        break;
    case ContentKind::MessagePack: {
        std::size_t used = 0;
        decoded = DecodeMessagePack(body.data(), body.size(), used);
        if (decoded.IsSuccess() && used < body.size()) {
            result.SetError("Extra MessgePack data found in body");
            return;
        }
        break;
    }
    case ContentKind::Other:
        result.SetError("Unsupported body content type");
        return;
    }
    if (!decoded.IsSuccess()) {
        result.SetError(decoded.GetError());
        return;
    }
    arguments[index].Take(decoded.value);
}

} // namespace Korvel
