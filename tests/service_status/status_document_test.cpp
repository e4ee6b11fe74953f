#include "service_status/status_document.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "encoding/json_reader.h"
#include "service_status/broadcast_messages.h"
#include "service_status/service_status_types.h"

namespace {

using namespace Korvel;
using namespace Korvel::Client::ServiceStatus;
using Api::ServiceStatusResource;
using Api::TickerMessage;
using Severity = TickerMessage::Severity;
using Status = ServiceStatusResource::Status;

BindingProperty Parse(const std::string& text) {
    BindingResult read = ReadJson(text);
    EXPECT_TRUE(read.IsSuccess()) << read.GetError();
    return read.value;
}

TickerMessage Ticker(Severity severity, std::string createdAt, std::string updatedAt,
                     std::string heading, std::string message) {
    return {severity, std::move(createdAt), std::move(updatedAt), std::move(heading),
            std::move(message)};
}

class StatusDocument : public ::testing::Test {
protected:
    StatusDocument() { RegisterServiceStatusTypes(registry); }

    std::vector<TickerMessage> Messages(const std::string& document,
                                        const std::string& locale = "en_US") {
        std::vector<TickerMessage> ticker;
        AppendStatusMessages(Parse(document), locale, registry, ticker);
        return ticker;
    }

    TickerMessage One(const std::string& element, const std::string& locale = "en_US") {
        return ReadStatusMessage(Parse(element), locale, registry);
    }

    BindingRegistry registry;
};

TEST_F(StatusDocument, MessagesKeepDocumentOrderAndTheirOwnTexts) {
    EXPECT_EQ(Messages(R"({"messages":[
        {"created_at":"c1","updated_at":"u1","severity":"warn","heading":"H1","content":"C1"},
        {"created_at":"c2","updated_at":"u2","severity":"error","heading":"H2","content":"C2"},
        {"severity":"info","heading":"H1","content":"C1"}]})"),
              (std::vector<TickerMessage>{Ticker(Severity::warn, "c1", "u1", "H1", "C1"),
                                          Ticker(Severity::error, "c2", "u2", "H2", "C2"),
                                          Ticker(Severity::info, "", "", "H1", "C1")}));
}

TEST_F(StatusDocument, FirstTranslationOfTheExactLocaleReplacesNonEmptyTexts) {
    const std::string own = R"("heading":"own H","content":"own C","translations":)";
    // The matching translation of two.
    EXPECT_EQ(One("{" + own + R"([{"locale":"de_DE","heading":"D","content":"DC"},
                                 {"locale":"en_US","heading":"H","content":"C"}]})"),
              Ticker(Severity::info, "", "", "H", "C"));
    // No fallback to the language alone, no case folding.
    EXPECT_EQ(One("{" + own + R"([{"locale":"en","heading":"H","content":"C"},
                                 {"locale":"EN_us","heading":"H","content":"C"},
                                 {"locale":"en_US ","heading":"H","content":"C"}]})"),
              Ticker(Severity::info, "", "", "own H", "own C"));
    // Null, missing, empty or non-text translated texts leave the message's own text.
    EXPECT_EQ(One("{" + own + R"([{"locale":"en_US","heading":"H","content":null}]})"),
              Ticker(Severity::info, "", "", "H", "own C"));
    EXPECT_EQ(One("{" + own + R"([{"locale":"en_US","content":"C"}]})"),
              Ticker(Severity::info, "", "", "own H", "C"));
    EXPECT_EQ(One("{" + own + R"([{"locale":"en_US","heading":"","content":7}]})"),
              Ticker(Severity::info, "", "", "own H", "own C"));
    // Later translations are not looked at, even when the matching one lacks a text.
    EXPECT_EQ(One("{" + own + R"([{"locale":"en_US","heading":"H"},
                                 {"locale":"en_US","heading":"H2","content":"C2"}]})"),
              Ticker(Severity::info, "", "", "H", "own C"));
    // A translation without a locale matches no locale, not even an empty one.
    EXPECT_EQ(One("{" + own + R"([{"heading":"H","content":"C"}]})", ""),
              Ticker(Severity::info, "", "", "own H", "own C"));
    EXPECT_EQ(One("{" + own + R"([{"locale":"","heading":"H","content":"C"}]})", ""),
              Ticker(Severity::info, "", "", "H", "C"));
}

TEST_F(StatusDocument, OverallStatusByEnumeratorName) {
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":"deploying"})"), registry), Status::deploying);
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":"degraded"})"), registry), Status::degraded);
    for (const char* document :
         {R"({"status":"Online"})", R"({"status":"maintenance"})", R"({})", R"({"status":null})",
          R"({"status":[1]})", R"({"status":{"a":1}})", R"({"status":9})", R"([])", R"("x")"}) {
        EXPECT_EQ(ReadOverallStatus(Parse(document), registry), Status::unknown) << document;
    }
}

