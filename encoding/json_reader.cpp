#include "encoding/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <rapidjson/reader.h>

#include "binding/binding_allocator.h"
#include "binding/binding_name_cache.h"
#include "binding/text_up_to_zero.h"
#include "diagnostics/allocation.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"
#include "encoding/json_allocator.h"

namespace Korvel {

namespace {

bool IsDigitChar(char c) noexcept {
    return c >= '0' && c <= '9';
}

constexpr const char* kErrorTemplate = "Error: %s at offset %u.";

// Texts of the errors the handler itself stops the reader for.
constexpr const char* kTooDeepText = "The document is nested deeper than 512 levels";
constexpr const char* kArrayFullText = "An array cannot hold more elements";
constexpr const char* kOutOfMemoryText = "Not enough memory to hold the decoded value";
static_assert(DecodeLimits::kMaxNestingDepth == 512, "kTooDeepText names the nesting limit");

constexpr const char* kParseErrorTexts[] = {
    "No error.",
    "The document is empty.",
    "The document root must not follow by other values.",
    "Invalid value.",
    "Missing a name for object member.",
    "Missing a colon after a name of object member.",
    "Missing a comma or '}' after an object member.",
    "Missing a comma or ']' after an array element.",
    "Incorrect hex digit after \\u escape in string.",
    "The surrogate pair in string is invalid.",
    "Invalid escape character in string.",
    "Missing a closing quotation mark in string.",
    "Invalid encoding in string.",
    "Number too big to be stored in double.",
    "Miss fraction part in number.",
    "Miss exponent in number.",
    "Terminate parsing due to Handler error.",
    "Unspecific syntax error.",
};

// Whether a number that converts to no finite, non-zero double lies above the double range
// rather than below it: whether its first significant digit stands at 10^0 or higher.
bool BeyondDoubleRange(std::string_view number) {
    std::size_t at = number.empty() || number[0] != '-' ? 0 : 1;
    const std::size_t digitsStart = at;
    while (at < number.size() && IsDigitChar(number[at])) {
        ++at;
    }
    const std::string_view integral = number.substr(digitsStart, at - digitsStart);
    std::string_view fraction;
    if (at < number.size() && number[at] == '.') {
        const std::size_t fractionStart = ++at;
        while (at < number.size() && IsDigitChar(number[at])) {
            ++at;
        }
        fraction = number.substr(fractionStart, at - fractionStart);
    }
    std::int64_t exponent = 0;
    if (at < number.size() && (number[at] == 'e' || number[at] == 'E')) {
        ++at;
        const bool negativeExponent = at < number.size() && number[at] == '-';
        if (at < number.size() && (number[at] == '-' || number[at] == '+')) {
            ++at;
        }
        for (; at < number.size() && IsDigitChar(number[at]); ++at) {
            if (exponent < 1000000) {
                exponent = exponent * 10 + (number[at] - '0');
            }
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    // Power of ten of the first significant digit.
    std::int64_t leading;
    const std::size_t firstInteger = integral.find_first_not_of('0');
    if (firstInteger != std::string_view::npos) {
        leading = static_cast<std::int64_t>(integral.size() - firstInteger) - 1;
    } else {
        const std::size_t firstFraction = fraction.find_first_not_of('0');
        if (firstFraction == std::string_view::npos) {
            return false; // zero
        }
        leading = -static_cast<std::int64_t>(firstFraction) - 1;
    }
    return leading + exponent >= 0;
}

// Builds the value tree from the reader's events. The target is the value the next scalar
// writes; the stack holds the open collections and structures, innermost last. Containers on the
// stack never move: a structure's members are map nodes, and a collection's elements move only
// when that collection grows, which happens only while it is the innermost open container.
class TreeHandler {
public:
    // The reader reads the stream through a local copy and brings it up to date only after each
    // number, so while a number is reported the stream still stands at the number's start.
    // `zeroFree`: no text of the document can hold a zero byte.
    TreeHandler(BindingProperty& root, rapidjson::InsituStringStream& stream, bool zeroFree)
        : target_(&root), stream_(&stream), zeroFree_(zeroFree) {
        stack_.reserve(16);
    }

    // Why the handler stopped the reader, or null.
    const char* Refusal() const noexcept { return refusal_; }
    // Where the refused input starts, when the handler knows better than the reader.
    std::optional<std::size_t> RefusalOffset() const noexcept { return refusalOffset_; }

    bool Null() { return Next() != nullptr; }
    bool Bool(bool value) {
        return Set([value](BindingProperty& v) { v.SetBool(value); });
    }
    bool Int(int value) {
        return Set([value](BindingProperty& v) { v.SetSigned(static_cast<std::int64_t>(value)); });
    }
    bool Uint(unsigned value) {
        return Set(
            [value](BindingProperty& v) { v.SetUnsigned(static_cast<std::uint64_t>(value)); });
    }
    bool Int64(std::int64_t value) {
        return Set([value](BindingProperty& v) { v.SetSigned(value); });
    }
    bool Uint64(std::uint64_t value) {
        return Set([value](BindingProperty& v) { v.SetUnsigned(value); });
    }
    bool Double(double value) {
        return Set([value](BindingProperty& v) { v.SetFloat(value); });
    }
    // Every number arrives as its text (the reader's own conversion to double is off by one unit
    // in the last place for some texts, and gives infinity or NaN for some that overflow). The
    // reader has checked the grammar.
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        const char* const end = text + length;
        const bool negative = length > 0 && text[0] == '-';
        if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) ==
            end) {
            // An integer is "signed" with a minus sign and "unsigned" without, when it fits.
            if (negative) {
                std::int64_t value = 0;
                const auto parsed = std::from_chars(text, end, value);
                if (parsed.ec == std::errc{} && parsed.ptr == end) {
                    return Int64(value);
                }
            } else {
                std::uint64_t value = 0;
                const auto parsed = std::from_chars(text, end, value);
                if (parsed.ec == std::errc{} && parsed.ptr == end) {
                    return Uint64(value);
                }
            }
        }
        // The nearest double, rounded correctly.
        double value = 0.0;
        const auto parsed = std::from_chars(text, end, value);
        if (parsed.ec == std::errc::result_out_of_range) {
            if (BeyondDoubleRange(std::string_view(text, length))) {
                refusal_ = JsonParseErrorText(rapidjson::kParseErrorNumberTooBig);
                refusalOffset_ = stream_->Tell();
                return false;
            }
            value = negative ? -0.0 : 0.0; // nearer to zero than the smallest double
        } else if (parsed.ec != std::errc{} || parsed.ptr != end) {
            refusal_ = JsonParseErrorText(rapidjson::kParseErrorValueInvalid);
            refusalOffset_ = stream_->Tell();
            return false;
        }
        return Double(value);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Set([&](BindingProperty& v) { v.SetString(Text(text, length)); });
    }
    bool StartObject() {
        BindingProperty* value = Open();
        if (value == nullptr) {
            return false;
        }
        value->MakeStructure();
        stack_.push_back({value, false});
        return true;
    }
    bool Key(const char* name, rapidjson::SizeType length, bool) {
        target_ = &names_.Member(*stack_.back().value, Text(name, length));
        return true;
    }
    bool EndObject(rapidjson::SizeType) {
        stack_.pop_back();
        return true;
    }
    bool StartArray() {
        BindingProperty* value = Open();
        if (value == nullptr) {
            return false;
        }
        value->MakeCollection();
        stack_.push_back({value, true});
        return true;
    }
    bool EndArray(rapidjson::SizeType) {
        stack_.pop_back();
        return true;
    }

private:
    struct Open_ {
        BindingProperty* value;
        bool isCollection;
    };

