#include "remoting/function_dispatch.h"

#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <span>
#include <string>
#include <unordered_map>

#include "binding/binding_registry.h"
#include "binding/host_value_conversion.h"
#include "diagnostics/allocation.h"
#include "diagnostics/format_message.h"
#include "remoting/api_declaration_builder.h"
#include "remoting/argument_binding.h"
#include "remoting/remoting_invoker.h"
#include "remoting/remoting_request.h"
#include "remoting/resource_getter.h"

namespace Korvel {

namespace {

constexpr const char* kUnknownArgument = "Unknown argument '%1' for '%2'.";

std::string_view TextOrEmpty(const char* text) noexcept {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// Why a request record cannot be read, or the empty text when it can.
std::string CheckRequestRecord(const HostFunctionRequest& request) {
    if (request.path == nullptr) {
        return "Malformed request: the path is missing";
    }
    if (request.headerCount != 0 && request.headers == nullptr) {
        return FormatMessage("Malformed request: %1 headers without a header list",
                             +request.headerCount);
    }
    for (std::uint32_t i = 0; i < request.headerCount; ++i) {
        if (request.headers[i].name == nullptr) {
            return FormatMessage("Malformed request: header %1 has no name", i);
        }
    }
    if (request.argumentCount != 0 && request.arguments == nullptr) {
        return FormatMessage("Malformed request: %1 arguments without an argument list",
                             +request.argumentCount);
    }
    if (request.bodyLength != 0 && request.body == nullptr) {
        return FormatMessage("Malformed request: %1 body bytes without a body",
                             +request.bodyLength);
    }
    return {};
}

char* CopyText(std::string_view text) {
    char* copy = static_cast<char*>(Allocate(text.size() + 1));
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void SetTextValue(HostValue& value, std::string_view text) {
    value = MakeEmptyHostValue();
    value.payload.text.data = CopyText(text);
    value.payload.text.length = static_cast<std::uint32_t>(text.size());
    value.kind = static_cast<std::uint32_t>(HostValueKind::OwnedText);
}

bool KORVEL_CDECL ReadBodyStream(void* stream, std::uint32_t position, void* buffer,
                                 std::uint32_t* length) {
    if (stream == nullptr) {
        return false;
    }
    try {
        return static_cast<RemotingBodyStream*>(stream)->Read(position, buffer, length);
    } catch (...) {
        return false;
    }
}

// Converts a host argument into its argument; `error` receives the conversion's message.
bool ConvertHostValue(BindingProperty& target, const HostValue& source, std::string_view name,
                      std::string& error) {
    HostValueResult result;
    if (FromHostValue(result, target, source, name)) {
        return true;
    }
    error = result.Message();
    return false;
}

void KORVEL_CDECL ReleaseBodyStream(void* stream) {
    delete static_cast<RemotingBodyStream*>(stream);
}

// Step 2: the header values of parameters that may come from a header.
ArgumentTexts CollectHeaderValues(const HostFunctionRequest& request,
                                  const BindingFunctionDescriptor& function) {
    std::unordered_map<std::string_view, std::string_view> headers;
    for (std::uint32_t i = 0; i < request.headerCount; ++i) {
        headers.insert_or_assign(std::string_view(request.headers[i].name),
                                 TextOrEmpty(request.headers[i].value));
    }
    ArgumentTexts values;
    if (headers.empty()) {
        return values;
    }
    for (const BindingParameterDescriptor& parameter : function.parameters) {
        const ArgumentLocation location = ParameterLocation(parameter);
        if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) {
            continue;
        }
        if (const auto found = headers.find(LowerAscii(parameter.name)); found != headers.end()) {
            values.insert_or_assign(parameter.name, std::string(found->second));
        }
    }
    return values;
}

void ApplyTexts(BindingResult& result, std::vector<BindingProperty>& arguments,
                const BindingFunctionDescriptor& function, const ArgumentTexts& texts,
                ArgumentLocation source, DottedKeyBudget& budget) {
    for (const auto& [key, value] : texts) {
        if (!AssignByKey(result, arguments, function, key, value, source, budget)) {
            return;
        }
    }
}

// Step 5: the host's own argument list.
void ApplyHostArguments(BindingResult& result, std::vector<BindingProperty>& arguments,
                        const BindingFunctionDescriptor& function,
                        const HostFunctionRequest& request, std::size_t captureCount) {
    for (std::uint32_t i = 0; i < request.argumentCount && result.IsSuccess(); ++i) {
        const HostArgument& entry = request.arguments[i];
        std::size_t index = 0;
        std::string name;
        if (entry.name != nullptr) {
            name = entry.name;
            index = FindParameter(function, name);
        } else {
            index = i + captureCount;
            name = std::to_string(index);
        }
        if (index >= function.parameters.size()) {
            result.SetError(FormatMessage(kUnknownArgument, name, function.name));
            return;
        }
        BindingProperty& argument = arguments[index];
        argument.Clear();
        std::string error;
        if (!ConvertHostValue(argument, entry.value, function.parameters[index].name, error)) {
            result.SetError(error);
            return;
        }
    }
}

// Step 7: the call through the function's invoker.
void Invoke(RemotingResponse& response, std::vector<BindingProperty>& arguments,
            const BindingFunctionDescriptor& function, const HostFunctionRequest& request,
            const RouteMatch& match, BindingRegistry* registry, std::int64_t received,
            HostFunctionResponse* record) {
    BindingFunctionInvoker* invoker = function.invoker.get();
    if (auto* remoting = dynamic_cast<RemotingInvoker*>(invoker); remoting != nullptr) {
        void* handle = remoting->Prepare(response, arguments, request.token);
        try {
            if (!response.Failed()) {
                const std::uint32_t requestType = remoting->RequestTypeHash();
                if (requestType != 0 &&
                    (requestType == StaticType::HashCode<RemotingRequest>() ||
                     requestType == StaticType::HashCode<HttpBaseTransport::Request>())) {
                    HttpBaseTransport::Request call;
                    call.token = request.token;
                    call.api = registry;
                    call.received = received;
                    call.method = match.method;
                    if (match.method == HttpMethod::Custom) {
                        call.methodText = match.methodText;
                    }
                    call.path = match.path;
                    call.arguments = std::move(arguments);
                    for (std::uint32_t i = 0; i < request.headerCount; ++i) {
                        call.SetHeader(request.headers[i].name,
                                       std::string(TextOrEmpty(request.headers[i].value)));
                    }
                    remoting->Invoke(response, &call, handle, request.token);
                } else {
                    remoting->Invoke(response, nullptr, handle, request.token);
                }
            }
            CopyResponseToHost(record, response, registry);
        } catch (...) {
            remoting->Release(handle);
            throw;
        }
        remoting->Release(handle);
        return;
    }
    if (auto* getter = dynamic_cast<ResourceGetterInvoker*>(invoker);
        getter != nullptr && registry != nullptr) {
        getter->Invoke(response.result, *registry);
    } else {
        response.Fail(FormatMessage("Function '%1' cannot be called", function.name));
        response.status = 501;
    }
    CopyResponseToHost(record, response, registry);
}

constexpr const char kUnexpectedFailure[] = "Unexpected failure";

// The failure of a call whose failure message could not even be copied (memory is exhausted):
// the message is lent from static text, which the record's release function leaves alone, and
// the record keeps that release function, as the host calls it for every response.
void FailWithoutMemory(HostFunctionResponse* record) noexcept {
    std::memset(record, 0, sizeof(*record));
    record->value.kind = static_cast<std::uint32_t>(HostValueKind::BorrowedText);
    record->value.payload.text.data = kUnexpectedFailure;
    record->value.payload.text.length = sizeof(kUnexpectedFailure) - 1;
    record->status = 500;
    record->release = &ReleaseFunctionResponse;
}

} // namespace

void FailHostResponse(HostFunctionResponse* record, std::string_view message, std::int32_t status) {
    RemotingResponse response;
    response.Fail(message);
    response.status = status;
    CopyResponseToHost(record, response, nullptr);
}

void CopyResponseToHost(HostFunctionResponse* record, RemotingResponse& response,
                        const BindingRegistry* registry) {
    if (record == nullptr) {
        return;
    }
    std::memset(record, 0, sizeof(*record));
    record->release = &ReleaseFunctionResponse;
    try {
        if (response.Failed()) {
            SetTextValue(record->value, response.result.GetError());
        } else {
            ToHostValue(record->value, response.result.value, registry);
        }
        record->flag = response.flag;
        record->contentKind = static_cast<std::uint32_t>(
            ContentKindForHost(static_cast<std::uint32_t>(response.contentKind)));
        record->status = response.status;
        record->statusText = CopyText(response.statusText);
        if (!response.headers.empty()) {
            auto* headers = static_cast<HostHeaderEntry*>(
                Allocate(response.headers.size() * sizeof(HostHeaderEntry)));
            if (headers == nullptr) {
                throw std::bad_alloc();
            }
            std::memset(headers, 0, response.headers.size() * sizeof(HostHeaderEntry));
            record->headers = headers;
            for (const auto& [name, value] : response.headers) {
                HostHeaderEntry& entry = headers[record->headerCount];
                entry.name = CopyText(name);
                ++record->headerCount;
                entry.value = CopyText(value);
            }
        }
    } catch (...) {
        ReleaseFunctionResponse(record);
        throw;
    }
    if (response.bodyStream) {
        record->bodySize = response.bodyStream->Size();
        record->bodyPosition = 0;
        record->read = &ReadBodyStream;
        record->releaseStream = &ReleaseBodyStream;
        record->bodyStream = response.bodyStream.release();
    }
}

void KORVEL_CDECL ReleaseFunctionResponse(HostFunctionResponse* record) {
    if (record == nullptr) {
        return;
    }
    ReleaseHostValue(record->value);
    Free(const_cast<char*>(record->statusText));
    record->statusText = nullptr;
    if (record->headers != nullptr) {
        for (std::uint32_t i = 0; i < record->headerCount; ++i) {
            Free(const_cast<char*>(record->headers[i].name));
            Free(const_cast<char*>(record->headers[i].value));
        }
        Free(const_cast<HostHeaderEntry*>(record->headers));
    }
    record->headers = nullptr;
    record->headerCount = 0;
}

void CallFunction(HostFunctionResponse* response, const HostFunctionRequest& request,
                  const RouteMatch& match, BindingRegistry* registry) {
    const std::int64_t received = RequestArrivalTicks();
    const BindingFunctionDescriptor& function = *match.function;
    RemotingResponse outcome;
    BindingResult& result = outcome.result;

    std::vector<BindingProperty> arguments = InitialArguments(function);
    const ArgumentTexts headerValues = CollectHeaderValues(request, function);
    const ArgumentTexts queryValues = ParseQuery(match.path);
    const ArgumentTexts captures(match.captures.begin(), match.captures.end());

    // One element budget for the dotted keys of all three sources.
    DottedKeyBudget budget;
    ApplyTexts(result, arguments, function, headerValues, ArgumentLocation::Header, budget);
    ApplyTexts(result, arguments, function, captures, ArgumentLocation::Path, budget);
    ApplyTexts(result, arguments, function, queryValues, ArgumentLocation::Query, budget);
    ApplyHostArguments(result, arguments, function, request, match.captures.size());

    if (request.body != nullptr && request.bodyLength != 0) {
        DecodeBody(result, arguments, function, TextOrEmpty(request.contentType),
                   std::span<const std::uint8_t>(request.body, request.bodyLength));
    }

    if (outcome.Failed()) {
        CopyResponseToHost(response, outcome, registry);
        return;
    }
    Invoke(outcome, arguments, function, request, match, registry, received, response);
}

void DispatchToFunction(HostFunctionResponse* response, const HostFunctionRequest& request,
                        const BindingFunctionDescriptor& function, BindingRegistry* registry) {
    if (std::string malformed = CheckRequestRecord(request); !malformed.empty()) {
        FailHostResponse(response, malformed, kMalformedRequestStatus);
        return;
    }
    RouteMatch match;
    match.method = HttpMethodFromHost(static_cast<std::int32_t>(request.method));
    if (match.method == HttpMethod::Custom) {
        match.methodText = TextOrEmpty(request.methodText);
    }
    // The route is matched against the whole path as the host gave it, query part included:
    // where the path ends and the query begins is the host's choice, not the dispatcher's.
    match.path = request.path;
    if (!MatchFunctionRoute(match, function)) {
        FailHostResponse(response, kInvalidFunctionMessage, kInvalidFunctionStatus);
        return;
    }
    CallFunction(response, request, match, registry);
}

void KORVEL_CDECL DispatchFunctionRequest(HostFunctionResponse* response,
                                          const HostFunctionRequest* request) {
    if (response == nullptr) {
        return;
    }
    try {
        const auto* declared =
            request != nullptr ? static_cast<const DeclaredFunction*>(request->userData) : nullptr;
        if (declared == nullptr || declared->function == nullptr) {
            FailHostResponse(response, kInvalidFunctionMessage, kInvalidFunctionStatus);
            return;
        }
        DispatchToFunction(response, *request, *declared->function, declared->registry);
    } catch (const std::exception& failure) {
        try {
            FailHostResponse(response, failure.what(), 500);
        } catch (...) {
            FailWithoutMemory(response);
        }
    } catch (...) {
        try {
            FailHostResponse(response, kUnexpectedFailure, 500);
        } catch (...) {
            FailWithoutMemory(response);
        }
    }
}

std::unique_ptr<BuiltApiDeclaration> BuildPluginApiDeclaration(BindingRegistry& registry) {
    return BuildApiDeclaration(registry, &DispatchFunctionRequest);
}

} // namespace Korvel
