#include "binding/from_property.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "binding/binding_field_converter.h"
#include "binding/binding_registry.h"
#include "binding/record_depth_guard.h"
#include "diagnostics/format_message.h"
#include "encoding/base64.h"
#include "encoding/decode_limits.h"

namespace Korvel {

namespace {

using namespace ConversionMessages;

// 2^63 and 2^64 as doubles: the first values a truncated double can no longer be stored as.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

// Record rules of FromProperty entered on this thread and not yet left (see RecordDepthGuard).
thread_local std::size_t recordDepth = 0;

void Required(BindingResult& status, std::string_view fieldName) {
    status.SetError(FormatMessage(kRequired, fieldName));
}

void InvalidType(BindingResult& status, std::string_view fieldName, const char* typeName,
                 const BindingProperty& input) {
    status.SetError(FormatMessage(kInvalidType, fieldName, typeName, KindName(input.Kind())));
}

template <typename Value>
void OutOfRange(BindingResult& status, const Value& value, std::string_view fieldName,
                const char* typeName) {
    status.SetError(FormatMessage(kOutOfRange, value, fieldName, typeName));
}

void IncorrectFormat(BindingResult& status, std::string_view text, std::string_view fieldName,
                     const char* typeName) {
    status.SetError(FormatMessage(kIncorrectFormat, text, fieldName, typeName));
}

// A text parsed by strtoll / strtoull / strtod: the value, whether characters were left over and
// whether the parse overflowed.
struct ParsedText {
    bool leftover;
    bool overflow;
};

ParsedText ParseSigned(const char* text, std::int64_t& value) noexcept {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 0);
    return {*end != '\0', errno == ERANGE};
}

ParsedText ParseUnsigned(const char* text, std::uint64_t& value) noexcept {
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return {*end != '\0', errno == ERANGE};
}

ParsedText ParseDouble(const char* text, double& value) noexcept {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    // An underflow also sets ERANGE; only a result beyond the double range counts as overflow.
    return {*end != '\0', errno == ERANGE && std::isinf(value)};
}

// True when the number in `text` is written with a minus sign. strtoull accepts "-5" (and " -5")
// as the negation of 5, which an unsigned field must refuse; the sign follows any leading blanks
// that the parse skips.
bool HasMinusSign(const char* text) noexcept {
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) {
        ++text;
    }
    return *text == '-';
}

void StoreEnum(void* storage, std::size_t size, std::int32_t value) noexcept {
    switch (size) {
    case 1: {
        const auto narrow = static_cast<std::int8_t>(value);
        std::memcpy(storage, &narrow, sizeof narrow);
        break;
    }
    case 2: {
        const auto narrow = static_cast<std::int16_t>(value);
        std::memcpy(storage, &narrow, sizeof narrow);
        break;
    }
    case 4:
        std::memcpy(storage, &value, sizeof value);
        break;
    case 8: {
        const auto wide = static_cast<std::int64_t>(value);
        std::memcpy(storage, &wide, sizeof wide);
        break;
    }
    default:
        break;
    }
}

} // namespace

namespace FromPropertyRules {

void Bool(BindingResult& status, bool& destination, const BindingProperty& input,
          std::string_view fieldName) {
    destination = false;
    if (!status.IsSuccess()) {
        return;
    }
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        break;
    case BindingKind::Bool:
        destination = input.GetBool();
        break;
    case BindingKind::String: {
        const std::string_view text = input.GetString();
        if (text == "1" || text == "true") {
            destination = true;
        } else if (text != "0" && text != "false") {
            status.SetError(FormatMessage(kBoolFormat, text, fieldName));
        }
        break;
    }
    default:
        status.SetError(FormatMessage(kBoolInvalidType, fieldName, KindName(input.Kind())));
        break;
    }
}

