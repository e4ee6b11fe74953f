#include "encoding/msgpack_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_name_cache.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"

namespace Korvel {
namespace {

constexpr const char* kUnsupportedFormat = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotString =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTruncated8 =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated16 =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated32 =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated64 =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
constexpr const char* kStringTruncated =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kRawTruncated =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
constexpr const char* kTooDeep =
    "Invalid MessagePack data at position %1. Nesting is deeper than %2 levels.";
constexpr const char* kTooManyElements =
    "Invalid MessagePack data at position %1. A collection holds at most %2 elements.";
constexpr const char* kOutOfMemory =
    "Invalid MessagePack data at position %1. Not enough memory to hold the decoded value.";

// A frame is an open container receiving its items. An item is decoded straight into its slot
// (which may still hold an earlier value of a repeated key) and gets a frame of its own only when
// it is a container itself.
enum class FrameState : std::uint8_t { Array, Map };

struct Frame {
    BindingProperty* target;
    std::uint64_t count;  // items of an open container (keys and values counted apart in maps)
    std::uint64_t next;   // index of the next item
    std::string_view key; // the key just read by a map frame; views the input
    FrameState state;
};

class Decoder {
public:
    Decoder(const void* data, std::size_t length)
        : data_(static_cast<const std::uint8_t*>(data)), length_(length) {}

    BindingResult Run(std::size_t& bytesUsed) {
        try {
            Decode();
        } catch (const std::bad_alloc&) {
            Fail(FormatMessage(kOutOfMemory, position_));
        } catch (const std::length_error&) {
            Fail(FormatMessage(kOutOfMemory, position_));
        }
        bytesUsed = position_;
        names_.Clear();
        return std::move(result_);
    }

private:
    std::size_t Remaining() const noexcept { return length_ - position_; }

    void Fail(const std::string& message) {
        failed_ = true;
        result_.SetError(message);
    }

    // Reads a big-endian number of `width` bytes (1, 2, 4 or 8). With fewer bytes left it fails
    // with the truncation message of that width, naming the position where the number starts.
    bool ReadNumber(std::size_t width, std::uint64_t& value) {
        if (Remaining() < width) {
            const char* message = width == 1   ? kTruncated8
                                  : width == 2 ? kTruncated16
                                  : width == 4 ? kTruncated32
                                               : kTruncated64;
            Fail(FormatMessage(message, position_));
            return false;
        }
        std::uint64_t number = 0;
        for (std::size_t i = 0; i < width; ++i) {
            number = (number << 8) | data_[position_ + i];
        }
        position_ += width;
        value = number;
        return true;
    }

    // Takes `length` content bytes; with fewer left it fails with `message` (declared length,
    // position of the content).
    bool TakeBytes(std::uint64_t length, const char* message, const std::uint8_t*& bytes) {
        if (length > Remaining()) {
            Fail(FormatMessage(message, length, position_));
            return false;
        }
        bytes = data_ + position_;
        position_ += static_cast<std::size_t>(length);
        return true;
    }

    // Reads a string whose length is given by the format byte (fixstr) or follows it.
    bool ReadText(std::uint8_t format, std::string_view& text) {
        std::uint64_t length = 0;
        if (format >= 0xA0 && format <= 0xBF) {
            length = format & 0x1Fu;
        } else if (!ReadNumber(std::size_t{1} << (format - 0xD9), length)) {
            return false;
        }
        const std::uint8_t* bytes = nullptr;
        if (!TakeBytes(length, kStringTruncated, bytes)) {
            return false;
        }
        text = std::string_view(reinterpret_cast<const char*>(bytes),
                                static_cast<std::size_t>(length));
        return true;
    }

    void Decode() {
        frames_.reserve(16);
        bool rootRead = false;
        while (!failed_ && position_ < length_) {
            // Find the target of the next item: the root value first, then the items of the open
            // containers until the root is complete.
            BindingProperty* target = nullptr;
            Frame* keyFrame = nullptr;
            for (;;) {
                if (frames_.empty()) {
                    if (rootRead) {
                        return;
                    }
                    rootRead = true;
                    target = &result_.value;
                    break;
                }
                Frame& top = frames_.back();
                if (top.next == top.count) {
                    frames_.pop_back();
                    continue;
                }
                if (top.state == FrameState::Array) {
                    if (top.next >= DecodeLimits::kMaxCollectionElements) {
                        Fail(FormatMessage(kTooManyElements, position_,
                                           DecodeLimits::kMaxCollectionElements));
                        return;
                    }
                    target = &top.target->Element(static_cast<std::size_t>(top.next));
                    ++top.next;
                    break;
                }
                if ((top.next & 1u) == 0) {
                    ++top.next;
                    keyFrame = &top;
                    break;
                }
                target = &names_.Member(*top.target, top.key);
                ++top.next;
                break;
            }

            const std::uint8_t format = data_[position_++];
            if (keyFrame != nullptr) {
                if ((format >= 0xA0 && format <= 0xBF) || (format >= 0xD9 && format <= 0xDB)) {
                    ReadText(format, keyFrame->key);
                } else {
                    Fail(FormatMessage(kKeyNotString, position_));
                }
                continue;
            }
            DecodeValue(format, *target);
        }
    }

