#pragma once

// Static type identity: a 32-bit hash code and a printable name for every native type that the
// binding system handles, computed without run-time type information.
//
// The hash of a type is the binding hash (32-bit FNV-1a) of the type's signature text
//     unsigned int __cdecl StaticType::HashCode<SPELLING>(void)
// where SPELLING is the type as the 32-bit Windows compiler spells it inside angle brackets:
// keyword, every namespace and every template argument, e.g. "int",
// "struct Korvel::Resource" or
// "class std::vector<class Korvel::BindingProperty,class std::allocator<class
// Korvel::BindingProperty> >". A reference type runs keyword and name together and appends '&':
// "structKorvel::Client::ServiceStatus::Api::ServiceStatusResource&".
//
// The spelling is not taken from whatever __PRETTY_FUNCTION__ the current compiler prints; it is
// assembled at compile time from one canonical spelling per type, so the hash of a type is the same
// with every compiler and in the 32-bit and the 64-bit build (the identity of int is #1C4DE261
// everywhere).
//
// Spellings exist for the fundamental types, std::string, std::vector<T>, std::unordered_map of
// std::string to T, and references to any of them. A record or enumeration gives its spelling once,
// at global namespace scope, next to its declaration:
//
//     KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::Api::TickerMessage)
//     KORVEL_STATIC_TYPE(enum, Korvel::BindingAsyncState::Type)
//
// The type is written fully qualified without a leading "::"; its text is taken verbatim by the
// preprocessor. KORVEL_STATIC_TYPE_SPELLED(keyword, Type, "text") gives the name text explicitly
// (for types whose written form differs from the canonical one).
//
// Identities are constant-initialised records, so using them never races and never allocates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace Korvel {

// 32-bit FNV-1a parameters.
inline constexpr std::uint32_t kBindingHashBasis = 2166136261u;
inline constexpr std::uint32_t kBindingHashPrime = 16777619u;

// Binding hash of a byte range. Bytes are taken as unsigned values.
constexpr std::uint32_t BindingHashBytes(std::string_view bytes,
                                         std::uint32_t basis = kBindingHashBasis) noexcept {
    std::uint32_t hash = basis;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kBindingHashPrime;
    }
    return hash;
}

// Binding hash of a NUL-terminated text; the terminator is not hashed. Callers pass
// kBindingHashBasis as the basis.
constexpr std::uint32_t BindingHash(const char* text,
                                    std::uint32_t basis = kBindingHashBasis) noexcept {
    std::uint32_t hash = basis;
    if (text == nullptr) {
        return hash;
    }
    for (; *text != '\0'; ++text) {
        hash ^= static_cast<unsigned char>(*text);
        hash *= kBindingHashPrime;
    }
    return hash;
}

// One per native type and name form; created at program start, never freed.
struct StaticTypeId {
    std::uint32_t hash;
    // The printable name: either `text` ("#%08X" of the hash) or the signature text.
    const char* name;
    // Inline buffer of the hash form of the name; all zero in the signature form.
    char text[10];
};

// The canonical spelling of a type. Specialise it (normally through KORVEL_STATIC_TYPE) with
//     static constexpr std::string_view keyword;  // "class", "struct", "enum" or empty
//     static constexpr std::string_view name;     // fully qualified name
template <typename T>
struct StaticTypeSpelling;

