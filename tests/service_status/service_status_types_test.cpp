#include "service_status/service_status_types.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "binding/convert_to_property.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"

namespace {

using namespace Korvel;
using namespace Korvel::Client::ServiceStatus;
using Api::LoginDataPacket;
using Api::ServiceStatusResource;
using Api::TickerMessage;

struct FieldShape {
    std::string name;
    FieldKind kind;
    FieldKind elementKind;
    std::string typeName; // registered name of the field's descriptor, "" when none
};

std::vector<FieldShape> Shape(const BindingTypeDescriptor& type) {
    std::vector<FieldShape> shape;
    for (const BindingFieldDescriptor& field : type.fields) {
        shape.push_back({field.name, field.type.kind, field.type.elementKind,
                         field.type.descriptor != nullptr ? field.type.descriptor->name : ""});
    }
    return shape;
}

bool operator==(const FieldShape& a, const FieldShape& b) {
    return a.name == b.name && a.kind == b.kind && a.elementKind == b.elementKind &&
           a.typeName == b.typeName;
}

std::vector<std::pair<std::string, std::int32_t>> Values(const BindingTypeDescriptor& type) {
    std::vector<std::pair<std::string, std::int32_t>> values;
    for (const auto& [name, value] : type.values) {
        values.emplace_back(name, value.value);
    }
    return values;
}

class ServiceStatusTypes : public ::testing::Test {
protected:
    ServiceStatusTypes() {
        RegisterServiceStatusTypes(registry);
        RegisterLcdsTypes(registry, [this](std::string_view name, std::uint32_t hash,
                                           std::string_view className) {
            bindings.push_back({std::string(name), hash, std::string(className)});
        });
    }

    const BindingTypeDescriptor& Type(const char* name) {
        const BindingTypeDescriptor* type = registry.FindTypeByName(name);
        EXPECT_NE(type, nullptr) << name;
        static const BindingTypeDescriptor missing;
        return type != nullptr ? *type : missing;
    }

    template <typename T>
    std::string Json(const T& record) {
        BindingResult output;
        ToProperty(output, record, registry);
        EXPECT_TRUE(output.IsSuccess()) << output.GetError();
        return WriteJson(output.value, &registry);
    }

    struct Binding {
        std::string typeName;
        std::uint32_t hash;
        std::string className;
    };

