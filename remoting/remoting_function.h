#pragma once

// Bound functions that take their arguments from requests: a callable registered with its
// parameters, their locations and its route.
//
//     RegisterRemotingFunction(registry, "GetItem", "/items/{id}", HttpMethod::Get,
//         {{"id", ArgumentLocation::Path}, {"verbose", ArgumentLocation::Query}},
//         [](std::uint32_t id, bool verbose) { return FindItem(id, verbose); }, tags);
//
// The callable's leading parameters may be the call's RemotingResponse (to set a status,
// headers or a body stream) and then the request record (`const RemotingRequest&` or
// `const HttpBaseTransport::Request&`); every other parameter is a bound parameter, described by
// one RemotingParameter in the same order, converted from its argument with the registry's
// descriptors (FromProperty) before the call. A `std::optional<T>` parameter is optional: without
// a value it stays empty. The result, unless void, is converted into the response's result
// (ToProperty); a BindingResult result is taken as it is.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/convert_to_property.h"
#include "diagnostics/operation_result.h"
#include "remoting/argument_location.h"
#include "remoting/http_method.h"
#include "remoting/remoting_invoker.h"
#include "remoting/remoting_request.h"

namespace Korvel {

// Declaration of one bound parameter.
struct RemotingParameter {
    RemotingParameter(const char* parameterName,
                      ArgumentLocation parameterLocation = ArgumentLocation::Any,
                      const char* parameterDescription = "")
        : name(parameterName), location(parameterLocation), description(parameterDescription) {}

    const char* name;
    ArgumentLocation location;
    const char* description;
};

namespace RemotingFunctionDetail {

template <typename T>
inline constexpr bool kIsRequestRecord =
    std::is_same_v<std::remove_cvref_t<T>, RemotingRequest> ||
    std::is_same_v<std::remove_cvref_t<T>, HttpBaseTransport::Request>;

template <typename T>
inline constexpr bool kIsResponse = std::is_same_v<T, RemotingResponse&>;

// The shape of a callable's parameter list: whether it takes the response, which request record
// it takes (void for none) and the native types of its bound parameters.
template <bool TakesResponse, typename Request, typename... Params>
struct Shape {
    static constexpr bool kTakesResponse = TakesResponse;
    using RequestType = Request;
    using Arguments = std::tuple<std::remove_cvref_t<Params>...>;
    static constexpr std::size_t kCount = sizeof...(Params);
};

template <bool TakesResponse, typename... A>
struct AfterResponse {
    using Type = Shape<TakesResponse, void, A...>;
};
template <bool TakesResponse, typename First, typename... Rest>
requires kIsRequestRecord<First>
struct AfterResponse<TakesResponse, First, Rest...> {
    using Type = Shape<TakesResponse, std::remove_cvref_t<First>, Rest...>;
};

template <typename... A>
struct ShapeOf {
    using Type = typename AfterResponse<false, A...>::Type;
};
template <typename First, typename... Rest>
requires kIsResponse<First>
struct ShapeOf<First, Rest...> {
    using Type = typename AfterResponse<true, Rest...>::Type;
};

template <typename F>
struct Signature;
template <typename R, typename... A>
struct Signature<R(A...)> {
    using Result = R;
    using Function = std::function<R(A...)>;
    using ShapeType = typename ShapeOf<A...>::Type;
};

template <typename T>
struct CallableSignature : CallableSignature<decltype(&T::operator())> {};
template <typename R, typename... A>
struct CallableSignature<R (*)(A...)> {
    using Type = R(A...);
};
template <typename C, typename R, typename... A>
struct CallableSignature<R (C::*)(A...) const> {
    using Type = R(A...);
};
template <typename C, typename R, typename... A>
struct CallableSignature<R (C::*)(A...)> {
    using Type = R(A...);
};

} // namespace RemotingFunctionDetail

// Registers a function descriptor with the given parameters, invoker, return type, route and
// tags; the non-template part of RegisterRemotingFunction.
OperationResult RegisterRemotingFunctionDescriptor(
    BindingRegistry& registry, const char* name, std::string_view path, HttpMethod method,
    std::vector<BindingParameterDescriptor> parameters, std::unique_ptr<RemotingInvoker> invoker,
    BindingTypeRef returns, const std::vector<std::string>& tags);

template <typename SignatureType>
class RemotingFunctionInvoker final : public RemotingInvoker {
public:
    using Traits = RemotingFunctionDetail::Signature<SignatureType>;
    using Result = typename Traits::Result;
    using ShapeType = typename Traits::ShapeType;
    using Arguments = typename ShapeType::Arguments;
    using RequestType = typename ShapeType::RequestType;

    // The declared return type: none for void and for a BindingResult.
    static BindingTypeRef ReturnType(const BindingRegistry& registry) {
        if constexpr (std::is_void_v<Result> ||
                      std::is_same_v<std::remove_cvref_t<Result>, BindingResult>) {
            return {};
        } else {
            return NativeTypeRef<std::remove_cvref_t<Result>>(registry);
        }
    }

    RemotingFunctionInvoker(const BindingRegistry& registry, std::vector<std::string> names,
                            typename Traits::Function function)
        : registry_(registry), names_(std::move(names)), function_(std::move(function)) {}

    static constexpr std::size_t kParameterCount = ShapeType::kCount;

    // The type references of the bound parameters, in order.
    static std::vector<BindingTypeRef> ParameterTypes(const BindingRegistry& registry) {
        return TypesOf(registry, std::make_index_sequence<kParameterCount>());
    }
    static std::vector<bool> ParameterOptional() {
        return OptionalOf(std::make_index_sequence<kParameterCount>());
    }

