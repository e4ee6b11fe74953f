#include "diagnostics/format_message.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace Korvel {
namespace {

// Room of the directive buffer: the gathered text, a length modifier of
// up to two characters, the conversion letter and the NUL.
constexpr std::size_t kDirectiveBufferSize = 64;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a decimal number, saturating instead of overflowing.
int ReadNumber(const char*& p) {
    long long value = 0;
    while (IsDigit(*p)) {
        if (value < 1000000000LL) {
            value = value * 10 + (*p - '0');
        }
        ++p;
    }
    return value > 2147483647LL ? 2147483647 : static_cast<int>(value);
}

// Length of the length modifier at the end of directive[0, end) that precedes the
// conversion letter, or 0.
std::size_t ModifierLengthBefore(const char* directive, std::size_t end) {
    if (end >= 3) {
        const char a = directive[end - 2];
        const char b = directive[end - 1];
        if ((a == 'h' && b == 'h') || (a == 'l' && b == 'l')) {
            return 2;
        }
    }
    if (end >= 2) {
        switch (directive[end - 1]) {
        case 'h':
        case 'l':
        case 'L':
        case 'j':
        case 't':
        case 'z':
            return 1;
        default:
            break;
        }
    }
    return 0;
}

// Rewrites the gathered directive into one that is safe to hand to the
// bounded printf together with a value of the argument's actual type:
// - a bare placeholder gets the type's default modifier and letter;
// - a letter the type does not accept becomes the default letter;
// - the template's own length modifier is replaced by the type's default,
//   since the type is known and a mismatched modifier would make printf read
//   the wrong amount (only "h" and "hh" are kept, for 32-bit integer and
//   character values under an integer conversion, where they merely narrow
//   what is printed; C defines neither for "c").
// Returns false when nothing may be written (an "n" conversion).
bool NormalizeDirective(FormatRenderContext& context, bool keepsShortModifiers) {
    char* directive = context.directive;
    std::size_t length = context.directiveLength;
    const char* accepted = context.acceptedConversions;
    char letter = accepted[0];
    std::size_t stem = length;
    // Only a bare numbered placeholder ("%1") is gathered without a letter,
    // and its text is then just "%".
    const bool hasLetter = length >= 2;
    if (hasLetter) {
        const char last = directive[length - 1];
        if (std::strchr(accepted, last) != nullptr) {
            letter = last;
        }
        stem = length - 1;
    }
    const std::size_t modifier = ModifierLengthBefore(directive, stem);
    const bool keepsModifier =
        keepsShortModifiers && modifier > 0 && directive[stem - modifier] == 'h' && letter != 'c';
    std::size_t out = stem;
    if (modifier > 0 && !keepsModifier) {
        out = stem - modifier;
    }
    if (!keepsModifier) {
        for (const char* m = context.defaultModifier; *m != '\0'; ++m) {
            directive[out++] = *m;
        }
    }
    if (letter == 'n') {
        directive[0] = '\0';
        context.directiveLength = 0;
        return false;
    }
    directive[out++] = letter;
    directive[out] = '\0';
    context.directiveLength = out;
    return true;
}

// Number of characters actually written by a bounded printf that reported
// `reported` into `room` bytes.
std::size_t Written(int reported, std::size_t room) {
    if (reported < 0 || room == 0) {
        return 0;
    }
    const auto wanted = static_cast<std::size_t>(reported);
    return wanted < room ? wanted : room - 1;
}

// Widths and precisions beyond what the output can show are cut before printf runs: a template
// or "*" argument asking for a width of 999999999 would otherwise make printf produce (and for
// floating-point precision, allocate) a gigabyte to keep a few thousand characters of it. The cut
// changes nothing visible. A precision of at least 8192 and at least the room prints a double's
// exact decimal expansion (fewer than 1100 digits after the point) followed by zeros, and an
// integer as zeros beyond the room, just as any larger precision does. A conversion under such a
// precision is at most 512 characters longer than it, so a width beyond the room plus that
// still starts with more padding than the room holds.
constexpr int64_t kMinPrintedPrecision = 2 * static_cast<int64_t>(kFormatMessageBufferSize);
constexpr int64_t kMinPrintedWidth = 4 * static_cast<int64_t>(kFormatMessageBufferSize);
constexpr int64_t kLongestConversionBeyondPrecision = 512;
constexpr int64_t kIntMax = 2147483647;

int64_t Smaller(int64_t a, int64_t b) {
    return a < b ? a : b;
}

int64_t Larger(int64_t a, int64_t b) {
    return a > b ? a : b;
}

int64_t RoomAsNumber(std::size_t room) {
    return static_cast<uint64_t>(room) > static_cast<uint64_t>(kIntMax)
               ? kIntMax
               : static_cast<int64_t>(room);
}

// A number written in a directive is read up to this value: one more than any int, so a number
// too large for printf is still seen to be too large.
constexpr int64_t kBeyondInt = kIntMax + 1;

// Reads the decimal number at directive[at], saturating at kBeyondInt, and moves past it.
int64_t ReadDirectiveNumber(const char* directive, std::size_t& at) {
    int64_t value = 0;
    while (IsDigit(directive[at])) {
        value = Smaller(value * 10 + (directive[at] - '0'), kBeyondInt);
        ++at;
    }
    return value;
}

// The flags, width and precision of a normalised directive ("%", flags, width, precision, then
// modifier and letter), read once for the printers that need them.
struct DirectiveNumbers {
    std::size_t flagsEnd = 1; // the flags are directive[1, flagsEnd)
    bool leftFlag = false;    // "-" is among the flags
    // The width: from the first "*" value, or written at directive[widthAt, widthEnd) (0 when
    // nothing is written).
    bool widthStar = false;
    std::size_t widthAt = 0;
    std::size_t widthEnd = 0;
    int64_t width = 0;
    // The precision, when there is a ".": from the next "*" value, or written at
    // directive[precisionAt, precisionEnd) ("." alone is 0).
    bool hasPrecision = false;
    bool precisionStar = false;
    std::size_t precisionAt = 0;
    std::size_t precisionEnd = 0;
    int64_t precision = 0;
};

DirectiveNumbers ReadDirectiveNumbers(const char* directive) {
    DirectiveNumbers numbers;
    std::size_t at = 1;
    while (directive[at] != '\0' && std::strchr("-+ #0", directive[at]) != nullptr) {
        numbers.leftFlag = numbers.leftFlag || directive[at] == '-';
        ++at;
    }
    numbers.flagsEnd = at;
    if (directive[at] == '*') {
        numbers.widthStar = true;
        ++at;
    } else {
        numbers.widthAt = at;
        numbers.width = ReadDirectiveNumber(directive, at);
        numbers.widthEnd = at;
    }
    if (directive[at] != '.') {
        return numbers;
    }
    numbers.hasPrecision = true;
    ++at;
    if (directive[at] == '*') {
        numbers.precisionStar = true;
    } else {
        numbers.precisionAt = at;
        numbers.precision = ReadDirectiveNumber(directive, at);
        numbers.precisionEnd = at;
    }
    return numbers;
}

// Writes `number` over the digits at directive[at, end); it is never longer than they are.
void RewriteDirectiveNumber(FormatRenderContext& context, std::size_t at, std::size_t end,
                            int64_t number) {
    char* directive = context.directive;
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    const auto count = static_cast<std::size_t>(written.ptr - digits);
    std::memcpy(directive + at, digits, count);
    std::memmove(directive + at + count, directive + end, context.directiveLength - end + 1);
    context.directiveLength -= end - at - count;
}

void ClampDirectiveNumbers(FormatRenderContext& context) {
    const int64_t room = RoomAsNumber(context.room);
    const int64_t maxPrecision = Smaller(Larger(kMinPrintedPrecision, room), kIntMax);
    const int64_t maxWidth = Smaller(
        Larger(kMinPrintedWidth, room + maxPrecision + kLongestConversionBeyondPrecision), kIntMax);
    const DirectiveNumbers numbers = ReadDirectiveNumbers(context.directive);
    int star = 0;
    if (numbers.widthStar) {
        int32_t& width = context.starValues[star++];
        if (width > maxWidth) {
            width = static_cast<int32_t>(maxWidth);
        } else if (width < -maxWidth) {
            width = static_cast<int32_t>(-maxWidth); // left-justified
        }
    }
    // The precision is cut first: its digits follow the width's, so the width's stay in place.
    if (numbers.hasPrecision) {
        if (numbers.precisionStar) {
            // A negative precision counts as none and stays.
            int32_t& precision = context.starValues[star];
            if (precision > maxPrecision) {
                precision = static_cast<int32_t>(maxPrecision);
            }
        } else if (numbers.precision > maxPrecision) {
            RewriteDirectiveNumber(context, numbers.precisionAt, numbers.precisionEnd,
                                   maxPrecision);
        }
    }
    if (!numbers.widthStar && numbers.width > maxWidth) {
        RewriteDirectiveNumber(context, numbers.widthAt, numbers.widthEnd, maxWidth);
    }
}

template <class Value>
std::size_t PrintValue(FormatRenderContext& context, Value value) {
    if (context.room == 0) {
        return 0;
    }
    ClampDirectiveNumbers(context);
    int reported;
    switch (context.starCount) {
    case 0:
        reported = std::snprintf(context.output, context.room, context.directive, value);
        break;
    case 1:
        reported = std::snprintf(context.output, context.room, context.directive,
                                 context.starValues[0], value);
        break;
    default:
        reported = std::snprintf(context.output, context.room, context.directive,
                                 context.starValues[0], context.starValues[1], value);
        break;
    }
    const std::size_t written = Written(reported, context.room);
    if (reported < 0) {
        context.output[0] = '\0';
    }
    return written;
}

// Copies text straight into the output; the common "%s" and "%d" cases need
// no printf.
std::size_t CopyPlain(FormatRenderContext& context, const char* text, std::size_t length) {
    if (context.room == 0) {
        return 0;
    }
    const std::size_t fits = length < context.room ? length : context.room - 1;
    std::memcpy(context.output, text, fits);
    context.output[fits] = '\0';
    return fits;
}

bool IsPlain(const FormatRenderContext& context, char letter) {
    return context.directiveLength == 2 && context.directive[1] == letter;
}

template <class Integer>
std::size_t RenderInteger(FormatRenderContext& context, bool keepsShortModifiers) {
    if (!NormalizeDirective(context, keepsShortModifiers)) {
        return 0;
    }
    const Integer value = *static_cast<const Integer*>(context.value);
    const std::size_t modifier = std::strlen(context.defaultModifier);
    if (context.directiveLength == 2 + modifier && context.directive[1 + modifier] == 'd' &&
        context.starCount == 0) {
        // "d" reads the value as signed, as printf would.
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits,
                                          static_cast<std::make_signed_t<Integer>>(value));
        return CopyPlain(context, digits, static_cast<std::size_t>(result.ptr - digits));
    }
    if constexpr (sizeof(Integer) == 8) {
        if (context.directive[context.directiveLength - 1] == 'c') {
            // "%llc" would ask printf for a wide character; "c" takes an int and prints the byte
            // of its low eight bits, so the 64-bit modifier goes and the low half is passed.
            const std::size_t letter = context.directiveLength - 1 - modifier;
            context.directive[letter] = 'c';
            context.directive[letter + 1] = '\0';
            context.directiveLength = letter + 1;
            return PrintValue(context,
                              static_cast<int>(static_cast<uint32_t>(value & 0xFFFFFFFFu)));
        }
        if constexpr (std::is_signed_v<Integer>) {
            return PrintValue(context, static_cast<long long>(value));
        } else {
            return PrintValue(context, static_cast<unsigned long long>(value));
        }
    } else {
        return PrintValue(context, value);
    }
}