namespace StaticTypeDetail {

// Concatenates constant texts at compile time into one NUL-terminated static array.
template <const std::string_view&... Parts>
struct JoinedText {
    static constexpr auto storage = [] {
        std::array<char, (Parts.size() + ... + 0) + 1> joined{};
        std::size_t at = 0;
        (
            (void)[&] {
                for (char c : Parts) {
                    joined[at++] = c;
                }
            }(),
            ...);
        return joined;
    }();
    static constexpr std::string_view value{storage.data(), storage.size() - 1};
};

inline constexpr std::string_view kBlank = " ";
inline constexpr std::string_view kAmpersand = "&";
inline constexpr std::string_view kHashCodeOpen = "unsigned int __cdecl StaticType::HashCode<";
inline constexpr std::string_view kNameOpen = "const char *__cdecl StaticType::Name<";
inline constexpr std::string_view kSignatureClose = ">(void)";
// A template argument list that ends in '>' is closed with a blank first: "> >".
inline constexpr std::string_view kSpacedSignatureClose = " >(void)";

template <typename T>
struct Spelled {
    static constexpr bool value = requires {
        StaticTypeSpelling<T>::keyword;
        StaticTypeSpelling<T>::name;
    };
};

// The text that appears between the angle brackets of the signature.
template <typename T>
struct FullSpelling {
    static_assert(Spelled<T>::value,
                  "no canonical spelling for this type: add KORVEL_STATIC_TYPE(keyword, Type)");
    using Spelling = StaticTypeSpelling<T>;
    static constexpr std::string_view value =
        Spelling::keyword.empty() ? JoinedText<Spelling::name>::value
                                  : JoinedText<Spelling::keyword, kBlank, Spelling::name>::value;
};

template <typename T>
struct FullSpelling<T&> {
    static_assert(Spelled<T>::value,
                  "no canonical spelling for this type: add KORVEL_STATIC_TYPE(keyword, Type)");
    using Spelling = StaticTypeSpelling<T>;
    static constexpr std::string_view value =
        JoinedText<Spelling::keyword, Spelling::name, kAmpersand>::value;
};

template <typename T>
struct Signatures {
    static constexpr bool spaced = FullSpelling<T>::value.ends_with('>');
    static constexpr std::string_view hashCode =
        spaced ? JoinedText<kHashCodeOpen, FullSpelling<T>::value, kSpacedSignatureClose>::value
               : JoinedText<kHashCodeOpen, FullSpelling<T>::value, kSignatureClose>::value;
    static constexpr std::string_view name =
        spaced ? JoinedText<kNameOpen, FullSpelling<T>::value, kSpacedSignatureClose>::value
               : JoinedText<kNameOpen, FullSpelling<T>::value, kSignatureClose>::value;
};

constexpr std::array<char, 10> HashText(std::uint32_t hash) noexcept {
    std::array<char, 10> text{};
    text[0] = '#';
    for (int digit = 0; digit < 8; ++digit) {
        unsigned nibble = (hash >> (28 - 4 * digit)) & 0xFu;
        text[1 + digit] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
    }
    return text;
}

template <typename T>
inline constexpr std::uint32_t kHash = BindingHashBytes(Signatures<T>::hashCode);

template <typename T>
inline constexpr std::array<char, 10> kHashText = HashText(kHash<T>);

// Hash form: the name points at the record's own buffer.
template <typename T>
inline constinit StaticTypeId kHashIdentity = {
    kHash<T>,
    kHashIdentity<T>.text,
    {kHashText<T>[0], kHashText<T>[1], kHashText<T>[2], kHashText<T>[3], kHashText<T>[4],
     kHashText<T>[5], kHashText<T>[6], kHashText<T>[7], kHashText<T>[8], '\0'}};

// Signature form: the name points at the StaticType::Name signature text.
template <typename T>
inline constinit StaticTypeId kNamedIdentity = {kHash<T>, Signatures<T>::name.data(), {}};

} // namespace StaticTypeDetail

namespace StaticType {

// The binding hash of T's StaticType::HashCode signature text.
template <typename T>
constexpr std::uint32_t HashCode() noexcept {
    return StaticTypeDetail::kHash<T>;
}

// T's StaticType::Name signature text, e.g.
// "const char *__cdecl StaticType::Name<struct Korvel::Resource>(void)".
template <typename T>
constexpr const char* Name() noexcept {
    return StaticTypeDetail::Signatures<T>::name.data();
}

// T's StaticType::HashCode signature text (the text that is hashed).
template <typename T>
constexpr std::string_view HashCodeSignature() noexcept {
    return StaticTypeDetail::Signatures<T>::hashCode;
}

// The identity of T in hash form (name "#%08X"); used for registry lookups and enum records.
// Every call returns the same record.
template <typename T>
const StaticTypeId& Identity() noexcept {
    return StaticTypeDetail::kHashIdentity<T>;
}

// The identity of T in signature form (name is Name<T>()), for diagnostics that name the type.
template <typename T>
const StaticTypeId& NamedIdentity() noexcept {
    return StaticTypeDetail::kNamedIdentity<T>;
}

} // namespace StaticType

// Spellings of the fundamental types. 64-bit integers are spelled "__int64" whatever the
// underlying type (long or long long), so std::int64_t has one identity in every build.
#define KORVEL_DETAIL_FUNDAMENTAL_SPELLING(TYPE, TEXT)                                             \
    template <>                                                                                    \
    struct StaticTypeSpelling<TYPE> {                                                              \
        static constexpr std::string_view keyword = "";                                            \
        static constexpr std::string_view name = TEXT;                                             \
    };

KORVEL_DETAIL_FUNDAMENTAL_SPELLING(void, "void")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(bool, "bool")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(char, "char")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(signed char, "signed char")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(unsigned char, "unsigned char")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(short, "short")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(unsigned short, "unsigned short")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(int, "int")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(unsigned int, "unsigned int")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(float, "float")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(double, "double")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(std::int64_t, "__int64")
KORVEL_DETAIL_FUNDAMENTAL_SPELLING(std::uint64_t, "unsigned __int64")