    void* Prepare(RemotingResponse& response, std::vector<BindingProperty>& arguments,
                  std::uint32_t) override {
        auto native = std::make_unique<Arguments>();
        BindingResult status;
        ConvertAll(status, *native, arguments, std::make_index_sequence<kParameterCount>());
        if (!status.IsSuccess()) {
            response.result = std::move(status);
        }
        return native.release();
    }

    std::uint32_t RequestTypeHash() const override {
        if constexpr (std::is_void_v<RequestType>) {
            return 0;
        } else {
            return StaticType::HashCode<RequestType>();
        }
    }

    void Invoke(RemotingResponse& response, const RemotingRequest* request, void* handle,
                std::uint32_t) override {
        if (handle == nullptr) {
            response.Fail("The arguments were not prepared");
            return;
        }
        if constexpr (!std::is_void_v<RequestType>) {
            if (request == nullptr) {
                response.Fail("The function needs the request record");
                return;
            }
        }
        Arguments& native = *static_cast<Arguments*>(handle);
        if constexpr (std::is_void_v<Result>) {
            Call(response, request, native);
        } else if constexpr (std::is_same_v<std::remove_cvref_t<Result>, BindingResult>) {
            response.result = Call(response, request, native);
        } else {
            const Result value = Call(response, request, native);
            if (response.Failed()) {
                return;
            }
            BindingResult converted;
            ToProperty(converted, value, registry_);
            response.result = std::move(converted);
        }
    }

    void Release(void* handle) override { delete static_cast<Arguments*>(handle); }

private:
    template <std::size_t... I>
    static std::vector<BindingTypeRef> TypesOf(const BindingRegistry& registry,
                                               std::index_sequence<I...>) {
        return {NativeTypeRef<std::tuple_element_t<I, Arguments>>(registry)...};
    }
    template <std::size_t... I>
    static std::vector<bool> OptionalOf(std::index_sequence<I...>) {
        return {IsNativeOptional<std::tuple_element_t<I, Arguments>>()...};
    }

    template <std::size_t... I>
    void ConvertAll(BindingResult& status, Arguments& native,
                    const std::vector<BindingProperty>& arguments, std::index_sequence<I...>) {
        (ConvertOne<I>(status, native, arguments), ...);
    }

    template <std::size_t I>
    void ConvertOne(BindingResult& status, Arguments& native,
                    const std::vector<BindingProperty>& arguments) {
        if (!status.IsSuccess()) {
            return;
        }
        const BindingProperty& input =
            I < arguments.size() ? arguments[I] : BindingProperty::EmptyValue();
        const std::string_view name = I < names_.size() ? std::string_view(names_[I]) : "<value>";
        FromProperty(status, std::get<I>(native), input, name, registry_);
    }

    decltype(auto) Call(RemotingResponse& response, const RemotingRequest* request,
                        Arguments& native) {
        return std::apply(
            [&](auto&... parameters) -> Result {
                if constexpr (ShapeType::kTakesResponse && !std::is_void_v<RequestType>) {
                    return function_(response, static_cast<const RequestType&>(*request),
                                     parameters...);
                } else if constexpr (ShapeType::kTakesResponse) {
                    return function_(response, parameters...);
                } else if constexpr (!std::is_void_v<RequestType>) {
                    return function_(static_cast<const RequestType&>(*request), parameters...);
                } else {
                    return function_(parameters...);
                }
            },
            native);
    }

    const BindingRegistry& registry_;
    std::vector<std::string> names_;
    typename Traits::Function function_;
};

// Registers `callable` as the function `name` with the given parameters, route and tags. An
// empty path leaves the function reachable by name only. A function of that name registered
// before is left as it is. Refused: a parameter list whose length differs from the callable's
// bound parameters, and a malformed route path.
template <typename Callable>
OperationResult
RegisterRemotingFunction(BindingRegistry& registry, const char* name, std::string_view path,
                         HttpMethod method, std::initializer_list<RemotingParameter> parameters,
                         Callable callable, const std::vector<std::string>& tags = {}) {
    using SignatureType = typename RemotingFunctionDetail::CallableSignature<Callable>::Type;
    using Invoker = RemotingFunctionInvoker<SignatureType>;
    if (parameters.size() != Invoker::kParameterCount) {
        return OperationResult::Failure(
            400, "The parameter list does not match the function's parameters");
    }
    const std::vector<BindingTypeRef> types = Invoker::ParameterTypes(registry);
    const std::vector<bool> optional = Invoker::ParameterOptional();
    std::vector<BindingParameterDescriptor> descriptors;
    std::vector<std::string> names;
    std::size_t index = 0;
    for (const RemotingParameter& parameter : parameters) {
        BindingParameterDescriptor& descriptor = descriptors.emplace_back();
        descriptor.name = parameter.name != nullptr ? parameter.name : "";
        descriptor.description = parameter.description != nullptr ? parameter.description : "";
        descriptor.optional = optional[index];
        descriptor.type = types[index];
        descriptor.location = static_cast<std::int32_t>(parameter.location);
        names.push_back(descriptor.name);
        ++index;
    }
    return RegisterRemotingFunctionDescriptor(
        registry, name, path, method, std::move(descriptors),
        std::make_unique<Invoker>(registry, std::move(names),
                                  typename Invoker::Traits::Function(std::move(callable))),
        Invoker::ReturnType(registry), tags);
}

} // namespace Korvel