std::int64_t Signed(BindingResult& status, const BindingProperty& input, std::string_view fieldName,
                    const IntegerLimits& limits) {
    if (!status.IsSuccess()) {
        return 0;
    }
    const auto inRange = [&](std::int64_t value) {
        return value >= limits.minimum && value <= limits.maximum;
    };
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        return 0;
    case BindingKind::Signed: {
        const std::int64_t value = input.GetSigned();
        if (!inRange(value)) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return value;
    }
    case BindingKind::Unsigned: {
        const std::uint64_t value = input.GetUnsigned();
        if (value > static_cast<std::uint64_t>(limits.maximum)) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return static_cast<std::int64_t>(value);
    }
    case BindingKind::Float: {
        const double value = input.GetFloat();
        // NaN and 2^63 compare within the limits taken as doubles but have no int64 value.
        if (std::isnan(value) || value < static_cast<double>(limits.minimum) ||
            value > static_cast<double>(limits.maximum) || value >= kTwoPow63) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return static_cast<std::int64_t>(value);
    }
    case BindingKind::String: {
        const char* text = input.GetCString();
        std::int64_t value = 0;
        const ParsedText parsed = ParseSigned(text, value);
        if (parsed.leftover) {
            IncorrectFormat(status, text, fieldName, limits.typeName);
            return 0;
        }
        if (parsed.overflow || !inRange(value)) {
            OutOfRange(status, text, fieldName, limits.typeName);
            return 0;
        }
        return value;
    }
    case BindingKind::Enum: {
        const std::int32_t value = input.GetEnum().value;
        if (!inRange(value)) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return value;
    }
    default:
        InvalidType(status, fieldName, limits.typeName, input);
        return 0;
    }
}

std::uint64_t Unsigned(BindingResult& status, const BindingProperty& input,
                       std::string_view fieldName, const IntegerLimits& limits) {
    if (!status.IsSuccess()) {
        return 0;
    }
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        return 0;
    case BindingKind::Signed: {
        const std::int64_t value = input.GetSigned();
        if (value < 0 || static_cast<std::uint64_t>(value) > limits.unsignedMaximum) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return static_cast<std::uint64_t>(value);
    }
    case BindingKind::Unsigned: {
        const std::uint64_t value = input.GetUnsigned();
        if (value > limits.unsignedMaximum) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return value;
    }
    case BindingKind::Float: {
        const double value = input.GetFloat();
        // NaN and 2^64 compare within the limits taken as doubles but have no uint64 value.
        if (std::isnan(value) || value < 0.0 ||
            value > static_cast<double>(limits.unsignedMaximum) || value >= kTwoPow64) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return static_cast<std::uint64_t>(value);
    }
    case BindingKind::String: {
        const char* text = input.GetCString();
        std::uint64_t value = 0;
        const ParsedText parsed = ParseUnsigned(text, value);
        if (parsed.leftover) {
            IncorrectFormat(status, text, fieldName, limits.typeName);
            return 0;
        }
        if (parsed.overflow || value > limits.unsignedMaximum || HasMinusSign(text)) {
            OutOfRange(status, text, fieldName, limits.typeName);
            return 0;
        }
        return value;
    }
    case BindingKind::Enum: {
        const std::int32_t value = input.GetEnum().value;
        if (value < 0 || static_cast<std::uint64_t>(value) > limits.unsignedMaximum) {
            OutOfRange(status, value, fieldName, limits.typeName);
            return 0;
        }
        return static_cast<std::uint64_t>(value);
    }
    default:
        InvalidType(status, fieldName, limits.typeName, input);
        return 0;
    }
}