std::size_t RenderInt32(FormatRenderContext& context) {
    return RenderInteger<int32_t>(context, true);
}
std::size_t RenderUInt32(FormatRenderContext& context) {
    return RenderInteger<uint32_t>(context, true);
}
std::size_t RenderInt64(FormatRenderContext& context) {
    return RenderInteger<int64_t>(context, false);
}
std::size_t RenderUInt64(FormatRenderContext& context) {
    return RenderInteger<uint64_t>(context, false);
}

std::size_t RenderDouble(FormatRenderContext& context) {
    if (!NormalizeDirective(context, false)) {
        return 0;
    }
    return PrintValue(context, *static_cast<const double*>(context.value));
}

std::size_t RenderChar(FormatRenderContext& context) {
    if (!NormalizeDirective(context, true)) {
        return 0;
    }
    const char value = *static_cast<const char*>(context.value);
    if (IsPlain(context, 'c') && context.starCount == 0) {
        return CopyPlain(context, &value, 1);
    }
    // Integer conversions print the character's code as a signed char.
    return PrintValue(context, static_cast<int>(value));
}

// Prints a text given in two pieces, `head` then `tail` (no NUL needed after either), under the
// normalised "s" directive, as printf would print the two joined. printf is given the number of
// bytes to show of each piece as its precision, so it reads no further than the text and pads it
// for its full length, however much of it fits; the width is cut as for numbers, relative to the
// text shown.
std::size_t PrintText(FormatRenderContext& context, const char* head, std::size_t headLength,
                      const char* tail, std::size_t tailLength) {
    if (context.room == 0) {
        return 0;
    }
    const DirectiveNumbers numbers = ReadDirectiveNumbers(context.directive);
    bool left = numbers.leftFlag;
    int star = 0;
    int64_t width = numbers.widthStar ? context.starValues[star++] : numbers.width;
    if (width < 0) {
        left = true; // a negative "*" width
        width = -width;
    }
    const auto asNumber = [](std::size_t length) {
        return static_cast<uint64_t>(length) > static_cast<uint64_t>(kIntMax)
                   ? kIntMax
                   : static_cast<int64_t>(length);
    };
    int64_t headShown = asNumber(headLength);
    int64_t tailShown = asNumber(tailLength);
    if (numbers.hasPrecision) {
        // A negative "*" precision counts as none; "." alone is precision 0.
        const int64_t precision =
            numbers.precisionStar ? context.starValues[star] : numbers.precision;
        if (precision >= 0) {
            headShown = Smaller(headShown, precision);
            tailShown = Smaller(tailShown, precision - headShown);
        }
    }
    const int64_t shown = Smaller(headShown + tailShown, kIntMax);
    width = Smaller(width, Smaller(shown + RoomAsNumber(context.room), kIntMax));
    // The padding goes before the head or after the tail: the piece next to it is printed with
    // the width less the other piece's length. A left-justifying width is passed as negative.
    const int64_t headWidth = left ? 0 : Larger(width - tailShown, 0);
    const int64_t tailWidth = left ? -Larger(width - headShown, 0) : 0;
    // The flags as written, then width and precision as arguments.
    char format[kDirectiveBufferSize];
    std::memcpy(format, context.directive, numbers.flagsEnd);
    std::memcpy(format + numbers.flagsEnd, "*.*s", 5);
    std::size_t written = 0;
    const auto print = [&](const char* text, int64_t pieceWidth, int64_t pieceShown) {
        const std::size_t room = context.room - written;
        const int reported =
            std::snprintf(context.output + written, room, format, static_cast<int>(pieceWidth),
                          static_cast<int>(pieceShown), text);
        if (reported < 0) {
            context.output[written] = '\0';
        }
        written += Written(reported, room);
        return reported >= 0 && static_cast<std::size_t>(reported) < room;
    };
    if (print(head, headWidth, headShown) && (tailShown > 0 || tailWidth != 0)) {
        print(tail, tailWidth, tailShown);
    }
    return written;
}

