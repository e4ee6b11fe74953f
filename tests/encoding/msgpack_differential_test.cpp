// Random value trees, encoded by an independent MessagePack packer (msgpack-cxx when it is
// installed, a small encoder of this file otherwise) and by hand in the forms a packer never
// picks, decoded by DecodeMessagePack and compared with a model the test builds itself from the
// encoded items: which kind each format byte gives, how a repeated key lands on what the member
// already holds, and what every prefix of an encoding decodes to.

#include "encoding/msgpack_decoder.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#if defined(KORVEL_HAVE_MSGPACK_CXX)
#include <msgpack.hpp>
#endif

namespace Korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a format byte announces: the kind of item and the width of the number, length or count
// that follows it.
enum class Form { Nil, Bool, Signed, Unsigned, Float32, Float64, Str, Bin, Array, Map, Refused };

struct FormatInfo {
    Form form;
    std::size_t width;
};

FormatInfo ReadFormat(std::uint8_t format) {
    if (format <= 0x7F || format >= 0xE0) {
        return {Form::Signed, 0};
    }
    if (format <= 0x8F) {
        return {Form::Map, 0};
    }
    if (format <= 0x9F) {
        return {Form::Array, 0};
    }
    if (format <= 0xBF) {
        return {Form::Str, 0};
    }
    switch (format) {
    case 0xC0:
        return {Form::Nil, 0};
    case 0xC2:
    case 0xC3:
        return {Form::Bool, 0};
    case 0xC4:
        return {Form::Bin, 1};
    case 0xC5:
        return {Form::Bin, 2};
    case 0xC6:
        return {Form::Bin, 4};
    case 0xCA:
        return {Form::Float32, 4};
    case 0xCB:
        return {Form::Float64, 8};
    case 0xCC:
        return {Form::Unsigned, 1};
    case 0xCD:
        return {Form::Unsigned, 2};
    case 0xCE:
        return {Form::Unsigned, 4};
    case 0xCF:
        return {Form::Unsigned, 8};
    case 0xD0:
        return {Form::Signed, 1};
    case 0xD1:
        return {Form::Signed, 2};
    case 0xD2:
        return {Form::Signed, 4};
    case 0xD3:
        return {Form::Signed, 8};
    case 0xD9:
        return {Form::Str, 1};
    case 0xDA:
        return {Form::Str, 2};
    case 0xDB:
        return {Form::Str, 4};
    case 0xDC:
        return {Form::Array, 2};
    case 0xDD:
        return {Form::Array, 4};
    case 0xDE:
        return {Form::Map, 2};
    case 0xDF:
        return {Form::Map, 4};
    default: // 0xC1, ext 8/16/32, fixext
        return {Form::Refused, 0};
    }
}

// One encoded item. `kind` says what the generator meant; the format byte the encoder chose is
// read back into `format` and `width` after encoding.
enum class ItemKind { Nil, Bool, Integer, Float32, Float64, Str, Bin, Array, Map, Ext, Reserved };

struct Item {
    ItemKind kind = ItemKind::Nil;
    bool forced = false; // encoded by hand in a form chosen by the generator
    std::uint8_t handFormat = 0;
    bool boolean = false;
    std::uint64_t bits = 0; // an integer's two's-complement bits
    bool negative = false;
    float single = 0;
    double real = 0;
    std::string bytes;       // str, bin and ext content
    std::vector<Item> items; // array elements; map keys and values alternating
    std::uint8_t format = 0;
    std::size_t width = 0;
    std::size_t headerSize = 0; // format byte plus the number, length or count field
};