double Floating(BindingResult& status, const BindingProperty& input, std::string_view fieldName,
                bool narrow) {
    if (!status.IsSuccess()) {
        return 0.0;
    }
    const char* typeName = narrow ? "float" : "double";
    const double maximum = narrow ? static_cast<double>(FLT_MAX) : DBL_MAX;
    const auto outside = [&](double value) { return value < -maximum || value > maximum; };
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        return 0.0;
    case BindingKind::Signed:
        return static_cast<double>(input.GetSigned());
    case BindingKind::Unsigned:
        return static_cast<double>(input.GetUnsigned());
    case BindingKind::Float: {
        const double value = input.GetFloat();
        if (outside(value)) {
            OutOfRange(status, value, fieldName, typeName);
            return 0.0;
        }
        return value;
    }
    case BindingKind::String: {
        const char* text = input.GetCString();
        double value = 0.0;
        const ParsedText parsed = ParseDouble(text, value);
        if (parsed.leftover) {
            IncorrectFormat(status, text, fieldName, typeName);
            return 0.0;
        }
        if (parsed.overflow || outside(value)) {
            OutOfRange(status, text, fieldName, typeName);
            return 0.0;
        }
        return value;
    }
    case BindingKind::Enum:
        return static_cast<double>(input.GetEnum().value);
    default:
        InvalidType(status, fieldName, typeName, input);
        return 0.0;
    }
}

void String(BindingResult& status, std::string& destination, const BindingProperty& input,
            std::string_view fieldName, const BindingRegistry& registry) {
    destination.clear();
    if (!status.IsSuccess()) {
        return;
    }
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        break;
    case BindingKind::String:
        destination.assign(input.GetString());
        break;
    case BindingKind::Enum: {
        const BindingEnumRecord record = input.GetEnum();
        const BindingTypeDescriptor* enumeration =
            record.type != nullptr ? registry.FindTypeByHash(*record.type) : nullptr;
        if (enumeration == nullptr) {
            status.SetError(FormatMessage(kInputEnumNotRegistered, fieldName));
            break;
        }
        const BindingEnumValue* enumerator = enumeration->FindValue(record.value);
        if (enumerator == nullptr) {
            status.SetError(FormatMessage(kNoEnumName, record.value, fieldName));
            break;
        }
        destination = enumerator->name;
        break;
    }
    default:
        status.SetError(FormatMessage(kNotString, fieldName));
        break;
    }
}

void Object(BindingResult& status, BindingProperty& destination, const BindingProperty& input) {
    if (!status.IsSuccess()) {
        destination.Clear();
        return;
    }
    // Copied first: the input may lie inside the destination's own tree.
    BindingProperty copy(input);
    destination.Take(copy);
}

void Blob(BindingResult& status, std::vector<std::uint8_t>& destination,
          const BindingProperty& input, std::string_view fieldName) {
    destination.clear();
    if (!status.IsSuccess()) {
        return;
    }
    switch (input.Kind()) {
    case BindingKind::Empty:
        Required(status, fieldName);
        break;
    case BindingKind::String: {
        const std::string_view text = input.GetString();
        if (!IsBase64Text(text)) {
            status.SetError(FormatMessage(kInvalidBase64, fieldName));
            break;
        }
        Base64DecodeAppend(text, destination);
        break;
    }
    case BindingKind::Blob: {
        const std::span<const std::uint8_t> bytes = input.GetBlob();
        destination.assign(bytes.begin(), bytes.end());
        break;
    }
    default:
        status.SetError(FormatMessage(kNotBlob, fieldName));
        break;
    }
}