    // Decodes the item starting with `format` into `target`: the root's slot or an item of the
    // innermost open container.
    void DecodeValue(std::uint8_t format, BindingProperty& target) {
        if (format <= 0x7F) {
            target.SetSigned(static_cast<std::int64_t>(format));
            return;
        }
        if (format >= 0xE0) {
            target.SetSigned(static_cast<std::int8_t>(format));
            return;
        }
        if (format <= 0x8F) {
            OpenMap(target, format & 0x0Fu);
            return;
        }
        if (format <= 0x9F) {
            OpenArray(target, format & 0x0Fu);
            return;
        }
        if (format <= 0xBF) {
            std::string_view text;
            if (ReadText(format, text)) {
                target.SetString(text);
            }
            return;
        }

        std::uint64_t number = 0;
        switch (format) {
        case 0xC0: // nil: the target keeps what it holds
            return;
        case 0xC2:
        case 0xC3:
            target.SetBool(format == 0xC3);
            return;
        case 0xC4:
        case 0xC5:
        case 0xC6: {
            const std::uint8_t* bytes = nullptr;
            if (ReadNumber(std::size_t{1} << (format - 0xC4), number) &&
                TakeBytes(number, kRawTruncated, bytes)) {
                target.SetBlob(
                    std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(number)));
            }
            return;
        }
        case 0xCA:
            if (ReadNumber(4, number)) {
                const auto bits = static_cast<std::uint32_t>(number);
                float single;
                std::memcpy(&single, &bits, sizeof single);
                target.SetFloat(static_cast<double>(single));
            }
            return;
        case 0xCB:
            if (ReadNumber(8, number)) {
                double value;
                std::memcpy(&value, &number, sizeof value);
                target.SetFloat(value);
            }
            return;
        case 0xCC:
        case 0xCD:
        case 0xCE:
        case 0xCF:
            if (ReadNumber(std::size_t{1} << (format - 0xCC), number)) {
                target.SetUnsigned(number);
            }
            return;
        case 0xD0:
            if (ReadNumber(1, number)) {
                target.SetSigned(static_cast<std::int8_t>(number));
            }
            return;
        case 0xD1:
            if (ReadNumber(2, number)) {
                target.SetSigned(static_cast<std::int16_t>(number));
            }
            return;
        case 0xD2:
            if (ReadNumber(4, number)) {
                target.SetSigned(static_cast<std::int32_t>(number));
            }
            return;
        case 0xD3:
            if (ReadNumber(8, number)) {
                target.SetSigned(static_cast<std::int64_t>(number));
            }
            return;
        case 0xD9:
        case 0xDA:
        case 0xDB: {
            std::string_view text;
            if (ReadText(format, text)) {
                target.SetString(text);
            }
            return;
        }
        case 0xDC:
        case 0xDD:
            if (ReadNumber(format == 0xDC ? 2 : 4, number)) {
                OpenArray(target, number);
            }
            return;
        case 0xDE:
        case 0xDF:
            if (ReadNumber(format == 0xDE ? 2 : 4, number)) {
                OpenMap(target, number);
            }
            return;
        default: // 0xC1, ext and fixext
            Fail(FormatMessage(kUnsupportedFormat, position_));
            return;
        }
    }

    // The level of the container about to open: the root container is level 1, and each open
    // container below it adds one.
    bool CheckDepth() {
        if (frames_.size() + 1 > DecodeLimits::kMaxNestingDepth) {
            Fail(FormatMessage(kTooDeep, position_, DecodeLimits::kMaxNestingDepth));
            return false;
        }
        return true;
    }

    void OpenArray(BindingProperty& target, std::uint64_t count) {
        if (!CheckDepth()) {
            return;
        }
        // An existing collection (repeated key) keeps its elements and is written over from 0.
        target.MakeCollection();
        // The declaration is not trusted: reserve no more than the remaining bytes can encode,
        // and no more over all arrays than the whole input can: nested arrays are all open while
        // the same remaining bytes lie ahead of each of them, but those bytes fill only one.
        const std::size_t room =
            DecodeLimits::ReservableElements(count, std::min(Remaining(), reservable_));
        if (room > target.Size() && target.Reserve(room)) {
            reservable_ -= room;
        }
        Open(target, FrameState::Array, count);
    }

    void OpenMap(BindingProperty& target, std::uint64_t pairs) {
        if (!CheckDepth()) {
            return;
        }
        // An existing structure (repeated key) keeps its members: the new ones merge into it.
        target.MakeStructure();
        // As for arrays, the declaration makes room only for what the remaining bytes can hold
        // (a pair takes at least two).
        target.ReserveMembers(DecodeLimits::ReservableElements(pairs, Remaining() / 2));
        Open(target, FrameState::Map, pairs * 2);
    }

    void Open(BindingProperty& target, FrameState state, std::uint64_t count) {
        frames_.push_back(Frame{&target, count, 0, {}, state});
    }

    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t position_ = 0;
    // Elements that array reservations may still add, summed over all arrays: each element takes
    // at least one byte, so the input's length covers every array it really fills.
    std::size_t reservable_ = length_ / DecodeLimits::kMinEncodedItemBytes;
    bool failed_ = false;
    BindingResult result_;
    // Declared after the result: holds names of the result's tree.
    BindingNameCache names_;
    std::vector<Frame> frames_;
};

} // namespace

BindingResult DecodeMessagePack(const void* data, std::size_t length, std::size_t& bytesUsed) {
    Decoder decoder(data, length);
    return decoder.Run(bytesUsed);
}

} // namespace Korvel
