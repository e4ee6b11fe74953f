#include "remoting/builtin_types.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "binding/convert_to_property.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"

namespace {

using namespace Korvel;

struct FieldText {
    std::string name;
    std::string type; // field kind name, "vector of X" or the registered type's name
    std::string description;
};

struct TypeText {
    std::string name;
    std::string description;
    std::vector<std::string> tags;
    std::vector<FieldText> fields;
};

std::string TypeName(FieldKind kind, const BindingTypeDescriptor* descriptor) {
    if ((kind == FieldKind::Struct || kind == FieldKind::Enum) && descriptor != nullptr) {
        return descriptor->name;
    }
    return FieldKindName(kind);
}

std::string DescribeType(const BindingTypeRef& type) {
    if (type.kind == FieldKind::Vector) {
        return "vector of " + TypeName(type.elementKind, type.descriptor);
    }
    return TypeName(type.kind, type.descriptor);
}

const std::vector<std::string> kHelp = {"$builtin", "help"};
const std::vector<std::string> kAsync = {"$builtin", "async"};

const std::vector<TypeText> kRecords = {
    {"BindingFullTypeIdentifier",
     "Describes the type of a value.",
     kHelp,
     {{"type", "string", ""}, {"elementType", "string", ""}}},
    {"BindingFullArgumentHelp",
     "Describes a function parameter.",
     kHelp,
     {{"name", "string", ""},
      {"description", "string", ""},
      {"type", "BindingFullTypeIdentifier", ""},
      {"optional", "bool", ""}}},
    {"BindingFullFunctionHelp",
     "Describes a function.",
     kHelp,
     {{"name", "string", ""},
      {"nameSpace", "string", ""},
      {"arguments", "vector of BindingFullArgumentHelp", ""},
      {"returns", "BindingFullTypeIdentifier", ""},
      {"description", "string", ""},
      {"help", "string", ""},
      {"threadSafe", "bool", ""},
      {"async", "string", ""},
      {"tags", "vector of string", ""}}},
    {"BindingFullEnumValueHelp",
     "Describes an enumerator.",
     kHelp,
     {{"name", "string", ""}, {"description", "string", ""}, {"value", "int32", ""}}},
    {"BindingFullFieldHelp",
     "Describes a member of a struct.",
     kHelp,
     {{"name", "string", ""},
      {"description", "string", ""},
      {"offset", "uint32", ""},
      {"type", "BindingFullTypeIdentifier", ""},
      {"optional", "bool", ""}}},
    {"BindingFullTypeHelp",
     "Describes a struct or enum type.",
     kHelp,
     {{"name", "string", ""},
      {"nameSpace", "string", ""},
      {"size", "uint32", ""},
      {"description", "string", ""},
      {"tags", "vector of string", ""},
      {"fields", "vector of BindingFullFieldHelp", ""},
      {"values", "vector of BindingFullEnumValueHelp", ""}}},
    {"BindingFullEventHelp",
     "Describes an event.",
     kHelp,
     {{"name", "string", ""},
      {"nameSpace", "string", ""},
      {"type", "BindingFullTypeIdentifier", ""},
      {"description", "string", ""},
      {"tags", "vector of string", ""}}},
    {"BindingFullApiHelp",
     "Describes the exposed native API.",
     kHelp,
     {{"functions", "vector of BindingFullFunctionHelp", ""},
      {"types", "vector of BindingFullTypeHelp", ""},
      {"events", "vector of BindingFullEventHelp", ""}}},
    {"BindingGenericEvent",
     "Represents generic data for an event.",
     {"$builtin"},
     {{"data", "object", "Event data"}}},
    {"BindingCallbackEvent",
     "Represents the parameters of a call to a provided callback.",
     {"$builtin"},
     {{"id", "uint32", "ID of the callback being invoked"},
      {"parameters", "vector of object", "Callback parameters"}}},
    {"BindingGenericAsyncEvent",
     "Represents generic data for an asynchronous event.",
     kAsync,
     {{"asyncToken", "uint32", "Asynchronous operation token"}, {"data", "object", "Event data"}}},
    {"BindingAsyncFailureEvent",
     "Represents a failed asynchronous operation.",
     kAsync,
     {{"asyncToken", "uint32", "Asynchronous operation token"},
      {"error", "string", "Error message"}}},
    {"BindingAsyncCancelEvent",
     "Represents a cancelled asynchronous operation.",
     kAsync,
     {{"asyncToken", "uint32", "Asynchronous operation token"}}},
};

class BuiltinTypes : public ::testing::Test {
protected:
    void SetUp() override { registry.Reinitialise(); }
    BindingRegistry registry;
};

TEST_F(BuiltinTypes, RecordsHaveTheirExactTexts) {
    for (const TypeText& expected : kRecords) {
        SCOPED_TRACE(expected.name);
        const BindingTypeDescriptor* type = registry.FindTypeByName(expected.name);
        ASSERT_NE(type, nullptr);
        EXPECT_FALSE(type->isEnum);
        EXPECT_EQ(type->description, expected.description);
        EXPECT_EQ(type->tags, expected.tags);
        EXPECT_EQ(type->nameSpace, "");
        ASSERT_EQ(type->fields.size(), expected.fields.size());
        for (std::size_t i = 0; i < expected.fields.size(); ++i) {
            EXPECT_EQ(type->fields[i].name, expected.fields[i].name);
            EXPECT_EQ(DescribeType(type->fields[i].type), expected.fields[i].type)
                << expected.fields[i].name;
            EXPECT_EQ(type->fields[i].description, expected.fields[i].description);
            EXPECT_EQ(type->fields[i].flags, 0u);
        }
        EXPECT_EQ(registry.FindTypeByHash(*type->identity), type);
    }
}

TEST_F(BuiltinTypes, EnumerationsHaveTheirExactTexts) {
    const BindingTypeDescriptor* state = registry.FindTypeByName("BindingAsyncState");
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->isEnum);
    EXPECT_EQ(state->size, 4u);
    EXPECT_EQ(state->description, "Possible states of an asynchronous operation.");
    EXPECT_EQ(state->tags, kAsync);
    EXPECT_EQ(state, registry.FindType<BindingAsyncState::Type>());
    const std::vector<std::pair<std::string, std::string>> states = {
        {"None", "Invalid state"},
        {"Running", "The operation is in flight"},
        {"Cancelling", "A request to cancel the operation has been made"},
        {"Cancelled", "The operation was cancelled"},
        {"Succeeded", "The operation completed successfully"},
        {"Failed", "The operation encountered an error"}};
    ASSERT_EQ(state->values.size(), states.size());
    for (std::size_t value = 0; value < states.size(); ++value) {
        const BindingEnumValue* enumerator = state->FindValue(static_cast<std::int32_t>(value));
        ASSERT_NE(enumerator, nullptr);
        EXPECT_EQ(enumerator->name, states[value].first);
        EXPECT_EQ(enumerator->description, states[value].second);
    }
    EXPECT_STREQ(registry.EnumName(StaticType::Identity<BindingAsyncState::Type>(), 0), "None");

