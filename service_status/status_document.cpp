#include "service_status/status_document.h"

#include "binding/binding_registry.h"
#include "binding/binding_result.h"
#include "binding/convert_to_property.h"

namespace Korvel::Client::ServiceStatus {

namespace {

// Converts `input` into the enumeration E by its registered value names. A failed conversion
// leaves E's zero value, which is what the flow wants for a name it does not know; the message
// itself is not needed.
template <typename E>
E ReadEnumeration(const BindingProperty& input, std::string_view name,
                  const BindingRegistry& registry) {
    E value{};
    BindingResult status;
    FromProperty(status, value, input, name, registry);
    return status.IsSuccess() ? value : E{};
}

} // namespace

const BindingProperty& ServiceStatusNode(const BindingProperty& regionData,
                                         std::string_view region) {
    return regionData.Member(region).Member("servers").Member("service_status");
}

std::string_view TextOf(const BindingProperty& value, std::string_view member) {
    const BindingProperty& text = value.Member(member);
    return text.Kind() == BindingKind::String ? text.GetString() : std::string_view();
}

std::string LocalisedStatusUrl(std::string_view url, std::string_view locale) {
    std::string localised(url);
    const std::size_t hash = localised.find('#');
    if (hash != std::string::npos) {
        std::string query = "?";
        query += locale;
        localised.insert(hash, query);
    }
    return localised;
}

Api::ServiceStatusResource::Status ReadOverallStatus(const BindingProperty& document,
                                                     const BindingRegistry& registry) {
    return ReadEnumeration<Api::ServiceStatusResource::Status>(document.Member("status"), "status",
                                                               registry);
}

Api::TickerMessage ReadStatusMessage(const BindingProperty& element, std::string_view locale,
                                     const BindingRegistry& registry) {
    Api::TickerMessage message;
    message.createdAt = TextOf(element, "created_at");
    message.updatedAt = TextOf(element, "updated_at");
    message.severity = ReadEnumeration<Api::TickerMessage::Severity>(element.Member("severity"),
                                                                     "severity", registry);
    message.heading = TextOf(element, "heading");
    message.message = TextOf(element, "content");

    const BindingProperty& translations = element.Member("translations");
    if (translations.Kind() != BindingKind::Collection) {
        return message;
    }
    for (const BindingProperty& translation : translations.Elements()) {
        // Only a translation that names a locale can match; the comparison is exact (no case
        // folding, no fallback to the language alone).
        const BindingProperty& translationLocale = translation.Member("locale");
        if (translationLocale.Kind() != BindingKind::String ||
            translationLocale.GetString() != locale) {
            continue;
        }
        const std::string_view heading = TextOf(translation, "heading");
        if (!heading.empty()) {
            message.heading = heading;
        }
        const std::string_view content = TextOf(translation, "content");
        if (!content.empty()) {
            message.message = content;
        }
        break;
    }
    return message;
}

void AppendStatusMessages(const BindingProperty& document, std::string_view locale,
                          const BindingRegistry& registry,
                          std::vector<Api::TickerMessage>& ticker) {
    const BindingProperty& messages = document.Member("messages");
    if (messages.Kind() != BindingKind::Collection) {
        return;
    }
    ticker.reserve(ticker.size() + messages.Size());
    for (const BindingProperty& element : messages.Elements()) {
        ticker.push_back(ReadStatusMessage(element, locale, registry));
    }
}

} // namespace Korvel::Client::ServiceStatus