// Renders `head` then `tail` (`headLength` and `tailLength` bytes) as one text under the
// (already gathered) directive; the text ends at its first NUL, as a "%s" argument would.
std::size_t RenderTexts(FormatRenderContext& context, const char* head, std::size_t headLength,
                        const char* tail, std::size_t tailLength) {
    if (!NormalizeDirective(context, false)) {
        return 0;
    }
    if (const void* end = std::memchr(head, '\0', headLength)) {
        headLength = static_cast<std::size_t>(static_cast<const char*>(end) - head);
        tailLength = 0;
    } else if (const void* tailEnd = std::memchr(tail, '\0', tailLength)) {
        tailLength = static_cast<std::size_t>(static_cast<const char*>(tailEnd) - tail);
    }
    if (IsPlain(context, 's') && context.starCount == 0) {
        const std::size_t copied = CopyPlain(context, head, headLength);
        if (copied < headLength || tailLength == 0) {
            return copied;
        }
        FormatRenderContext rest = context;
        rest.output += copied;
        rest.room -= copied;
        return copied + CopyPlain(rest, tail, tailLength);
    }
    return PrintText(context, head, headLength, tail, tailLength);
}

std::size_t RenderText(FormatRenderContext& context, const char* text, std::size_t length) {
    if (text == nullptr) {
        text = "(null)";
        length = 6;
    }
    return RenderTexts(context, text, length, "", 0);
}