    const BindingTypeDescriptor* format = registry.FindTypeByName("BindingHelpFormat");
    ASSERT_NE(format, nullptr);
    EXPECT_TRUE(format->isEnum);
    EXPECT_EQ(format->description, "Help format for binding functions and types.");
    EXPECT_EQ(format->tags, kHelp);
    ASSERT_EQ(format->values.size(), 2u);
    EXPECT_EQ(format->values.at("Full").value, 1);
    EXPECT_EQ(format->values.at("Full").description, "Native help format");
    EXPECT_EQ(format->values.at("Epytext").value, 2);
    EXPECT_EQ(format->values.at("Epytext").description, "Python epytext format");
    EXPECT_FALSE(IsEnumValue(*format, 0));
}

TEST_F(BuiltinTypes, CallbackEventAndCount) {
    EXPECT_EQ(registry.SnapshotTypes().size(), 15u);
    const auto events = registry.SnapshotEvents();
    ASSERT_EQ(events.size(), 1u);
    const BindingEventDescriptor* callback = events.at("OnCallback");
    EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
    EXPECT_EQ(callback->tags, std::vector<std::string>{"$builtin"});
    ASSERT_NE(callback->payload, nullptr);
    EXPECT_EQ(callback->payload->name, "BindingCallbackEvent");
}

// The compact JSON of a native value converted through its registered descriptors.
template <typename T>
std::string JsonOf(const T& value, const BindingRegistry& registry) {
    BindingResult output;
    ToProperty(output, value, registry);
    EXPECT_TRUE(output.IsSuccess()) << WriteJson(output.value);
    return WriteJson(output.value, &registry);
}

// Reads the JSON text back into a native value; the conversion must succeed.
template <typename T>
T FromJson(const std::string& json, const BindingRegistry& registry) {
    const BindingResult parsed = ReadJson(json);
    EXPECT_TRUE(parsed.IsSuccess()) << json;
    T value{};
    BindingResult status;
    FromProperty(status, value, parsed.value, "<value>", registry);
    EXPECT_TRUE(status.IsSuccess()) << WriteJson(status.value);
    return value;
}