void PutBigEndian(Bytes& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutContent(Bytes& out, const std::string& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// The packer's own choice of form for an item.
#if defined(KORVEL_HAVE_MSGPACK_CXX)
class Packer {
public:
    explicit Packer(Bytes& out) : out_(out) {}
    ~Packer() { out_.insert(out_.end(), buffer_.data(), buffer_.data() + buffer_.size()); }
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    void Nil() { packer_.pack_nil(); }
    void Bool(bool value) { value ? packer_.pack_true() : packer_.pack_false(); }
    void Signed(std::int64_t value) { packer_.pack_int64(value); }
    void Unsigned(std::uint64_t value) { packer_.pack_uint64(value); }
    void Float32(float value) { packer_.pack_float(value); }
    void Float64(double value) { packer_.pack_double(value); }
    void Str(const std::string& text) {
        packer_.pack_str(static_cast<std::uint32_t>(text.size()));
        packer_.pack_str_body(text.data(), static_cast<std::uint32_t>(text.size()));
    }
    void Bin(const std::string& bytes) {
        packer_.pack_bin(static_cast<std::uint32_t>(bytes.size()));
        packer_.pack_bin_body(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void Ext(const std::string& bytes) {
        packer_.pack_ext(bytes.size(), 7);
        packer_.pack_ext_body(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void Array(std::size_t count) { packer_.pack_array(static_cast<std::uint32_t>(count)); }
    void Map(std::size_t pairs) { packer_.pack_map(static_cast<std::uint32_t>(pairs)); }

private:
    Bytes& out_;
    msgpack::sbuffer buffer_;
    msgpack::packer<msgpack::sbuffer> packer_{buffer_};
};
#else
// Without msgpack-cxx: the smallest form of each item, as a packer picks it.
class Packer {
public:
    explicit Packer(Bytes& out) : out_(out) {}

    void Nil() { out_.push_back(0xC0); }
    void Bool(bool value) { out_.push_back(value ? 0xC3 : 0xC2); }
    void Signed(std::int64_t value) {
        if (value >= 0) {
            Unsigned(static_cast<std::uint64_t>(value));
        } else if (value >= -32) {
            out_.push_back(static_cast<std::uint8_t>(value));
        } else {
            const std::size_t width = value >= INT8_MIN    ? 1
                                      : value >= INT16_MIN ? 2
                                      : value >= INT32_MIN ? 4
                                                           : 8;
            out_.push_back(static_cast<std::uint8_t>(width == 1   ? 0xD0
                                                     : width == 2 ? 0xD1
                                                     : width == 4 ? 0xD2
                                                                  : 0xD3));
            PutBigEndian(out_, static_cast<std::uint64_t>(value), width);
        }
    }
    void Unsigned(std::uint64_t value) {
        if (value <= 0x7F) {
            out_.push_back(static_cast<std::uint8_t>(value));
            return;
        }
        const std::size_t width = value <= 0xFF         ? 1
                                  : value <= 0xFFFF     ? 2
                                  : value <= 0xFFFFFFFF ? 4
                                                        : 8;
        out_.push_back(static_cast<std::uint8_t>(width == 1   ? 0xCC
                                                 : width == 2 ? 0xCD
                                                 : width == 4 ? 0xCE
                                                              : 0xCF));
        PutBigEndian(out_, value, width);
    }
    void Float32(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        out_.push_back(0xCA);
        PutBigEndian(out_, bits, 4);
    }
    void Float64(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        out_.push_back(0xCB);
        PutBigEndian(out_, bits, 8);
    }
    void Str(const std::string& text) {
        Header(text.size(), 0xA0, 31, 0xD9);
        PutContent(out_, text);
    }
    void Bin(const std::string& bytes) {
        Header(bytes.size(), 0, 0, 0xC4);
        PutContent(out_, bytes);
    }
    void Ext(const std::string& bytes) {
        static const std::map<std::size_t, std::uint8_t> fixed = {
            {1, 0xD4}, {2, 0xD5}, {4, 0xD6}, {8, 0xD7}, {16, 0xD8}};
        if (const auto found = fixed.find(bytes.size()); found != fixed.end()) {
            out_.push_back(found->second);
        } else {
            Header(bytes.size(), 0, 0, 0xC7);
        }
        out_.push_back(7);
        PutContent(out_, bytes);
    }
    void Array(std::size_t count) { Header(count, 0x90, 15, 0, 0xDC); }
    void Map(std::size_t pairs) { Header(pairs, 0x80, 15, 0, 0xDE); }

private:
    // A fix form up to `fixMax` (when `fixBase` is set), then the 8-, 16- and 32-bit forms that
    // follow `first8` (or the 16- and 32-bit forms from `first16`).
    void Header(std::size_t size, std::uint8_t fixBase, std::size_t fixMax, std::uint8_t first8,
                std::uint8_t first16 = 0) {
        if (fixBase != 0 && size <= fixMax) {
            out_.push_back(static_cast<std::uint8_t>(fixBase | size));
        } else if (first8 != 0 && size <= 0xFF) {
            out_.push_back(first8);
            PutBigEndian(out_, size, 1);
        } else if (size <= 0xFFFF) {
            out_.push_back(static_cast<std::uint8_t>(first8 != 0 ? first8 + 1 : first16));
            PutBigEndian(out_, size, 2);
        } else {
            out_.push_back(static_cast<std::uint8_t>(first8 != 0 ? first8 + 2 : first16 + 1));
            PutBigEndian(out_, size, 4);
        }
    }

    Bytes& out_;
};
#endif

// Encodes an item (the packer's form, or the generator's forced form) and records the format
// byte written.
void Encode(Item& item, Bytes& out) {
    const std::size_t start = out.size();
    const std::size_t count =
        item.kind == ItemKind::Map ? item.items.size() / 2 : item.items.size();
    if (item.forced) {
        out.push_back(item.handFormat);
        const FormatInfo info = ReadFormat(item.handFormat);
        switch (item.kind) {
        case ItemKind::Integer:
            if (info.width != 0) {
                PutBigEndian(out, item.bits, info.width);
            }
            break;
        case ItemKind::Float32: {
            std::uint32_t bits;
            std::memcpy(&bits, &item.single, sizeof bits);
            PutBigEndian(out, bits, 4);
            break;
        }
        case ItemKind::Float64: {
            std::uint64_t bits;
            std::memcpy(&bits, &item.real, sizeof bits);
            PutBigEndian(out, bits, 8);
            break;
        }
        case ItemKind::Str:
        case ItemKind::Bin:
            PutBigEndian(out, item.bytes.size(), info.width);
            PutContent(out, item.bytes);
            break;
        case ItemKind::Array:
        case ItemKind::Map:
            PutBigEndian(out, count, info.width);
            break;
        default:
            break;
        }
    } else {
        Packer packer(out);
        switch (item.kind) {
        case ItemKind::Nil:
            packer.Nil();
            break;
        case ItemKind::Bool:
            packer.Bool(item.boolean);
            break;
        case ItemKind::Integer:
            if (item.negative) {
                packer.Signed(static_cast<std::int64_t>(item.bits));
            } else {
                packer.Unsigned(item.bits);
            }
            break;
        case ItemKind::Float32:
            packer.Float32(item.single);
            break;
        case ItemKind::Float64:
            packer.Float64(item.real);
            break;
        case ItemKind::Str:
            packer.Str(item.bytes);
            break;
        case ItemKind::Bin:
            packer.Bin(item.bytes);
            break;
        case ItemKind::Ext:
            packer.Ext(item.bytes);
            break;
        case ItemKind::Array:
            packer.Array(count);
            break;
        case ItemKind::Map:
            packer.Map(count);
            break;
        case ItemKind::Reserved:
            break;
        }
    }
    item.format = out[start];
    item.width = ReadFormat(item.format).width;
    const Form form = ReadFormat(item.format).form;
    if ((item.kind == ItemKind::Float32 || item.kind == ItemKind::Float64) &&
        (form == Form::Signed || form == Form::Unsigned)) {
        // msgpack-cxx packs a float with an integral value (-0.0 included) as that integer.
        const double value = item.kind == ItemKind::Float32 ? item.single : item.real;
        item.bits = value < 0 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                              : static_cast<std::uint64_t>(value);
    }
    item.headerSize = 1 + item.width;
    for (Item& child : item.items) {
        Encode(child, out);
    }
}

// ----- the generator -----

struct Options {
    int maxDepth = 4;
    bool large = false;      // strings and blobs of the 16- and 32-bit length forms
    int refusedPerMille = 0; // ext, fixext and 0xC1 items
    int badKeysPerMille = 0; // map keys that are not strings
};

class Generator {
public:
    Generator(std::uint64_t seed, Options options) : random_(seed), options_(options) {}

    Item Tree() { return Value(0); }

private:
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(random_() % n); }
    bool PerMille(int n) { return static_cast<int>(Below(1000)) < n; }

    std::string RandomBytes(std::size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random_() & 0xFF);
        }
        return bytes;
    }

    std::size_t Length() {
        static const std::size_t small[] = {0, 1, 2, 5, 30, 31, 32, 33, 100, 254, 255, 256, 257};
        static const std::size_t large[] = {1000, 65535, 65536, 65537};
        if (options_.large && Below(20) == 0) {
            return large[Below(std::size(large))];
        }
        return small[Below(std::size(small))];
    }

    // Integers at and around the edge of every form, both signs.
    void Integer(Item& item) {
        static const std::uint64_t edges[] = {0,
                                              0x7F,
                                              0x80,
                                              0xFF,
                                              0x100,
                                              0x7FFF,
                                              0x8000,
                                              0xFFFF,
                                              0x10000,
                                              0x7FFFFFFF,
                                              0x80000000,
                                              0xFFFFFFFF,
                                              0x100000000,
                                              0x7FFFFFFFFFFFFFFF,
                                              0x8000000000000000,
                                              0xFFFFFFFFFFFFFFFF};
        static const std::int64_t negativeEdges[] = {-1,
                                                     -31,
                                                     -32,
                                                     -33,
                                                     -127,
                                                     -128,
                                                     -129,
                                                     -32767,
                                                     -32768,
                                                     -32769,
                                                     -2147483647,
                                                     INT64_C(-2147483648),
                                                     INT64_C(-2147483649),
                                                     INT64_MIN + 1,
                                                     INT64_MIN};
        if (Below(2) == 0) {
            const std::int64_t value = negativeEdges[Below(std::size(negativeEdges))];
            item.bits = static_cast<std::uint64_t>(value);
            item.negative = true;
        } else {
            std::uint64_t value = edges[Below(std::size(edges))];
            const std::size_t nudge = Below(3); // the edge, one below, one above (wrapping)
            value += nudge == 0 ? 0 : nudge == 1 ? std::uint64_t{0} - 1 : 1;
            item.bits = value;
        }
        if (Below(3) != 0) {
            return;
        }
        // A form the packer would not pick: any that holds the value.
        std::vector<std::uint8_t> forms;
        const auto value = static_cast<std::int64_t>(item.bits);
        if (item.negative) {
            if (value >= -32) {
                forms.push_back(static_cast<std::uint8_t>(value));
            }
            if (value >= INT8_MIN) {
                forms.push_back(0xD0);
            }
            if (value >= INT16_MIN) {
                forms.push_back(0xD1);
            }
            if (value >= INT32_MIN) {
                forms.push_back(0xD2);
            }
            forms.push_back(0xD3);
        } else {
            const std::uint64_t u = item.bits;
            if (u <= 0x7F) {
                forms.push_back(static_cast<std::uint8_t>(u));
            }
            for (std::size_t i = 0; i < 4; ++i) {
                const std::size_t width = std::size_t{1} << i;
                const bool fitsUnsigned = width == 8 || u < (std::uint64_t{1} << (8 * width));
                const bool fitsSigned = u < (std::uint64_t{1} << (8 * width - 1));
                if (fitsUnsigned) {
                    forms.push_back(static_cast<std::uint8_t>(0xCC + i));
                }
                if (fitsSigned) {
                    forms.push_back(static_cast<std::uint8_t>(0xD0 + i));
                }
            }
        }
        item.forced = true;
        item.handFormat = forms[Below(forms.size())];
    }

    float Single() {
        static const float specials[] = {0.0f,
                                         -0.0f,
                                         1.0f,
                                         -1.5f,
                                         FLT_MIN,
                                         FLT_MAX,
                                         -FLT_MAX,
                                         std::numeric_limits<float>::denorm_min(),
                                         -std::numeric_limits<float>::denorm_min(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN(),
                                         -std::numeric_limits<float>::quiet_NaN()};
        if (Below(3) == 0) {
            const auto bits = static_cast<std::uint32_t>(random_());
            float value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        return specials[Below(std::size(specials))];
    }

    double Double() {
        static const double specials[] = {0.0,
                                          -0.0,
                                          0.1,
                                          -2.5e300,
                                          DBL_MIN,
                                          DBL_MAX,
                                          std::numeric_limits<double>::denorm_min(),
                                          -std::numeric_limits<double>::denorm_min(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::quiet_NaN(),
                                          static_cast<double>(FLT_MAX) * 2};
        if (Below(3) == 0) {
            const std::uint64_t bits = random_();
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        return specials[Below(std::size(specials))];
    }

    // A str or bin item of `size` bytes; sometimes in a wider length form than needed.
    void Sized(Item& item, std::size_t size, std::uint8_t first8) {
        item.bytes = RandomBytes(size);
        if (Below(4) != 0) {
            return;
        }
        std::vector<std::uint8_t> forms;
        if (size <= 0xFF) {
            forms.push_back(first8);
        }
        if (size <= 0xFFFF) {
            forms.push_back(static_cast<std::uint8_t>(first8 + 1));
        }
        forms.push_back(static_cast<std::uint8_t>(first8 + 2));
        item.forced = true;
        item.handFormat = forms[Below(forms.size())];
    }

    std::size_t Count() {
        static const std::size_t counts[] = {0, 1, 2, 3, 4, 15, 16, 17};
        return counts[Below(std::size(counts))];
    }

    // A container header in a 16- or 32-bit form although the count fits a fix form.
    void MaybeWideCount(Item& item, std::uint8_t first16) {
        if (Below(4) == 0) {
            item.forced = true;
            item.handFormat = static_cast<std::uint8_t>(first16 + Below(2));
        }
    }

    Item Key() {
        static const char* const pool[] = {"", "a", "b", "key", "\xFF", "B", "Ab"};
        Item key;
        if (PerMille(options_.badKeysPerMille)) {
            key = Value(options_.maxDepth); // any non-container item
            if (key.kind != ItemKind::Str) {
                return key;
            }
        }
        key = Item{};
        key.kind = ItemKind::Str;
        const std::size_t pick = Below(std::size(pool) + 2);
        if (pick < std::size(pool)) {
            key.bytes = pool[pick];
        } else if (pick == std::size(pool)) {
            key.bytes = std::string("n\0l", 3);
        } else {
            key.bytes = std::string(40 + Below(2) * 260, 'k');
        }
        if (Below(4) == 0) {
            key.forced = true;
            key.handFormat = static_cast<std::uint8_t>(key.bytes.size() <= 0xFF ? 0xD9 + Below(3)
                                                                                : 0xDA + Below(2));
        }
        return key;
    }

    Item Value(int depth) {
        Item item;
        if (PerMille(options_.refusedPerMille)) {
            static const std::size_t sizes[] = {0, 1, 2, 3, 4, 8, 16, 17, 255, 256};
            if (Below(5) == 0) {
                item.kind = ItemKind::Reserved;
                item.forced = true;
                item.handFormat = 0xC1;
            } else {
                item.kind = ItemKind::Ext;
                item.bytes = RandomBytes(sizes[Below(std::size(sizes))]);
            }
            return item;
        }
        const std::size_t choice = Below(depth < options_.maxDepth ? 12 : 9);
        switch (choice) {
        case 0:
            item.kind = ItemKind::Nil;
            break;
        case 1:
            item.kind = ItemKind::Bool;
            item.boolean = Below(2) == 0;
            break;
        case 2:
        case 3:
            item.kind = ItemKind::Integer;
            Integer(item);
            break;
        case 4:
            item.kind = ItemKind::Float32;
            item.single = Single();
            item.forced = Below(2) == 0;
            item.handFormat = 0xCA;
            break;
        case 5:
            item.kind = ItemKind::Float64;
            item.real = Double();
            item.forced = Below(2) == 0;
            item.handFormat = 0xCB;
            break;
        case 6:
        case 7:
            item.kind = ItemKind::Str;
            Sized(item, Length(), 0xD9);
            break;
        case 8:
            item.kind = ItemKind::Bin;
            Sized(item, Length(), 0xC4);
            break;
        case 9:
        case 10: {
            item.kind = ItemKind::Array;
            const std::size_t count = Count();
            for (std::size_t i = 0; i < count; ++i) {
                item.items.push_back(Value(depth + 1));
            }
            MaybeWideCount(item, 0xDC);
            break;
        }
        default: {
            item.kind = ItemKind::Map;
            const std::size_t pairs = Count();
            for (std::size_t i = 0; i < pairs; ++i) {
                item.items.push_back(Key());
                item.items.push_back(Value(depth + 1));
            }
            MaybeWideCount(item, 0xDE);
            break;
        }
        }
        return item;
    }

    std::mt19937_64 random_;
    Options options_;
};

// ----- the model -----

struct Model {
    BindingKind kind = BindingKind::Empty;
    bool boolean = false;
    std::uint64_t bits = 0;  // signed and unsigned values
    bool eitherSign = false; // a non-negative integer whose form is not known: signed or unsigned
    double real = 0;
    std::string bytes;
    std::vector<Model> elements;
    std::map<std::string, Model> members; // std::string orders by unsigned bytes
};

// Texts of the value model, strings and member names alike, end at their first zero byte.
std::string UpToZero(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

struct Expected {
    Model value;
    std::string error; // empty on success
    std::size_t used = 0;
};

// Reads items as the decoder must, from position `at` with only `end` bytes of input, landing
// each on the slot it addresses.
class Oracle {
public:
    explicit Oracle(std::size_t end) : end_(end) {}

    Expected Run(const Item& root) {
        Expected expected;
        if (end_ > 0) {
            Place(root, expected.value);
        }
        expected.error = error_;
        expected.used = at_;
        if (!error_.empty()) {
            expected.value = Model{};
        }
        return expected;
    }

private:
    static std::string Truncated(std::size_t width, std::size_t position) {
        const char* bits = width == 1 ? "8" : width == 2 ? "16" : width == 4 ? "32" : "64";
        return "Invalid MessagePack data. " + std::string(bits) +
               "-bit integer value at position " + std::to_string(position) + " is truncated.";
    }

    bool Stopped() const { return !error_.empty() || at_ == end_; }

    // Reads the header and the content of a str or bin item; false when input ends inside.
    bool ReadHeader(const Item& item) {
        ++at_;
        if (end_ - at_ < item.width) {
            error_ = Truncated(item.width, at_);
            return false;
        }
        at_ += item.width;
        const Form form = ReadFormat(item.format).form;
        if (form == Form::Str || form == Form::Bin) {
            if (item.bytes.size() > end_ - at_) {
                error_ = form == Form::Str
                             ? "Invalid MessagePack data. String of size " +
                                   std::to_string(item.bytes.size()) + " at position " +
                                   std::to_string(at_) + " is truncated."
                             : "Invalid MessagePack data. Raw bytes of size " +
                                   std::to_string(item.bytes.size()) + " at position " +
                                   std::to_string(at_) + " are truncated.";
                return false;
            }
            at_ += item.bytes.size();
        }
        return true;
    }

    void Place(const Item& item, Model& slot) {
        const Form form = ReadFormat(item.format).form;
        if (form == Form::Refused) {
            ++at_;
            error_ = "Invalid MessagePack data at position " + std::to_string(at_) + ".";
            return;
        }
        if (!ReadHeader(item)) {
            return;
        }
        switch (form) {
        case Form::Nil: // the slot keeps what it holds
            return;
        case Form::Bool:
            slot = Model{};
            slot.kind = BindingKind::Bool;
            slot.boolean = item.format == 0xC3;
            return;
        case Form::Signed:
        case Form::Unsigned:
            slot = Model{};
            slot.kind = form == Form::Signed ? BindingKind::Signed : BindingKind::Unsigned;
            slot.bits = item.bits;
            return;
        case Form::Float32:
        case Form::Float64:
            slot = Model{};
            slot.kind = BindingKind::Float;
            slot.real = form == Form::Float32 ? static_cast<double>(item.single) : item.real;
            return;
        case Form::Str:
        case Form::Bin:
            slot = Model{};
            slot.kind = form == Form::Str ? BindingKind::String : BindingKind::Blob;
            slot.bytes = form == Form::Str ? UpToZero(item.bytes) : item.bytes;
            return;
        case Form::Array:
            if (slot.kind != BindingKind::Collection) {
                slot = Model{};
                slot.kind = BindingKind::Collection;
            }
            for (std::size_t i = 0; i < item.items.size() && !Stopped(); ++i) {
                if (slot.elements.size() <= i) {
                    slot.elements.resize(i + 1);
                }
                Place(item.items[i], slot.elements[i]);
            }
            return;
        case Form::Map:
            if (slot.kind != BindingKind::Structure) {
                slot = Model{};
                slot.kind = BindingKind::Structure;
            }
            for (std::size_t i = 0; i < item.items.size() && !Stopped(); i += 2) {
                const Item& key = item.items[i];
                if (ReadFormat(key.format).form != Form::Str) {
                    ++at_;
                    error_ = "Invalid MessagePack data at position " + std::to_string(at_) +
                             ". Map keys must be strings.";
                    return;
                }
                if (!ReadHeader(key) || Stopped()) {
                    return;
                }
                Place(item.items[i + 1], slot.members[UpToZero(key.bytes)]);
            }
            return;
        case Form::Refused:
            return;
        }
    }

    std::size_t end_;
    std::size_t at_ = 0;
    std::string error_;
};

::testing::AssertionResult Same(const Model& expected, const BindingProperty& actual,
                                const std::string& path) {
    if (expected.eitherSign && actual.Kind() == BindingKind::Signed) {
        if (actual.GetSigned() < 0 ||
            static_cast<std::uint64_t>(actual.GetSigned()) != expected.bits) {
            return ::testing::AssertionFailure()
                   << path << ": " << actual.GetSigned() << ", expected " << expected.bits;
        }
        return ::testing::AssertionSuccess();
    }
    if (actual.Kind() != expected.kind) {
        return ::testing::AssertionFailure() << path << ": kind " << KindName(actual.Kind())
                                             << ", expected " << KindName(expected.kind);
    }
    switch (expected.kind) {
    case BindingKind::Bool:
        if (actual.GetBool() != expected.boolean) {
            return ::testing::AssertionFailure() << path << ": wrong bool";
        }
        break;
    case BindingKind::Signed:
        if (actual.GetSigned() != static_cast<std::int64_t>(expected.bits)) {
            return ::testing::AssertionFailure()
                   << path << ": " << actual.GetSigned() << ", expected "
                   << static_cast<std::int64_t>(expected.bits);
        }
        break;
    case BindingKind::Unsigned:
        if (actual.GetUnsigned() != expected.bits) {
            return ::testing::AssertionFailure()
                   << path << ": " << actual.GetUnsigned() << ", expected " << expected.bits;
        }
        break;
    case BindingKind::Float: {
        const double value = actual.GetFloat();
        const bool same = std::isnan(expected.real)
                              ? std::isnan(value)
                              : std::memcmp(&value, &expected.real, sizeof value) == 0;
        if (!same) {
            return ::testing::AssertionFailure()
                   << path << ": " << value << ", expected " << expected.real;
        }
        break;
    }
    case BindingKind::String:
        if (actual.GetString() != expected.bytes) {
            return ::testing::AssertionFailure() << path << ": wrong text";
        }
        break;
    case BindingKind::Blob: {
        const auto blob = actual.GetBlob();
        if (std::string(reinterpret_cast<const char*>(blob.data()), blob.size()) !=
            expected.bytes) {
            return ::testing::AssertionFailure() << path << ": wrong bytes";
        }
        break;
    }
    case BindingKind::Collection:
        if (actual.Size() != expected.elements.size()) {
            return ::testing::AssertionFailure()
                   << path << ": " << actual.Size() << " elements, expected "
                   << expected.elements.size();
        }
        for (std::size_t i = 0; i < expected.elements.size(); ++i) {
            auto same =
                Same(expected.elements[i], actual.Element(i), path + "[" + std::to_string(i) + "]");
            if (!same) {
                return same;
            }
        }
        break;
    case BindingKind::Structure: {
        if (actual.Size() != expected.members.size()) {
            return ::testing::AssertionFailure()
                   << path << ": " << actual.Size() << " members, expected "
                   << expected.members.size();
        }
        auto member = expected.members.begin();
        for (const auto& [name, value] : actual.Members()) {
            if (name != member->first) {
                return ::testing::AssertionFailure()
                       << path << ": member '" << name << "', expected '" << member->first << "'";
            }
            auto same = Same(member->second, value, path + "." + member->first);
            if (!same) {
                return same;
            }
            ++member;
        }
        break;
    }
    default:
        break;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult DecodesAsExpected(const Bytes& bytes, std::size_t length,
                                             const Item& root) {
    const Expected expected = Oracle(length).Run(root);
    std::size_t used = 12345;
    const BindingResult result = DecodeMessagePack(bytes.data(), length, used);
    if (used != expected.used) {
        return ::testing::AssertionFailure()
               << "used " << used << " of " << length << " bytes, expected " << expected.used
               << " (" << result.GetError() << ")";
    }
    if (!expected.error.empty()) {
        if (result.IsSuccess() || result.GetError() != expected.error) {
            return ::testing::AssertionFailure()
                   << "error '" << result.GetError() << "', expected '" << expected.error << "'";
        }
        return ::testing::AssertionSuccess();
    }
    if (!result.IsSuccess()) {
        return ::testing::AssertionFailure() << "failed: " << result.GetError();
    }
    return Same(expected.value, result.value, "$");
}

std::string Hex(const Bytes& bytes, std::size_t limit = 64) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
        text += ' ';
    }
    return bytes.size() > limit ? text + "..." : text;
}

TEST(MsgPackDifferential, RandomTreesDecodeToWhatTheirItemsSay) {
    Options options;
    options.large = true;
    for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
        Generator generator(seed, options);
        Item root = generator.Tree();
        Bytes bytes;
        Encode(root, bytes);
        ASSERT_TRUE(DecodesAsExpected(bytes, bytes.size(), root))
            << "seed " << seed << ": " << Hex(bytes);
        // Bytes after a complete value are not read.
        const std::size_t length = bytes.size();
        bytes.push_back(static_cast<std::uint8_t>(seed));
        bytes.push_back(0xC1);
        std::size_t used = 0;
        const BindingResult result = DecodeMessagePack(bytes.data(), bytes.size(), used);
        ASSERT_TRUE(result.IsSuccess()) << "seed " << seed << ": " << result.GetError();
        ASSERT_EQ(used, length) << "seed " << seed;
    }
}

TEST(MsgPackDifferential, RefusedItemsAndKeysFailWhereTheyStart) {
    Options options;
    options.refusedPerMille = 30;
    options.badKeysPerMille = 60;
    int failures = 0;
    for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
        Generator generator(seed * 7919, options);
        Item root = generator.Tree();
        Bytes bytes;
        Encode(root, bytes);
        ASSERT_TRUE(DecodesAsExpected(bytes, bytes.size(), root))
            << "seed " << seed << ": " << Hex(bytes);
        failures += Oracle(bytes.size()).Run(root).error.empty() ? 0 : 1;
    }
    // The generator reaches the failures it is meant to test.
    EXPECT_GT(failures, 200);
}

// Every prefix of an encoding: a cut between items ends the open containers with what they hold,
// a cut inside an item fails with that item's truncation message.
TEST(MsgPackDifferential, EveryPrefixOfAnEncoding) {
    Options options;
    options.maxDepth = 3;
    options.refusedPerMille = 5;
    options.badKeysPerMille = 10;
    // Every cut costs a decode of its own: the trees stay small.
    constexpr std::size_t kMaxBytes = 1500;
    int trees = 0;
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        Generator generator(seed * 104729, options);
        Item root = generator.Tree();
        Bytes bytes;
        Encode(root, bytes);
        if (bytes.size() > kMaxBytes) {
            continue;
        }
        ++trees;
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            ASSERT_TRUE(DecodesAsExpected(bytes, cut, root))
                << "seed " << seed << ", first " << cut << " of " << bytes.size()
                << " bytes: " << Hex(bytes);
        }
    }
    EXPECT_GT(trees, 150);
}

#if defined(KORVEL_HAVE_MSGPACK_CXX)
// What msgpack-cxx's reader makes of the same bytes, landed on slots the way the decoder lands
// items (nil keeps the slot, containers merge into containers of their kind). Its objects do not
// tell a fixint from a uint form, so a non-negative integer may be either kind.
void Land(const msgpack::object& object, Model& slot) {
    switch (object.type) {
    case msgpack::type::NIL:
        return;
    case msgpack::type::BOOLEAN:
        slot = Model{};
        slot.kind = BindingKind::Bool;
        slot.boolean = object.via.boolean;
        return;
    case msgpack::type::POSITIVE_INTEGER:
        slot = Model{};
        slot.kind = BindingKind::Unsigned;
        slot.bits = object.via.u64;
        slot.eitherSign = true;
        return;
    case msgpack::type::NEGATIVE_INTEGER:
        slot = Model{};
        slot.kind = BindingKind::Signed;
        slot.bits = static_cast<std::uint64_t>(object.via.i64);
        return;
    case msgpack::type::FLOAT32:
    case msgpack::type::FLOAT64:
        slot = Model{};
        slot.kind = BindingKind::Float;
        slot.real = object.via.f64;
        return;
    case msgpack::type::STR:
        slot = Model{};
        slot.kind = BindingKind::String;
        slot.bytes = UpToZero(std::string(object.via.str.ptr, object.via.str.size));
        return;
    case msgpack::type::BIN:
        slot = Model{};
        slot.kind = BindingKind::Blob;
        slot.bytes = std::string(object.via.bin.ptr, object.via.bin.size);
        return;
    case msgpack::type::ARRAY:
        if (slot.kind != BindingKind::Collection) {
            slot = Model{};
            slot.kind = BindingKind::Collection;
        }
        if (slot.elements.size() < object.via.array.size) {
            slot.elements.resize(object.via.array.size);
        }
        for (std::uint32_t i = 0; i < object.via.array.size; ++i) {
            Land(object.via.array.ptr[i], slot.elements[i]);
        }
        return;
    case msgpack::type::MAP:
        if (slot.kind != BindingKind::Structure) {
            slot = Model{};
            slot.kind = BindingKind::Structure;
        }
        for (std::uint32_t i = 0; i < object.via.map.size; ++i) {
            const msgpack::object& key = object.via.map.ptr[i].key;
            Land(object.via.map.ptr[i].val,
                 slot.members[UpToZero(std::string(key.via.str.ptr, key.via.str.size))]);
        }
        return;
    default:
        return;
    }
}

// Whether the decoder refuses the object: an ext anywhere, or a map key that is not a string.
bool Refused(const msgpack::object& object) {
    switch (object.type) {
    case msgpack::type::EXT:
        return true;
    case msgpack::type::ARRAY:
        for (std::uint32_t i = 0; i < object.via.array.size; ++i) {
            if (Refused(object.via.array.ptr[i])) {
                return true;
            }
        }
        return false;
    case msgpack::type::MAP:
        for (std::uint32_t i = 0; i < object.via.map.size; ++i) {
            if (object.via.map.ptr[i].key.type != msgpack::type::STR ||
                Refused(object.via.map.ptr[i].val)) {
                return true;
            }
        }
        return false;
    default:
        return false;
    }
}

// Random short byte strings, weighted towards small lengths and counts, read by both readers:
// whatever msgpack-cxx reads whole, the decoder reads to the same value and byte count (or
// refuses for an ext or a non-string key); what msgpack-cxx refuses as malformed the decoder
// refuses too; input msgpack-cxx finds short the decoder either refuses or reads to its end.
TEST(MsgPackDifferential, RandomBytesAgainstMsgPackCxx) {
    static const std::uint8_t headers[] = {0x80, 0x81, 0x82, 0x90, 0x91, 0x92, 0xA0, 0xA1, 0xA2,
                                           0xC0, 0xC2, 0xC3, 0xC4, 0xC5, 0xCA, 0xCB, 0xCC, 0xCD,
                                           0xD0, 0xD3, 0xD4, 0xD9, 0xDA, 0xDC, 0xDE, 0xDF, 0xFF};
    std::mt19937_64 random(20261209);
    const msgpack::unpack_limit limit(64, 64, 4096, 4096, 4096, 64);
    int whole = 0;
    for (int run = 0; run < 200000; ++run) {
        Bytes bytes(1 + random() % 24);
        for (std::uint8_t& byte : bytes) {
            const auto pick = random() % 10;
            byte = pick < 4   ? static_cast<std::uint8_t>(random() % 4)
                   : pick < 7 ? headers[random() % std::size(headers)]
                              : static_cast<std::uint8_t>(random());
        }
        std::size_t used = 0;
        const BindingResult result = DecodeMessagePack(bytes.data(), bytes.size(), used);
        const auto trace = [&] { return Hex(bytes); };

        std::size_t offset = 0;
        msgpack::object_handle handle;
        try {
            handle = msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size(),
                                     offset, nullptr, nullptr, limit);
        } catch (const msgpack::insufficient_bytes&) {
            if (result.IsSuccess()) {
                ASSERT_EQ(used, bytes.size()) << trace();
            }
            continue;
        } catch (const msgpack::parse_error&) {
            ASSERT_FALSE(result.IsSuccess()) << trace();
            continue;
        } catch (const msgpack::size_overflow&) {
            continue; // beyond the limits given to msgpack-cxx
        }
        if (Refused(handle.get())) {
            ASSERT_FALSE(result.IsSuccess()) << trace();
            ASSERT_TRUE(result.GetError().starts_with("Invalid MessagePack data at position "))
                << result.GetError() << ": " << trace();
            continue;
        }
        ++whole;
        ASSERT_TRUE(result.IsSuccess()) << result.GetError() << ": " << trace();
        ASSERT_EQ(used, offset) << trace();
        Model expected;
        Land(handle.get(), expected);
        ASSERT_TRUE(Same(expected, result.value, "$")) << trace();
    }
    EXPECT_GT(whole, 50000);
}
#endif

// The widest counts in the packer's own choice of form: an array 32 and a str 32.
TEST(MsgPackDifferential, PackerWidestForms) {
    Item root;
    root.kind = ItemKind::Array;
    for (std::size_t i = 0; i < 70000; ++i) {
        Item element;
        element.kind = ItemKind::Integer;
        element.bits = i % 300;
        root.items.push_back(element);
    }
    root.items[69999].kind = ItemKind::Str;
    root.items[69999].bytes = std::string(70000, 'x');
    Bytes bytes;
    Encode(root, bytes);
    ASSERT_EQ(bytes[0], 0xDD);
    ASSERT_EQ(root.items[69999].format, 0xDB);
    EXPECT_TRUE(DecodesAsExpected(bytes, bytes.size(), root));
    EXPECT_TRUE(DecodesAsExpected(bytes, bytes.size() - 1, root));
}

} // namespace
} // namespace Korvel