    BindingRegistry registry;
    std::vector<Binding> bindings;
};

TEST_F(ServiceStatusTypes, RecordsAndEnumerationsAreRegisteredWithTheirNamesAndFields) {
    EXPECT_EQ(Values(Type("ServiceStatusIncident_Severity")),
              (std::vector<std::pair<std::string, std::int32_t>>{
                  {"error", 2}, {"info", 0}, {"warn", 1}}));
    EXPECT_EQ(
        Values(Type("ServiceStatusResource_Status")),
        (std::vector<std::pair<std::string, std::int32_t>>{
            {"degraded", 3}, {"deploying", 4}, {"offline", 2}, {"online", 1}, {"unknown", 0}}));
    EXPECT_TRUE(Type("ServiceStatusIncident_Severity").isEnum);
    EXPECT_EQ(Type("ServiceStatusIncident_Severity").size, 4u);

    EXPECT_EQ(Shape(Type("TickerMessage")),
              (std::vector<FieldShape>{
                  {"severity", FieldKind::Enum, FieldKind::None, "ServiceStatusIncident_Severity"},
                  {"createdAt", FieldKind::String, FieldKind::None, ""},
                  {"updatedAt", FieldKind::String, FieldKind::None, ""},
                  {"heading", FieldKind::String, FieldKind::None, ""},
                  {"message", FieldKind::String, FieldKind::None, ""}}));
    EXPECT_EQ(Shape(Type("ServiceStatusResource")),
              (std::vector<FieldShape>{
                  {"status", FieldKind::Enum, FieldKind::None, "ServiceStatusResource_Status"},
                  {"humanReadableUrl", FieldKind::String, FieldKind::None, ""}}));
    const std::vector<FieldShape> messages{
        {"broadcastMessages", FieldKind::Vector, FieldKind::Object, ""}};
    EXPECT_EQ(Shape(Type("BroadcastNotification")), messages);
    EXPECT_EQ(Shape(Type("LCDSBroadcastNotification")), messages);
    EXPECT_EQ(Shape(Type("LoginDataPacket")),
              (std::vector<FieldShape>{{"broadcastNotification", FieldKind::Struct, FieldKind::None,
                                        "BroadcastNotification"}}));

    // No descriptions, tags, namespaces or flags anywhere; sizes and offsets are the native ones.
    for (const char* name : {"ServiceStatusIncident_Severity", "ServiceStatusResource_Status",
                             "TickerMessage", "ServiceStatusResource", "BroadcastNotification",
                             "LoginDataPacket", "LCDSBroadcastNotification"}) {
        const BindingTypeDescriptor& type = Type(name);
        EXPECT_TRUE(type.description.empty() && type.tags.empty() && type.nameSpace.empty())
            << name;
        for (const BindingFieldDescriptor& field : type.fields) {
            EXPECT_EQ(field.flags, 0u) << name << "." << field.name;
            EXPECT_TRUE(field.description.empty()) << name << "." << field.name;
            EXPECT_FALSE(field.optional) << name << "." << field.name;
        }
    }
    EXPECT_EQ(Type("TickerMessage").size, sizeof(TickerMessage));
    EXPECT_EQ(Type("TickerMessage").fields[4].offset, offsetof(TickerMessage, message));
}

TEST_F(ServiceStatusTypes, TypesAreFoundByTheHashOfTheirFullNames) {
    EXPECT_EQ(StaticType::HashCodeSignature<TickerMessage>(),
              "unsigned int __cdecl StaticType::HashCode<struct "
              "Korvel::Client::ServiceStatus::Api::TickerMessage>(void)");
    EXPECT_EQ(StaticType::HashCodeSignature<TickerMessage::Severity>(),
              "unsigned int __cdecl StaticType::HashCode<enum "
              "Korvel::Client::ServiceStatus::Api::TickerMessage::Severity>(void)");
    EXPECT_STREQ(StaticType::Name<LoginDataPacket>(),
                 "const char *__cdecl StaticType::Name<struct "
                 "Korvel::Client::ServiceStatus::Api::LoginDataPacket>(void)");
    EXPECT_STREQ(
        StaticType::Name<ServiceStatusResource&>(),
        "const char *__cdecl "
        "StaticType::Name<structKorvel::Client::ServiceStatus::Api::ServiceStatusResource&>("
        "void)");

    EXPECT_EQ(registry.FindType<TickerMessage>(), &Type("TickerMessage"));
    EXPECT_EQ(registry.FindType<ServiceStatusResource::Status>(),
              &Type("ServiceStatusResource_Status"));
    EXPECT_EQ(registry.FindType<Api::BroadcastNotification>(), &Type("BroadcastNotification"));
    EXPECT_EQ(registry.FindType<LCDS::BroadcastNotification>(), &Type("LCDSBroadcastNotification"));
    EXPECT_NE(StaticType::HashCode<Api::BroadcastNotification>(),
              StaticType::HashCode<LCDS::BroadcastNotification>());
}

TEST_F(ServiceStatusTypes, LcdsRecordIsBoundToItsClassNameByNameAndHash) {
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_EQ(bindings[0].typeName, "LCDSBroadcastNotification");
    EXPECT_EQ(bindings[0].hash, StaticType::HashCode<LCDS::BroadcastNotification>());
    EXPECT_EQ(bindings[0].className, "com.korvelworks.platform.broadcast.BroadcastNotification");
    EXPECT_EQ(kBroadcastNotificationClassName, bindings[0].className);
}

TEST_F(ServiceStatusTypes, RegisteringTwiceKeepsTheFirstDescriptors) {
    const BindingTypeDescriptor* ticker = registry.FindTypeByName("TickerMessage");
    const std::size_t typeCount = registry.SnapshotTypes().size();
    RegisterServiceStatusTypes(registry);
    RegisterLcdsTypes(registry, {});
    EXPECT_EQ(registry.SnapshotTypes().size(), typeCount);
    EXPECT_EQ(registry.FindTypeByName("TickerMessage"), ticker);
    EXPECT_EQ(ticker->fields.size(), 5u);
    EXPECT_EQ(Type("ServiceStatusResource_Status").values.size(), 5u);
}

TEST_F(ServiceStatusTypes, RecordsConvertWithEveryMemberAndEnumeratorNames) {
    EXPECT_EQ(Json(ServiceStatusResource{}), R"({"humanReadableUrl":"","status":"unknown"})");
    TickerMessage message;
    message.severity = TickerMessage::Severity::warn;
    message.heading = "H";
    EXPECT_EQ(Json(std::vector<TickerMessage>{message}),
              R"([{"createdAt":"","heading":"H","message":"","severity":"warn","updatedAt":""}])");
    EXPECT_EQ(Json(LoginDataPacket{}), R"({"broadcastNotification":{"broadcastMessages":[]}})");
}

TEST_F(ServiceStatusTypes, LoginDataPacketsWithoutBroadcastsReadAsEmpty) {
    for (const char* text : {R"({})", R"({"broadcastNotification":{}})",
                             R"({"broadcastNotification":{"broadcastMessages":null}})"}) {
        BindingResult read = ReadJson(text);
        ASSERT_TRUE(read.IsSuccess()) << text;
        LoginDataPacket packet;
        BindingResult status;
        FromProperty(status, packet, read.value, "<value>", registry);
        EXPECT_TRUE(status.IsSuccess()) << text << ": " << status.GetError();
        EXPECT_TRUE(packet.broadcastNotification.broadcastMessages.empty()) << text;
    }

    BindingResult read =
        ReadJson(R"({"broadcastNotification":{"broadcastMessages":[{"content":"c"},"x"]}})");
    LoginDataPacket packet;
    BindingResult status;
    FromProperty(status, packet, read.value, "<value>", registry);
    ASSERT_TRUE(status.IsSuccess()) << status.GetError();
    ASSERT_EQ(packet.broadcastNotification.broadcastMessages.size(), 2u);
    EXPECT_EQ(packet.broadcastNotification.broadcastMessages[0].Member("content").GetString(), "c");
    EXPECT_EQ(packet.broadcastNotification.broadcastMessages[1].GetString(), "x");
}

TEST_F(ServiceStatusTypes, UnknownSeverityNameIsNotAnEnumerator) {
    BindingResult read = ReadJson(R"({"severity":"WARN","heading":"h"})");
    TickerMessage message;
    message.severity = TickerMessage::Severity::error;
    BindingResult status;
    FromProperty(status, message, read.value, "<value>", registry);
    EXPECT_EQ(
        status.GetError(),
        "WARN is not a valid ServiceStatusIncident_Severity enumeration value for 'severity'.");
    EXPECT_EQ(message.severity, TickerMessage::Severity::info);
}

} // namespace
