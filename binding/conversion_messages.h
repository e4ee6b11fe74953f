#pragma once

// The messages of the native <-> dynamic conversions, exact texts. %1, %2, %3 are filled by
// FormatMessage: texts as they are, integers in decimal, doubles with "%g".

namespace Korvel {

// The fixed messages of the conversions. %1, %2, %3 are filled by FormatMessage.
namespace ConversionMessages {
// %1 field name.
inline constexpr const char* kRequired = "A value for '%1' is required.";
// %1 field name, %2 input kind name.
inline constexpr const char* kBoolInvalidType =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
// %1 input text, %2 field name.
inline constexpr const char* kBoolFormat =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
// %1 field name, %2 field kind name, %3 input kind name.
inline constexpr const char* kInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
// %1 input value, %2 field name, %3 field kind name.
inline constexpr const char* kOutOfRange = "Value %1 for '%2' of type %3 is out of range";
// %1 input text, %2 field name, %3 field kind name.
inline constexpr const char* kIncorrectFormat =
    "Value %1 for '%2' of type %3 is in an incorrect format";
// %1 input value, %2 registered enum name, %3 field name.
inline constexpr const char* kNotEnumValue = "%1 is not a valid %2 enumeration value for '%3'.";
// %1 field name, %2 input kind name.
inline constexpr const char* kEnumInvalidType =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
// %1 field name.
inline constexpr const char* kNotString =
    "Couldn't assign value to '%1' because the input is not a string.";
// %1 the enum record's 32-bit value, %2 field name.
inline constexpr const char* kNoEnumName = "%1 is not a valid enumeration value for '%2'.";
// %1 field name.
inline constexpr const char* kNotBlob =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";
// %1 field name.
inline constexpr const char* kInvalidBase64 = "Couldn't assign string value to '%1' of type blob "
                                              "because the input has invalid base64 characters.";
// %1 field name.
inline constexpr const char* kNotCollection =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
// %1 field name.
inline constexpr const char* kNotMapStructure =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
// %1 field name.
inline constexpr const char* kUnregisteredStructure = "Couldn't assign value to '%1' because the "
                                                      "input is an unregistered structure or not a "
                                                      "structure at all.";
// %1 field name, %2 registered struct name.
inline constexpr const char* kNotStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// %1 outer name, %2 registered struct name, %3 missing field's name.
inline constexpr const char* kMissingRequiredField =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
// No placeholders.
inline constexpr const char* kUnregisteredNative =
    "Couldn't convert native value because it's an unregistered structure.";

// Failures of cases the table above does not cover.
// %1 field name: an "enum" field whose enumeration was not registered when the field was added.
inline constexpr const char* kEnumNotRegistered =
    "Couldn't assign value to '%1' because its enumeration type is not registered.";
// %1 field name: the same field converted to a dynamic value.
inline constexpr const char* kEnumNotRegisteredNative =
    "Couldn't convert value of '%1' because its enumeration type is not registered.";
// %1 field name: a "string" field assigned from an enum record of an unregistered enumeration.
inline constexpr const char* kInputEnumNotRegistered =
    "Couldn't assign value to '%1' because the enumeration type of the input is not registered.";
// %1 field name, %2 the depth limit: records nested deeper than the limit (recursive types).
inline constexpr const char* kTooDeep =
    "Couldn't assign value to '%1' because the input is nested deeper than %2 levels.";
// %1 the depth limit.
inline constexpr const char* kTooDeepNative =
    "Couldn't convert native value because it is nested deeper than %1 levels.";
// %1 field name, %2 the element limit: a native vector longer than a collection can be.
inline constexpr const char* kTooManyElements =
    "Couldn't convert value of '%1' because it has more than %2 elements.";
// %1 the name of the whole value: memory ran out while it was converted.
inline constexpr const char* kOutOfMemory =
    "Couldn't assign value to '%1' because there is not enough memory.";
} // namespace ConversionMessages

} // namespace Korvel