void Enum(BindingResult& status, void* storage, std::size_t size, const BindingProperty& input,
          std::string_view fieldName, const BindingTypeDescriptor* descriptor) {
    StoreEnum(storage, size, 0);
    if (!status.IsSuccess()) {
        return;
    }
    if (input.IsEmpty()) {
        Required(status, fieldName);
        return;
    }
    if (descriptor == nullptr || !descriptor->isEnum) {
        status.SetError(FormatMessage(kEnumNotRegistered, fieldName));
        return;
    }
    const auto notValue = [&](const auto& shown) {
        status.SetError(FormatMessage(kNotEnumValue, shown, descriptor->name, fieldName));
    };
    std::int32_t value = 0;
    switch (input.Kind()) {
    case BindingKind::Signed: {
        // Only numbers that are 32-bit values name an enumerator; 2^32 is not 0.
        const std::int64_t number = input.GetSigned();
        if (number < INT32_MIN || number > INT32_MAX ||
            !IsEnumValue(*descriptor, static_cast<std::int32_t>(number))) {
            notValue(number);
            return;
        }
        value = static_cast<std::int32_t>(number);
        break;
    }
    case BindingKind::Unsigned: {
        // An unsigned number up to 2^32 - 1 is taken as the 32-bit pattern of the value.
        const std::uint64_t number = input.GetUnsigned();
        if (number > UINT32_MAX ||
            !IsEnumValue(*descriptor,
                         static_cast<std::int32_t>(static_cast<std::uint32_t>(number)))) {
            notValue(number);
            return;
        }
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
        break;
    }
    case BindingKind::String: {
        const std::string_view text = input.GetString();
        if (const BindingEnumValue* enumerator = descriptor->FindValue(text)) {
            value = enumerator->value;
            break;
        }
        BindingResult parse;
        const IntegerLimits limits{INT64_MIN, INT64_MAX, 0, true, descriptor->name.c_str()};
        const std::int64_t number = Signed(parse, input, fieldName, limits);
        if (!parse.IsSuccess() || number < INT32_MIN || number > INT32_MAX ||
            !IsEnumValue(*descriptor, static_cast<std::int32_t>(number))) {
            notValue(text);
            return;
        }
        value = static_cast<std::int32_t>(number);
        break;
    }
    case BindingKind::Enum: {
        const std::int32_t number = input.GetEnum().value;
        if (!IsEnumValue(*descriptor, number)) {
            notValue(number);
            return;
        }
        value = number;
        break;
    }
    default:
        status.SetError(FormatMessage(kEnumInvalidType, fieldName, KindName(input.Kind())));
        return;
    }
    StoreEnum(storage, size, value);
}

void Struct(BindingResult& status, void* record, const BindingProperty& input,
            std::string_view fieldName, const BindingTypeDescriptor* descriptor,
            const BindingRegistry& registry) {
    if (!status.IsSuccess()) {
        return;
    }
    if (descriptor == nullptr || descriptor->isEnum) {
        status.SetError(FormatMessage(kUnregisteredStructure, fieldName));
        return;
    }
    if (input.Kind() != BindingKind::Structure) {
        status.SetError(FormatMessage(kNotStructure, fieldName, descriptor->name));
        return;
    }
    const RecordDepthGuard depth(recordDepth);
    if (depth.TooDeep()) {
        status.SetError(FormatMessage(kTooDeep, fieldName, DecodeLimits::kMaxNestingDepth));
        return;
    }
    auto* base = static_cast<unsigned char*>(record);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        if (!status.IsSuccess()) {
            return;
        }
        const BindingProperty* member = input.FindMember(field.name);
        if (member != nullptr && !member->IsEmpty()) {
            if (field.converter != nullptr) {
                field.converter->FromProperty(status, base + field.offset, *member, field.name,
                                              field, registry);
            }
        } else if (field.Required()) {
            status.SetError(
                FormatMessage(kMissingRequiredField, fieldName, descriptor->name, field.name));
        }
    }
}

bool CheckCollection(BindingResult& status, const BindingProperty& input,
                     std::string_view fieldName, bool vectorOfBool) {
    if (!status.IsSuccess()) {
        return false;
    }
    if (input.Kind() == BindingKind::Collection) {
        return true;
    }
    if (vectorOfBool && input.IsEmpty()) {
        Required(status, fieldName);
    } else {
        status.SetError(FormatMessage(kNotCollection, fieldName));
    }
    return false;
}

bool CheckMap(BindingResult& status, const BindingProperty& input, std::string_view fieldName) {
    if (!status.IsSuccess()) {
        return false;
    }
    if (input.Kind() == BindingKind::Structure) {
        return true;
    }
    status.SetError(FormatMessage(kNotMapStructure, fieldName));
    return false;
}

} // namespace FromPropertyRules

void FromProperty(BindingResult& status, void* record, const BindingProperty& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor,
                  const BindingRegistry& registry) {
    if (!status.IsSuccess()) {
        return;
    }
    if (input.IsEmpty()) {
        Required(status, name);
        return;
    }
    FromPropertyRules::Struct(status, record, input, name, descriptor, registry);
}

} // namespace Korvel