TEST_F(BuiltinTypes, RecordsConvertBothWaysUnderTheirMemberNames) {
    EXPECT_EQ(JsonOf(BindingAsyncFailureEvent{7, "boom"}, registry),
              R"({"asyncToken":7,"error":"boom"})");
    EXPECT_EQ(JsonOf(BindingGenericAsyncEvent{9, BindingProperty(true)}, registry),
              R"({"asyncToken":9,"data":true})");
    EXPECT_EQ(JsonOf(BindingAsyncCancelEvent{3}, registry), R"({"asyncToken":3})");
    EXPECT_EQ(JsonOf(BindingGenericEvent{BindingProperty("x")}, registry), R"({"data":"x"})");
    EXPECT_EQ(JsonOf(BindingAsyncState::Cancelling, registry), R"("Cancelling")");
    EXPECT_EQ(JsonOf(BindingHelpProvider::Epytext, registry), R"("Epytext")");

    // Callback parameters are whole values of any kind, an empty one included.
    BindingCallbackEvent callback;
    callback.id = 4294967295u;
    callback.parameters.emplace_back(std::int32_t{-3});
    callback.parameters.emplace_back("x");
    callback.parameters.emplace_back();
    const std::string callbackJson = JsonOf(callback, registry);
    EXPECT_EQ(callbackJson, R"({"id":4294967295,"parameters":[-3,"x",null]})");
    const auto callbackBack = FromJson<BindingCallbackEvent>(callbackJson, registry);
    EXPECT_EQ(callbackBack.id, 4294967295u);
    ASSERT_EQ(callbackBack.parameters.size(), 3u);
    EXPECT_EQ(callbackBack.parameters[0].GetSigned(), -3);
    EXPECT_EQ(callbackBack.parameters[1].GetString(), "x");
    EXPECT_TRUE(callbackBack.parameters[2].IsEmpty());

    // The help records nest four deep (api, function, argument, type); every level comes back.
    using Help = BindingHelpProvider;
    Help::FullApiHelp api;
    api.functions.push_back({"f",
                             "ns",
                             {{"a", "d", {"vector", "int32"}, true}},
                             {"struct", "P"},
                             "desc",
                             "help",
                             true,
                             "P",
                             {"t1", "t2"}});
    api.types.push_back({"E", "", 4, "d", {"$builtin"}, {}, {{"None", "Invalid", -5}}});
    api.types.push_back({"P", "", 8, "", {}, {{"x", "", 4, {"int32", ""}, false}}, {}});
    api.events.push_back({"OnP", "", {"struct", "P"}, "e", {"t"}});
    const std::string apiJson = JsonOf(api, registry);
    const std::string start =
        R"({"events":[{"description":"e","name":"OnP","nameSpace":"","tags":["t"],)"
        R"("type":{"elementType":"P","type":"struct"}}],"functions":[{"arguments":[{)"
        R"("description":"d","name":"a","optional":true,)";
    EXPECT_EQ(apiJson.substr(0, start.size()), start);
    const auto apiBack = FromJson<Help::FullApiHelp>(apiJson, registry);
    EXPECT_EQ(JsonOf(apiBack, registry), apiJson);
    ASSERT_EQ(apiBack.types.size(), 2u);
    EXPECT_EQ(apiBack.types[0].values.at(0).value, -5);
    EXPECT_EQ(apiBack.types[1].fields.at(0).offset, 4u);
    EXPECT_EQ(apiBack.functions.at(0).arguments.at(0).type.elementType, "int32");
    EXPECT_EQ(apiBack.functions.at(0).tags, (std::vector<std::string>{"t1", "t2"}));
}

TEST(BuiltinTypesRegistration, ExistingNamesAreLeftAlone) {
    BindingRegistry registry;
    registry.RegisterStruct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
        .SetDescription("mine");
    registry.RegisterEvent("OnCallback", nullptr).SetDescription("also mine");
    RegisterBuiltinTypes(registry);
    const BindingTypeDescriptor* cancel = registry.FindTypeByName("BindingAsyncCancelEvent");
    EXPECT_EQ(cancel->description, "mine");
    EXPECT_TRUE(cancel->fields.empty());
    EXPECT_TRUE(cancel->tags.empty());
    EXPECT_EQ(registry.FindEvent("OnCallback")->description, "also mine");
    EXPECT_EQ(registry.FindEvent("OnCallback")->payload, nullptr);
    EXPECT_EQ(registry.SnapshotTypes().size(), 15u);
}

} // namespace