// Of long and long long, the one that is not std::int64_t keeps its own spelling.
template <>
struct StaticTypeSpelling<std::conditional_t<std::is_same_v<long, std::int64_t>, long long, long>> {
    static constexpr std::string_view keyword = "";
    static constexpr std::string_view name =
        std::is_same_v<long, std::int64_t> ? "long long" : "long";
};
template <>
struct StaticTypeSpelling<std::conditional_t<std::is_same_v<unsigned long, std::uint64_t>,
                                             unsigned long long, unsigned long>> {
    static constexpr std::string_view keyword = "";
    static constexpr std::string_view name =
        std::is_same_v<unsigned long, std::uint64_t> ? "unsigned long long" : "unsigned long";
};

#undef KORVEL_DETAIL_FUNDAMENTAL_SPELLING

template <>
struct StaticTypeSpelling<std::string> {
    static constexpr std::string_view keyword = "class";
    static constexpr std::string_view name =
        "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";
};

namespace StaticTypeDetail {
inline constexpr std::string_view kVectorOpen = "std::vector<";
inline constexpr std::string_view kAllocatorOpen = ",class std::allocator<";
inline constexpr std::string_view kCloseTwo = "> >";
inline constexpr std::string_view kSpacedCloseTwo = " > >";
inline constexpr std::string_view kMapOpen = "std::unordered_map<";
inline constexpr std::string_view kHashOpen = ",struct std::hash<";
inline constexpr std::string_view kEqualOpen = " >,struct std::equal_to<";
inline constexpr std::string_view kPairAllocatorOpen = " >,class std::allocator<struct std::pair<";
inline constexpr std::string_view kConstComma = " const ,";
inline constexpr std::string_view kCloseThree = "> > >";
inline constexpr std::string_view kSpacedCloseThree = " > > >";
inline constexpr std::string_view kComma = ",";
inline constexpr std::string_view kOptionalOpen = "std::optional<";
inline constexpr std::string_view kCloseOne = ">";
inline constexpr std::string_view kSpacedCloseOne = " >";
} // namespace StaticTypeDetail

template <typename T>
struct StaticTypeSpelling<std::vector<T>> {
    using Element = StaticTypeDetail::FullSpelling<T>;
    static constexpr std::string_view keyword = "class";
    static constexpr std::string_view name =
        Element::value.ends_with('>')
            ? StaticTypeDetail::JoinedText<StaticTypeDetail::kVectorOpen, Element::value,
                                           StaticTypeDetail::kAllocatorOpen, Element::value,
                                           StaticTypeDetail::kSpacedCloseTwo>::value
            : StaticTypeDetail::JoinedText<StaticTypeDetail::kVectorOpen, Element::value,
                                           StaticTypeDetail::kAllocatorOpen, Element::value,
                                           StaticTypeDetail::kCloseTwo>::value;
};

template <typename T>
struct StaticTypeSpelling<std::unordered_map<std::string, T>> {
    using Key = StaticTypeDetail::FullSpelling<std::string>;
    using Value = StaticTypeDetail::FullSpelling<T>;
    static constexpr std::string_view keyword = "class";
    static constexpr std::string_view name =
        Value::value.ends_with('>')
            ? StaticTypeDetail::JoinedText<
                  StaticTypeDetail::kMapOpen, Key::value, StaticTypeDetail::kComma, Value::value,
                  StaticTypeDetail::kHashOpen, Key::value, StaticTypeDetail::kEqualOpen, Key::value,
                  StaticTypeDetail::kPairAllocatorOpen, Key::value, StaticTypeDetail::kConstComma,
                  Value::value, StaticTypeDetail::kSpacedCloseThree>::value
            : StaticTypeDetail::JoinedText<
                  StaticTypeDetail::kMapOpen, Key::value, StaticTypeDetail::kComma, Value::value,
                  StaticTypeDetail::kHashOpen, Key::value, StaticTypeDetail::kEqualOpen, Key::value,
                  StaticTypeDetail::kPairAllocatorOpen, Key::value, StaticTypeDetail::kConstComma,
                  Value::value, StaticTypeDetail::kCloseThree>::value;
};

} // namespace Korvel

// Gives TYPE its canonical spelling; use at global namespace scope with the fully qualified name.
#define KORVEL_STATIC_TYPE(KEYWORD, TYPE) KORVEL_STATIC_TYPE_SPELLED(KEYWORD, TYPE, #TYPE)

#define KORVEL_STATIC_TYPE_SPELLED(KEYWORD, TYPE, TEXT)                                            \
    template <>                                                                                    \
    struct Korvel::StaticTypeSpelling<TYPE> {                                                      \
        static constexpr std::string_view keyword = #KEYWORD;                                      \
        static constexpr std::string_view name = TEXT;                                             \
    };
