#pragma once

// Turning broadcast messages (free-form dynamic values from the login data packet or the LCDS
// channel) into ticker messages.

#include <span>
#include <vector>

#include "binding/binding_property.h"
#include "service_status/ticker_message.h"

namespace Korvel::Client::ServiceStatus {

// One ticker message from a broadcast message: "message" is its "content" text, or its
// "messageKey" text when the content is empty; "severity" is `info`, `warn` or `error` when its
// "severity" text is exactly "info", "warn" or "error", and `info` for anything else. The times
// and the heading stay empty.
Api::TickerMessage BroadcastTickerMessage(const BindingProperty& broadcast);

// The ticker messages of a list of broadcasts, in order.
std::vector<Api::TickerMessage>
BroadcastTickerMessages(std::span<const BindingProperty> broadcasts);

} // namespace Korvel::Client::ServiceStatus
