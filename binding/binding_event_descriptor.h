#pragma once

#include <string>
#include <vector>

namespace Korvel {

class BindingRegistry;
struct BindingTypeDescriptor;

// One registered event; owned by the registry.
struct BindingEventDescriptor {
    std::string name;                               // unique among events
    const BindingTypeDescriptor* payload = nullptr; // the data type, null for none
    std::string nameSpace;
    std::string description;
    std::vector<std::string> tags;
    BindingRegistry* registry = nullptr;
};

} // namespace Korvel