TEST_F(StatusDocument, EnumeratorNumbersConvertAsTheirValues) {
    // Besides their names, enumerators are given by their numbers, as numbers or as texts in any
    // base; a number that is no enumerator's value leaves the zero value.
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":"4"})"), registry), Status::deploying);
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":"0x2"})"), registry), Status::offline);
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":1})"), registry), Status::online);
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":"5"})"), registry), Status::unknown);
    EXPECT_EQ(ReadOverallStatus(Parse(R"({"status":-1})"), registry), Status::unknown);
    EXPECT_EQ(Messages(R"({"messages":[{"severity":1},{"severity":"2"},{"severity":" 1"},
        {"severity":3},{"severity":"1x"},{"severity":2.0}]})"),
              (std::vector<TickerMessage>{
                  Ticker(Severity::warn, "", "", "", ""), Ticker(Severity::error, "", "", "", ""),
                  Ticker(Severity::warn, "", "", "", ""), Ticker(Severity::info, "", "", "", ""),
                  Ticker(Severity::info, "", "", "", ""), Ticker(Severity::info, "", "", "", "")}));
}

TEST_F(StatusDocument, UnexpectedShapesGiveEmptyTextsOrNoMessages) {
    for (const char* document :
         {R"({})", R"({"messages":{"a":{"heading":"H"}}})", R"({"messages":"text"})",
          R"({"messages":null})", R"({"messages":12})", R"([{"heading":"H"}])", R"("messages")"}) {
        EXPECT_TRUE(Messages(document).empty()) << document;
    }
    // Numbers where text is expected read as empty text; an unknown severity leaves info; an
    // element that is no structure still gives a message.
    EXPECT_EQ(Messages(R"({"messages":[
        {"created_at":1,"updated_at":2.5,"severity":"critical","heading":false,"content":["x"],
         "translations":{"locale":"en_US","heading":"H"}},
        {"severity":"WARN","translations":"en_US"},
        17]})"),
              (std::vector<TickerMessage>(3, Ticker(Severity::info, "", "", "", ""))));
}

TEST_F(StatusDocument, ManyTranslationsOnOneMessage) {
    std::string document = R"({"messages":[{"heading":"own","translations":[)";
    for (int i = 0; i < 100000; ++i) {
        document += R"({"locale":"xx_)" + std::to_string(i) + R"(","heading":"no"},)";
    }
    document += R"({"locale":"en_US","heading":"yes"}]}]})";
    const std::vector<TickerMessage> ticker = Messages(document);
    ASSERT_EQ(ticker.size(), 1u);
    EXPECT_EQ(ticker[0].heading, "yes");
}

TEST(StatusDocumentUrl, LocaleGoesBeforeTheFirstFragmentMark) {
    EXPECT_EQ(LocalisedStatusUrl("status/#/y", "en_US"), "status/?en_US#/y");
    EXPECT_EQ(LocalisedStatusUrl("https://s/#/a#b", "de_DE"), "https://s/?de_DE#/a#b");
    EXPECT_EQ(LocalisedStatusUrl("#", ""), "?#");
    EXPECT_EQ(LocalisedStatusUrl("https://status.example/en", "en_US"),
              "https://status.example/en");
    EXPECT_EQ(LocalisedStatusUrl("", "en_US"), "");
}

TEST(StatusDocumentRegionData, NodeOfTheRegionByExactNames) {
    const BindingProperty data = Parse(R"({"EUW":{"servers":{"service_status":
        {"api_url":"https://api/euw","human_readable_status_url":"https://h/#/"}}},
        "NA":{"servers":{"service_status":{"api_url":7}}}})");
    EXPECT_EQ(TextOf(ServiceStatusNode(data, "EUW"), "api_url"), "https://api/euw");
    EXPECT_EQ(TextOf(ServiceStatusNode(data, "euw"), "api_url"), "");
    EXPECT_EQ(TextOf(ServiceStatusNode(data, ""), "api_url"), "");
    EXPECT_EQ(TextOf(ServiceStatusNode(data, "NA"), "api_url"), "");
    EXPECT_TRUE(ServiceStatusNode(BindingProperty(), "EUW").IsEmpty());
}

TEST(BroadcastMessages, ContentOrMessageKeyAndExactSeverityNames) {
    const BindingProperty broadcasts = Parse(R"([
        {"content":"Maintenance at 10","messageKey":"k1","severity":"warn"},
        {"content":"","messageKey":"k2","severity":"WARN"},
        {"messageKey":"k3","severity":"error"},
        {"content":5,"messageKey":"k4"},
        {"severity":"info"},
        "not a structure"])");
    EXPECT_EQ(BroadcastTickerMessages(broadcasts.Elements()),
              (std::vector<TickerMessage>{Ticker(Severity::warn, "", "", "", "Maintenance at 10"),
                                          Ticker(Severity::info, "", "", "", "k2"),
                                          Ticker(Severity::error, "", "", "", "k3"),
                                          Ticker(Severity::info, "", "", "", "k4"),
                                          Ticker(Severity::info, "", "", "", ""),
                                          Ticker(Severity::info, "", "", "", "")}));
}

} // namespace
