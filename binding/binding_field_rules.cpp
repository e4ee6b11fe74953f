#include "binding/binding_field_rules.h"

namespace Korvel {

// Converters that do not build into a target directly convert into an output of their own and
// move it into place.
void BindingFieldConverter::ToPropertyInto(BindingResult& status, BindingProperty& target,
                                           const void* source, const BindingFieldDescriptor& field,
                                           const BindingRegistry& registry) const {
    if (!status.IsSuccess()) {
        return;
    }
    BindingResult own;
    ToProperty(own, source, field, registry);
    if (!own.IsSuccess()) {
        status.SetError(own.GetError());
        return;
    }
    target.Take(own.value);
}

} // namespace Korvel