std::size_t RenderTerminated(FormatRenderContext& context, const char* text) {
    return RenderText(context, text, text != nullptr ? std::strlen(text) : 0);
}

std::size_t RenderCText(FormatRenderContext& context) {
    return RenderTerminated(context, *static_cast<const char* const*>(context.value));
}

std::size_t RenderString(FormatRenderContext& context) {
    return RenderTerminated(context, static_cast<const std::string*>(context.value)->c_str());
}

std::size_t RenderStringView(FormatRenderContext& context) {
    const auto& view = *static_cast<const std::string_view*>(context.value);
    return RenderFormatText(context, view.data(), view.size());
}

std::size_t RenderOperationResult(FormatRenderContext& context) {
    const auto& result = *static_cast<const OperationResult*>(context.value);
    if (!result.failed) {
        return RenderTerminated(context, "Success");
    }
    const char* message = result.message.Text();
    if (message == nullptr) {
        return RenderTerminated(context, "");
    }
    // "<message> (<code>)", rendered in two pieces so that a message of any length keeps its
    // place under a width.
    char suffix[24] = " (";
    const auto code = std::to_chars(suffix + 2, suffix + sizeof suffix - 1, result.code);
    *code.ptr = ')';
    const auto suffixLength = static_cast<std::size_t>(code.ptr + 1 - suffix);
    return RenderTexts(context, message, std::strlen(message), suffix, suffixLength);
}

