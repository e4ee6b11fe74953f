#pragma once

// The builtin types every registry carries in the "$builtin" namespace: asynchronous operation
// states and events, generic and callback events, and the records in which the API describes its
// functions, types and events. RegisterBuiltinTypes registers them, then the "OnCallback" event;
// BindingRegistry::Reinitialise runs it before the plug-in registers its own types.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type_id.h"

namespace Korvel {

class BindingRegistry;

struct BindingAsyncState {
    enum Type : std::int32_t {
        None = 0,
        Running = 1,
        Cancelling = 2,
        Cancelled = 3,
        Succeeded = 4,
        Failed = 5,
    };
};

struct BindingGenericEvent {
    BindingProperty data;
};

struct BindingCallbackEvent {
    std::uint32_t id = 0;
    std::vector<BindingProperty> parameters;
};

struct BindingGenericAsyncEvent {
    std::uint32_t asyncToken = 0;
    BindingProperty data;
};

struct BindingAsyncFailureEvent {
    std::uint32_t asyncToken = 0;
    std::string error;
};

struct BindingAsyncCancelEvent {
    std::uint32_t asyncToken = 0;
};

// The records of the API's self-description.
struct BindingHelpProvider {
    enum HelpFormat : std::int32_t {
        Full = 1,
        Epytext = 2,
    };

    struct FullTypeIdentifier {
        std::string type;
        std::string elementType;
    };

    struct FullArgumentHelp {
        std::string name;
        std::string description;
        FullTypeIdentifier type;
        bool optional = false;
    };

    struct FullFunctionHelp {
        std::string name;
        std::string nameSpace;
        std::vector<FullArgumentHelp> arguments;
        FullTypeIdentifier returns;
        std::string description;
        std::string help;
        bool threadSafe = false;
        std::string async;
        std::vector<std::string> tags;
    };

    struct FullEnumValueHelp {
        std::string name;
        std::string description;
        std::int32_t value = 0;
    };

    struct FullFieldHelp {
        std::string name;
        std::string description;
        std::uint32_t offset = 0;
        FullTypeIdentifier type;
        bool optional = false;
    };

    struct FullTypeHelp {
        std::string name;
        std::string nameSpace;
        std::uint32_t size = 0;
        std::string description;
        std::vector<std::string> tags;
        std::vector<FullFieldHelp> fields;
        std::vector<FullEnumValueHelp> values;
    };

    struct FullEventHelp {
        std::string name;
        std::string nameSpace;
        FullTypeIdentifier type;
        std::string description;
        std::vector<std::string> tags;
    };

    struct FullApiHelp {
        std::vector<FullFunctionHelp> functions;
        std::vector<FullTypeHelp> types;
        std::vector<FullEventHelp> events;
    };
};

// The namespace and tags of the builtin types.
inline constexpr const char* kBuiltinNameSpace = "$builtin";
inline constexpr const char* kBuiltinCallbackEvent = "OnCallback";

// Registers the fifteen builtin types and the "OnCallback" event. Names already present in the
// registry are left as they are.
void RegisterBuiltinTypes(BindingRegistry& registry);

} // namespace Korvel

KORVEL_STATIC_TYPE(enum, Korvel::BindingAsyncState::Type)
KORVEL_STATIC_TYPE(struct, Korvel::BindingGenericEvent)
KORVEL_STATIC_TYPE(struct, Korvel::BindingCallbackEvent)
KORVEL_STATIC_TYPE(struct, Korvel::BindingGenericAsyncEvent)
KORVEL_STATIC_TYPE(struct, Korvel::BindingAsyncFailureEvent)
KORVEL_STATIC_TYPE(struct, Korvel::BindingAsyncCancelEvent)
KORVEL_STATIC_TYPE(enum, Korvel::BindingHelpProvider::HelpFormat)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullTypeIdentifier)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullArgumentHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullFunctionHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullEnumValueHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullFieldHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullTypeHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullEventHelp)
KORVEL_STATIC_TYPE(struct, Korvel::BindingHelpProvider::FullApiHelp)
