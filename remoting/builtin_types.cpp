#include "remoting/builtin_types.h"

#include <cstddef>

#include "binding/binding_registry.h"

namespace Korvel {

namespace {

using Help = BindingHelpProvider;

void RegisterHelpTypes(BindingRegistry& registry) {
    registry.RegisterEnum<Help::HelpFormat>("BindingHelpFormat")
        .SetDescription("Help format for binding functions and types.")
        .AddTags({kBuiltinNameSpace, "help"})
        .AddValue("Full", Help::Full, "Native help format")
        .AddValue("Epytext", Help::Epytext, "Python epytext format");

    {
        auto type = registry.RegisterStruct<Help::FullTypeIdentifier>("BindingFullTypeIdentifier");
        type.SetDescription("Describes the type of a value.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullTypeIdentifier, type, "type", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeIdentifier, elementType, "elementType", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullArgumentHelp>("BindingFullArgumentHelp");
        type.SetDescription("Describes a function parameter.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullArgumentHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullArgumentHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullArgumentHelp, type, "type", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullArgumentHelp, optional, "optional", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullFunctionHelp>("BindingFullFunctionHelp");
        type.SetDescription("Describes a function.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, nameSpace, "nameSpace", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, arguments, "arguments", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, returns, "returns", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, help, "help", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, threadSafe, "threadSafe", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, async, "async", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFunctionHelp, tags, "tags", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullEnumValueHelp>("BindingFullEnumValueHelp");
        type.SetDescription("Describes an enumerator.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullEnumValueHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEnumValueHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEnumValueHelp, value, "value", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullFieldHelp>("BindingFullFieldHelp");
        type.SetDescription("Describes a member of a struct.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullFieldHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFieldHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFieldHelp, offset, "offset", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFieldHelp, type, "type", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullFieldHelp, optional, "optional", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullTypeHelp>("BindingFullTypeHelp");
        type.SetDescription("Describes a struct or enum type.")
            .AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, nameSpace, "nameSpace", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, size, "size", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, tags, "tags", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, fields, "fields", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullTypeHelp, values, "values", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullEventHelp>("BindingFullEventHelp");
        type.SetDescription("Describes an event.").AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullEventHelp, name, "name", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEventHelp, nameSpace, "nameSpace", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEventHelp, type, "type", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEventHelp, description, "description", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullEventHelp, tags, "tags", "", 0);
    }
    {
        auto type = registry.RegisterStruct<Help::FullApiHelp>("BindingFullApiHelp");
        type.SetDescription("Describes the exposed native API.")
            .AddTags({kBuiltinNameSpace, "help"});
        KORVEL_BINDING_FIELD(type, Help::FullApiHelp, functions, "functions", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullApiHelp, types, "types", "", 0);
        KORVEL_BINDING_FIELD(type, Help::FullApiHelp, events, "events", "", 0);
    }
}

void RegisterAsyncTypes(BindingRegistry& registry) {
    registry.RegisterEnum<BindingAsyncState::Type>("BindingAsyncState")
        .SetDescription("Possible states of an asynchronous operation.")
        .AddTags({kBuiltinNameSpace, "async"})
        .AddValue("None", BindingAsyncState::None, "Invalid state")
        .AddValue("Running", BindingAsyncState::Running, "The operation is in flight")
        .AddValue("Cancelling", BindingAsyncState::Cancelling,
                  "A request to cancel the operation has been made")
        .AddValue("Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled")
        .AddValue("Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully")
        .AddValue("Failed", BindingAsyncState::Failed, "The operation encountered an error");

    {
        auto type = registry.RegisterStruct<BindingGenericEvent>("BindingGenericEvent");
        type.SetDescription("Represents generic data for an event.").AddTag(kBuiltinNameSpace);
        KORVEL_BINDING_FIELD(type, BindingGenericEvent, data, "data", "Event data", 0);
    }
    {
        auto type = registry.RegisterStruct<BindingCallbackEvent>("BindingCallbackEvent");
        type.SetDescription("Represents the parameters of a call to a provided callback.")
            .AddTag(kBuiltinNameSpace);
        KORVEL_BINDING_FIELD(type, BindingCallbackEvent, id, "id",
                             "ID of the callback being invoked", 0);
        KORVEL_BINDING_FIELD(type, BindingCallbackEvent, parameters, "parameters",
                             "Callback parameters", 0);
    }
    {
        auto type = registry.RegisterStruct<BindingGenericAsyncEvent>("BindingGenericAsyncEvent");
        type.SetDescription("Represents generic data for an asynchronous event.")
            .AddTags({kBuiltinNameSpace, "async"});
        KORVEL_BINDING_FIELD(type, BindingGenericAsyncEvent, asyncToken, "asyncToken",
                             "Asynchronous operation token", 0);
        KORVEL_BINDING_FIELD(type, BindingGenericAsyncEvent, data, "data", "Event data", 0);
    }
    {
        auto type = registry.RegisterStruct<BindingAsyncFailureEvent>("BindingAsyncFailureEvent");
        type.SetDescription("Represents a failed asynchronous operation.")
            .AddTags({kBuiltinNameSpace, "async"});
        KORVEL_BINDING_FIELD(type, BindingAsyncFailureEvent, asyncToken, "asyncToken",
                             "Asynchronous operation token", 0);
        KORVEL_BINDING_FIELD(type, BindingAsyncFailureEvent, error, "error", "Error message", 0);
    }
    {
        auto type = registry.RegisterStruct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent");
        type.SetDescription("Represents a cancelled asynchronous operation.")
            .AddTags({kBuiltinNameSpace, "async"});
        KORVEL_BINDING_FIELD(type, BindingAsyncCancelEvent, asyncToken, "asyncToken",
                             "Asynchronous operation token", 0);
    }
}

} // namespace

void RegisterBuiltinTypes(BindingRegistry& registry) {
    RegisterHelpTypes(registry);
    RegisterAsyncTypes(registry);
    registry.RegisterEvent(kBuiltinCallbackEvent, registry.FindType<BindingCallbackEvent>())
        .SetDescription("Fired when a callback is invoked.")
        .AddTag(kBuiltinNameSpace);
}

} // namespace Korvel
