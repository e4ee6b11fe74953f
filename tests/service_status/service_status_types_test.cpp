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

    // Reads `text` as JSON into `record` as a whole value; the message, "" on success.
    template <typename T>
    std::string FromJson(T& record, const std::string& text) {
        BindingResult read = ReadJson(text);
        EXPECT_TRUE(read.IsSuccess()) << text << ": " << read.GetError();
        BindingResult status;
        FromProperty(status, record, read.value, "<value>", registry);
        return status.GetError();
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

// Every record goes out as JSON and comes back as it was: enumerators travel by name, texts as
// they are, broadcast messages as the dynamic values they were.
TEST_F(ServiceStatusTypes, EveryRecordSurvivesTheTripThroughJson) {
    const std::pair<ServiceStatusResource::Status, const char*> statuses[] = {
        {ServiceStatusResource::Status::unknown, "unknown"},
        {ServiceStatusResource::Status::online, "online"},
        {ServiceStatusResource::Status::offline, "offline"},
        {ServiceStatusResource::Status::degraded, "degraded"},
        {ServiceStatusResource::Status::deploying, "deploying"}};
    for (const auto& [status, name] : statuses) {
        const ServiceStatusResource resource{status, "https://status.example/euw?x=1&y=\"2\""};
        const std::string text = Json(resource);
        EXPECT_EQ(text,
                  std::string(R"({"humanReadableUrl":"https://status.example/euw?x=1&y=\"2\"",)") +
                      R"("status":")" + name + R"("})");
        ServiceStatusResource back;
        back.humanReadableUrl = "stale";
        EXPECT_EQ(FromJson(back, text), "") << text;
        EXPECT_EQ(back, resource) << text;
    }

    std::vector<TickerMessage> ticker(3);
    ticker[0] = {TickerMessage::Severity::info, "2026-01-02T03:04:05Z", "", "Wartung", "Ab 3 Uhr."};
    ticker[1] = {TickerMessage::Severity::warn, "c", "u",
                 "h\xC3\xA9"
                 "ading",
                 "line\nbreak\t\\"};
    ticker[2] = {TickerMessage::Severity::error, "", "", "", ""};
    const std::string tickerText = Json(ticker);
    EXPECT_NE(tickerText.find(R"("severity":"error")"), std::string::npos) << tickerText;
    std::vector<TickerMessage> tickerBack{TickerMessage{}};
    EXPECT_EQ(FromJson(tickerBack, tickerText), "");
    EXPECT_EQ(tickerBack, ticker);

    // Broadcast messages are free-form values; texts, structures, lists and booleans keep their
    // kinds through JSON (numbers may come back as another number kind, so none are used here).
    BindingProperty first;
    first.Member("content") = "Servers restart at 3";
    first.Member("messageKey") = "restart";
    first.Member("severity") = "warn";
    first.Member("extra").Append() = true;
    BindingProperty second("just text");
    BindingProperty third;
    third.MakeStructure();

    LoginDataPacket packet;
    packet.broadcastNotification.broadcastMessages = {first, second, third};
    const std::string packetText = Json(packet);
    LoginDataPacket packetBack;
    EXPECT_EQ(FromJson(packetBack, packetText), "");
    ASSERT_EQ(packetBack.broadcastNotification.broadcastMessages.size(), 3u) << packetText;
    EXPECT_EQ(packetBack.broadcastNotification.broadcastMessages[0], first);
    EXPECT_EQ(packetBack.broadcastNotification.broadcastMessages[1], second);
    EXPECT_EQ(packetBack.broadcastNotification.broadcastMessages[2], third);
    EXPECT_EQ(Json(packetBack), packetText);

    LCDS::BroadcastNotification lcds;
    lcds.broadcastMessages = {second, first};
    const std::string lcdsText = Json(lcds);
    EXPECT_EQ(lcdsText.rfind(R"({"broadcastMessages":["just text",{"content":)", 0), 0u)
        << lcdsText;
    LCDS::BroadcastNotification lcdsBack;
    EXPECT_EQ(FromJson(lcdsBack, lcdsText), "");
    ASSERT_EQ(lcdsBack.broadcastMessages.size(), 2u);
    EXPECT_EQ(lcdsBack.broadcastMessages[0], second);
    EXPECT_EQ(lcdsBack.broadcastMessages[1], first);
}

// A native value that is no enumerator goes out as its number and is refused on the way back.
TEST_F(ServiceStatusTypes, SeverityThatIsNoEnumeratorGoesOutAsItsNumber) {
    TickerMessage message;
    message.severity = static_cast<TickerMessage::Severity>(9);
    const std::string text = Json(message);
    EXPECT_EQ(text, R"({"createdAt":"","heading":"","message":"","severity":9,"updatedAt":""})");
    TickerMessage back;
    EXPECT_EQ(FromJson(back, text),
              "9 is not a valid ServiceStatusIncident_Severity enumeration value for 'severity'.");
}

TEST_F(ServiceStatusTypes, MembersAreReadByNameNumberOrNotAtAll) {
    ServiceStatusResource resource{ServiceStatusResource::Status::offline, "kept"};
    // A number or a numeric text names an enumerator; null and absent members leave the field as
    // it was; members that match no field are ignored.
    EXPECT_EQ(FromJson(resource, R"({"status":3,"other":[1,2],"HumanReadableUrl":"x"})"), "");
    EXPECT_EQ(resource, (ServiceStatusResource{ServiceStatusResource::Status::degraded, "kept"}));
    EXPECT_EQ(FromJson(resource, R"({"status":"0x4","humanReadableUrl":null})"), "");
    EXPECT_EQ(resource, (ServiceStatusResource{ServiceStatusResource::Status::deploying, "kept"}));
    EXPECT_EQ(FromJson(resource, R"({"status":null,"humanReadableUrl":""})"), "");
    EXPECT_EQ(resource, (ServiceStatusResource{ServiceStatusResource::Status::deploying, ""}));
    EXPECT_EQ(FromJson(resource, R"({})"), "");
    EXPECT_EQ(resource.status, ServiceStatusResource::Status::deploying);

    TickerMessage message;
    EXPECT_EQ(FromJson(message, R"({"severity":2,"createdAt":"2026","updatedAt":"2027",)"
                                R"("heading":"h","message":"m","id":17})"),
              "");
    EXPECT_EQ(message, (TickerMessage{TickerMessage::Severity::error, "2026", "2027", "h", "m"}));

    // A null element of the broadcast list stays an empty value in its place.
    LCDS::BroadcastNotification lcds;
    EXPECT_EQ(FromJson(lcds, R"({"broadcastMessages":[null,{"content":"c"}]})"), "");
    ASSERT_EQ(lcds.broadcastMessages.size(), 2u);
    EXPECT_TRUE(lcds.broadcastMessages[0].IsEmpty());
    EXPECT_EQ(lcds.broadcastMessages[1].Member("content").GetString(), "c");
}

TEST_F(ServiceStatusTypes, MembersOfTheWrongShapeAreReportedByFieldName) {
    const std::pair<const char*, const char*> resourceCases[] = {
        {R"({"status":7})",
         "7 is not a valid ServiceStatusResource_Status enumeration value for 'status'."},
        {R"({"status":-1})",
         "-1 is not a valid ServiceStatusResource_Status enumeration value for 'status'."},
        {R"({"status":4294967297})",
         "4294967297 is not a valid ServiceStatusResource_Status enumeration value for "
         "'status'."},
        {R"({"status":"Online"})",
         "Online is not a valid ServiceStatusResource_Status enumeration value for 'status'."},
        {R"({"status":""})", ""}, // the empty text is the number 0, "unknown"
        {R"({"status":true})", "Couldn't assign value to 'status' of enum type because the input "
                               "is of an invalid type bool."},
        {R"({"status":1.0})", "Couldn't assign value to 'status' of enum type because the input "
                              "is of an invalid type float."},
        {R"({"status":{"a":1}})", "Couldn't assign value to 'status' of enum type because the "
                                  "input is of an invalid type structure."},
        {R"({"humanReadableUrl":5})",
         "Couldn't assign value to 'humanReadableUrl' because the input is not a string."},
        {R"({"humanReadableUrl":["x"]})",
         "Couldn't assign value to 'humanReadableUrl' because the input is not a string."},
        {R"(["online"])", "Couldn't assign value to '<value>' of type ServiceStatusResource "
                          "because the input not a structure."},
        {R"("online")", "Couldn't assign value to '<value>' of type ServiceStatusResource "
                        "because the input not a structure."},
        {"null", "A value for '<value>' is required."},
    };
    for (const auto& [text, expected] : resourceCases) {
        ServiceStatusResource resource{ServiceStatusResource::Status::online, "u"};
        EXPECT_EQ(FromJson(resource, text), expected) << text;
    }

    const std::pair<const char*, const char*> packetCases[] = {
        {R"({"broadcastNotification":[]})",
         "Couldn't assign value to 'broadcastNotification' of type BroadcastNotification because "
         "the input not a structure."},
        {R"({"broadcastNotification":{"broadcastMessages":{}}})",
         "Couldn't assign value to 'broadcastMessages' of type vector because the input not a "
         "collection."},
        {R"({"broadcastNotification":{"broadcastMessages":"x"}})",
         "Couldn't assign value to 'broadcastMessages' of type vector because the input not a "
         "collection."},
    };
    for (const auto& [text, expected] : packetCases) {
        LoginDataPacket packet;
        EXPECT_EQ(FromJson(packet, text), expected) << text;
    }

    // In a list the first failing message ends the conversion; its message names the field.
    std::vector<TickerMessage> ticker;
    EXPECT_EQ(FromJson(ticker, R"([{"heading":"a"},{"heading":1},{"severity":"x"}])"),
              "Couldn't assign value to 'heading' because the input is not a string.");
    ASSERT_EQ(ticker.size(), 3u);
    EXPECT_EQ(ticker[0].heading, "a");
    EXPECT_EQ(ticker[2].severity, TickerMessage::Severity::info);
    EXPECT_EQ(FromJson(ticker, R"({"heading":"a"})"),
              "Couldn't assign value to '<value>' of type vector because the input not a "
              "collection.");
    EXPECT_TRUE(ticker.empty());
}

} // namespace
