#pragma once

// Reading the service-status web API's document and the region data that points at it.
//
// The region data ("region_data" of the host's data store) is a structure keyed by region; the
// status API of a region is found under [region]["servers"]["service_status"], whose members
// "human_readable_status_url" and "api_url" are texts.
//
// The status document:
//     {"status": "online",
//      "messages": [{"created_at": "...", "updated_at": "...", "severity": "warn",
//                    "heading": "...", "content": "...",
//                    "translations": [{"locale": "de_DE", "heading": "...", "content": "..."}]}]}
//
// Every value is read leniently: a member that is missing or of another kind than expected reads
// as the empty text (or, for "messages" and "translations", as no entries).

#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "service_status/service_status_resource.h"
#include "service_status/ticker_message.h"

namespace Korvel {
class BindingRegistry;
}

namespace Korvel::Client::ServiceStatus {

// The "service_status" node of a region in the region data (an empty value when absent).
const BindingProperty& ServiceStatusNode(const BindingProperty& regionData,
                                         std::string_view region);

// A member read as text: its string, or the empty text for any other kind.
std::string_view TextOf(const BindingProperty& value, std::string_view member);

// The address of the human-readable status page for the locale: when the address holds a "#",
// "?" and the locale are inserted right before the first one ("status/#/y" with en_US gives
// "status/?en_US#/y"); any other address is returned unchanged.
std::string LocalisedStatusUrl(std::string_view url, std::string_view locale);

// Converts the document's "status" to the resource's status by the enumerator names of
// "ServiceStatusResource_Status"; an unknown or missing name leaves `unknown`.
Api::ServiceStatusResource::Status ReadOverallStatus(const BindingProperty& document,
                                                     const BindingRegistry& registry);

// One ticker message from one element of "messages": the element's own texts, replaced by those
// of the first translation whose "locale" equals `locale` exactly where that translation has a
// non-empty "heading" or "content". An unknown or missing severity leaves `info`.
Api::TickerMessage ReadStatusMessage(const BindingProperty& element, std::string_view locale,
                                     const BindingRegistry& registry);

// Appends one ticker message per element of the document's "messages", in document order.
void AppendStatusMessages(const BindingProperty& document, std::string_view locale,
                          const BindingRegistry& registry, std::vector<Api::TickerMessage>& ticker);

} // namespace Korvel::Client::ServiceStatus
