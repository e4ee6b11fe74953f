#pragma once

// Builds the API declaration handed to the host (plugin/api_declaration.h) from a snapshot of a
// type registry: one entry per remoting function with its arguments, route and entry point, one
// per registered type with its fields or enumerators, one per registered event. Functions, types
// and events are listed in name order (byte order), so that the declaration does not depend on
// the registry's hashing.
//
// The built declaration owns copies of every text and every array it points to; they stay valid
// until it is destroyed. The plug-in object keeps it for its whole life.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plugin/api_declaration.h"
#include "plugin/function_request_records.h"

namespace Korvel {

class BindingRegistry;
struct BindingFunctionDescriptor;

// The user data of a declared function: what its entry point needs to dispatch a call.
struct DeclaredFunction {
    BindingRegistry* registry = nullptr;
    const BindingFunctionDescriptor* function = nullptr;
};

class BuiltApiDeclaration {
public:
    BuiltApiDeclaration() = default;
    BuiltApiDeclaration(const BuiltApiDeclaration&) = delete;
    BuiltApiDeclaration& operator=(const BuiltApiDeclaration&) = delete;

    // The 24-byte record for the host.
    const ApiDeclaration& Declaration() const noexcept { return declaration_; }
    // The user data recorded for a function name, or null.
    const DeclaredFunction* FindFunction(std::string_view name) const;

private:
    friend class ApiDeclarationBuilder;

    ApiDeclaration declaration_{};
    // Interned copies of the texts; deque elements never move, so their pointers stay valid.
    std::deque<std::string> texts_;
    std::unordered_map<std::string_view, const char*> textIndex_;
    std::map<std::string, DeclaredFunction, std::less<>> userData_;
    std::vector<ApiFunctionEntry> functions_;
    std::vector<ApiTypeEntry> types_;
    std::vector<ApiEventEntry> events_;
    std::deque<std::vector<ApiArgumentEntry>> arguments_;
    std::deque<std::vector<ApiArgumentLocationEntry>> locations_;
    std::deque<std::vector<ApiFieldEntry>> fields_;
    std::deque<std::vector<ApiEnumValueEntry>> values_;
    std::deque<std::vector<const char*>> textArrays_;
};

// Builds the declaration of the registry's current functions, types and events. Every function
// entry gets `entryPoint` and, as user data, the (registry, function) pair recorded under the
// function's name. (The plug-in passes the remoting dispatcher, see function_dispatch.h.)
std::unique_ptr<BuiltApiDeclaration> BuildApiDeclaration(BindingRegistry& registry,
                                                         HostFunctionEntryPoint entryPoint);

} // namespace Korvel