int32_t Int32AsInt(const void* value) {
    return *static_cast<const int32_t*>(value);
}
int32_t UInt32AsInt(const void* value) {
    return static_cast<int32_t>(*static_cast<const uint32_t*>(value));
}
int32_t Int64AsInt(const void* value) {
    return static_cast<int32_t>(static_cast<uint32_t>(*static_cast<const int64_t*>(value)));
}
int32_t UInt64AsInt(const void* value) {
    return static_cast<int32_t>(static_cast<uint32_t>(*static_cast<const uint64_t*>(value)));
}
int32_t CharAsInt(const void* value) {
    return *static_cast<const char*>(value);
}

} // namespace

namespace FormatTypes {
const FormatArgumentType kInt32{&RenderInt32, &Int32AsInt, true, "dciouxX", ""};
const FormatArgumentType kUInt32{&RenderUInt32, &UInt32AsInt, true, "ucdioxX", ""};
const FormatArgumentType kInt64{&RenderInt64, &Int64AsInt, true, "dciouxX", "ll"};
const FormatArgumentType kUInt64{&RenderUInt64, &UInt64AsInt, true, "ucdioxX", "ll"};
const FormatArgumentType kDouble{&RenderDouble, nullptr, false, "gaefGAEF", ""};
const FormatArgumentType kChar{&RenderChar, &CharAsInt, true, "cdiouxX", ""};
const FormatArgumentType kCText{&RenderCText, nullptr, false, "s", ""};
const FormatArgumentType kString{&RenderString, nullptr, false, "s", ""};
const FormatArgumentType kStringView{&RenderStringView, nullptr, false, "s", ""};
const FormatArgumentType kOperationResult{&RenderOperationResult, nullptr, false, "s", ""};
} // namespace FormatTypes

std::size_t RenderFormatText(FormatRenderContext& context, const char* text, std::size_t length) {
    return RenderText(context, text != nullptr ? text : "", text != nullptr ? length : 0);
}