    // A text of the document up to its first zero byte, which only a document holding the zero
    // escape needs to look for.
    ZeroFreeText Text(const char* text, rapidjson::SizeType length) const noexcept {
        const std::string_view view(text, length);
        return ZeroFreeText{zeroFree_ ? view : TextUpToZero(view)};
    }

    // The target of the next value: a new element when the innermost container is a collection.
    BindingProperty* Next() {
        if (!stack_.empty() && stack_.back().isCollection) {
            BindingProperty& collection = *stack_.back().value;
            const std::size_t before = collection.Size();
            BindingProperty& element = collection.Append();
            if (collection.Size() == before) {
                refusal_ = kArrayFullText; // the element went nowhere
                return nullptr;
            }
            target_ = &element;
        }
        return target_;
    }

    template <typename Assign>
    bool Set(const Assign& assign) {
        BindingProperty* value = Next();
        if (value == nullptr) {
            return false;
        }
        assign(*value);
        return true;
    }

    // The target of a new container, or null when it would nest too deep.
    BindingProperty* Open() {
        if (stack_.size() >= DecodeLimits::kMaxNestingDepth) {
            refusal_ = kTooDeepText;
            return nullptr;
        }
        return Next();
    }

    BindingProperty* target_;
    rapidjson::InsituStringStream* stream_;
    bool zeroFree_;
    std::vector<Open_, BindingAllocator<Open_>> stack_;
    // Names of the tree being read; the handler goes before the tree does.
    BindingNameCache names_;
    const char* refusal_ = nullptr;
    std::optional<std::size_t> refusalOffset_;
};

// Whether a text of the document may hold a zero byte. The document itself ends at its first
// zero byte, so only the escape "\u0000" can put one into a text. Each backslash is looked at
// with the character after it: an escaped backslash cannot start an escape, so "\\u0000" is
// no zero.
bool MayHoldZeroEscape(const char* text, std::size_t size) noexcept {
    const char* const end = text + size;
    const char* at = text;
    while (at < end) {
        const void* found = std::memchr(at, '\\', static_cast<std::size_t>(end - at));
        if (found == nullptr) {
            return false;
        }
        at = static_cast<const char*>(found);
        if (end - at >= 6 && std::memcmp(at + 1, "u0000", 5) == 0) {
            return true;
        }
        at += 2;
    }
    return false;
}

// A failed result telling that memory ran out at `offset`; without the message when even that
// cannot be held.
BindingResult OutOfMemory(std::size_t offset) noexcept {
    BindingResult result;
    try {
        result.SetError(
            FormatMessage(kErrorTemplate, kOutOfMemoryText, static_cast<std::uint32_t>(offset)));
    } catch (const std::bad_alloc&) {
        result.value.Clear();
        result.success = false;
    }
    return result;
}

BindingResult ParseTree(rapidjson::InsituStringStream& stream, bool zeroFree) {
    static_assert(rapidjson::StreamTraits<rapidjson::InsituStringStream>::copyOptimization,
                  "the handler takes a number's offset from the stream while it is reported");
    BindingResult result;
    TreeHandler handler(result.value, stream, zeroFree);
    JsonAllocator allocator;
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator> reader(
        &allocator);
    const rapidjson::ParseResult parsed =
        reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseInsituFlag>(stream,
                                                                                          handler);
    if (!parsed.IsError()) {
        return result;
    }
    if (parsed.Code() == rapidjson::kParseErrorDocumentEmpty) {
        result.Reset();
        return result;
    }
    const char* text =
        handler.Refusal() != nullptr ? handler.Refusal() : JsonParseErrorText(parsed.Code());
    const std::size_t offset = handler.RefusalOffset().value_or(parsed.Offset());
    result.SetError(FormatMessage(kErrorTemplate, text, static_cast<std::uint32_t>(offset)));
    return result;
}

// When the tree, the handler's stack or the reader's stacks cannot grow, what was read is dropped
// and the failure is reported where the reader had got to.
BindingResult Parse(rapidjson::InsituStringStream& stream, bool zeroFree) {
    try {
        return ParseTree(stream, zeroFree);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(stream.Tell());
    }
}

// Reads a private copy of the text in place: the reader unescapes each string where it stands
// instead of pushing it character by character onto its own stack, which saves about a tenth of
// the reading time for the price of one copy of the input. The copy ends at the text's first zero
// byte, as the document does.
BindingResult Read(std::string_view text) {
    struct FreeCopy {
        void operator()(char* copy) const noexcept { Free(copy); }
    };
    std::unique_ptr<char, FreeCopy> copy(static_cast<char*>(Allocate(text.size() + 1)));
    if (copy == nullptr) {
        return OutOfMemory(0);
    }
    if (!text.empty()) {
        std::memcpy(copy.get(), text.data(), text.size());
    }
    copy.get()[text.size()] = '\0';
    rapidjson::InsituStringStream stream(copy.get());
    return Parse(stream, !MayHoldZeroEscape(copy.get(), text.size()));
}

} // namespace

const char* JsonParseErrorText(std::uint32_t code) noexcept {
    return code < std::size(kParseErrorTexts) ? kParseErrorTexts[code] : "Unknown error.";
}

BindingResult ReadJson(const char* text) {
    return Read(text != nullptr ? std::string_view(text) : std::string_view());
}

BindingResult ReadJson(std::string_view text) {
    return Read(text);
}

} // namespace Korvel
