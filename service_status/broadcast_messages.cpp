#include "service_status/broadcast_messages.h"

#include "service_status/status_document.h"

namespace Korvel::Client::ServiceStatus {

Api::TickerMessage BroadcastTickerMessage(const BindingProperty& broadcast) {
    using Severity = Api::TickerMessage::Severity;
    Api::TickerMessage message;
    message.message = TextOf(broadcast, "content");
    if (message.message.empty()) {
        message.message = TextOf(broadcast, "messageKey");
    }
    const std::string_view severity = TextOf(broadcast, "severity");
    if (severity == "warn") {
        message.severity = Severity::warn;
    } else if (severity == "error") {
        message.severity = Severity::error;
    } else {
        message.severity = Severity::info;
    }
    return message;
}

std::vector<Api::TickerMessage>
BroadcastTickerMessages(std::span<const BindingProperty> broadcasts) {
    std::vector<Api::TickerMessage> ticker;
    ticker.reserve(broadcasts.size());
    for (const BindingProperty& broadcast : broadcasts) {
        ticker.push_back(BroadcastTickerMessage(broadcast));
    }
    return ticker;
}

} // namespace Korvel::Client::ServiceStatus