std::size_t FormatMessageInto(char* buffer, std::size_t size, const char* tmpl,
                              const FormatArgument* arguments, int count) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (tmpl == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t limit = size - 1; // characters that fit besides the NUL
    std::size_t length = 0;
    int sequential = 1;
    const char* p = tmpl;

    while (*p != '\0' && length < limit) {
        if (*p != '%') {
            buffer[length++] = *p++;
            continue;
        }
        if (p[1] == '%') {
            buffer[length++] = '%';
            p += 2;
            continue;
        }

        // Gather one directive.
        char directive[kDirectiveBufferSize];
        std::size_t directiveLength = 0;
        directive[directiveLength++] = '%';
        const char* start = ++p;
        int index = 0;
        bool bare = false;
        bool widthDone = false;
        if (*p >= '1' && *p <= '9') {
            const int number = ReadNumber(p);
            if (number <= count) {
                index = number;
                if (*p == '$') {
                    ++p;
                } else {
                    bare = true;
                }
            } else {
                // Not an argument: the digits are a width.
                p = start;
                while (IsDigit(*p) && directiveLength <= kMaxFormatDirectiveLength) {
                    directive[directiveLength++] = *p++;
                }
                widthDone = true;
            }
        }

        int stars[2];
        int starCount = 0;
        bool stop = false;
        // Takes the argument of a "*" (explicit "*N$" or the next sequential
        // one) as an integer.
        auto takeStar = [&]() {
            int starIndex;
            const char* afterStar = p;
            if (*p >= '1' && *p <= '9') {
                const int number = ReadNumber(p);
                if (*p == '$') {
                    ++p;
                    starIndex = number;
                } else {
                    p = afterStar;
                    starIndex = sequential++;
                }
            } else {
                starIndex = sequential++;
            }
            if (starIndex > count) {
                stop = true;
                return;
            }
            const FormatArgument& argument = arguments[starIndex - 1];
            if (!argument.type->intUsable || argument.type->asInt == nullptr) {
                stop = true;
                return;
            }
            stars[starCount++] = argument.type->asInt(argument.value);
        };
        auto append = [&](char c) {
            if (directiveLength >= kMaxFormatDirectiveLength) {
                stop = true;
                return;
            }
            directive[directiveLength++] = c;
        };

        // A width or precision: digits, or "*" taking its value from the arguments.
        const auto appendNumberOrStar = [&] {
            if (*p == '*') {
                append(*p++);
                if (!stop) {
                    takeStar();
                }
            } else {
                while (IsDigit(*p) && !stop) {
                    append(*p++);
                }
            }
        };

        if (!bare) {
            if (!widthDone) {
                while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr && !stop) {
                    append(*p++);
                }
                appendNumberOrStar();
            }
            if (*p == '.' && !stop) {
                append(*p++);
                appendNumberOrStar();
            }
            if (!stop) {
                if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
                    append(*p++);
                    append(*p++);
                } else if (*p != '\0' && std::strchr("Ljtzhl", *p) != nullptr) {
                    append(*p++);
                }
            }
            if (!stop) {
                if (*p == '\0') {
                    // The template ends inside the directive: there is no
                    // conversion to perform.
                    break;
                }
                append(*p++);
            }
        }
        if (stop || directiveLength > kMaxFormatDirectiveLength) {
            break;
        }
        directive[directiveLength] = '\0';
        if (index == 0) {
            index = sequential++;
        }
        if (index > count) {
            break;
        }

        const FormatArgument& argument = arguments[index - 1];
        FormatRenderContext context{};
        context.output = buffer + length;
        context.room = size - length;
        context.directive = directive;
        context.directiveLength = directiveLength;
        context.acceptedConversions = argument.type->acceptedConversions;
        context.defaultModifier = argument.type->defaultModifier;
        context.value = argument.value;
        context.starCount = starCount;
        for (int i = 0; i < starCount; ++i) {
            context.starValues[i] = stars[i];
        }
        length += argument.type->render(context);
    }

    buffer[length < limit ? length : limit] = '\0';
    return length < limit ? length : limit;
}

} // namespace Korvel
