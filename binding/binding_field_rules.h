#pragma once

// Conversion rules per native field type, used by BindingFieldConverterFor<T>.
//
// Until the native <-> dynamic conversion rules are in place, every field conversion reports a
// failure naming the field and its kind, so that a missing rule can never pass for a successful
// conversion.

#include <string>
#include <string_view>

#include "binding/binding_field_converter.h"

namespace Korvel {

namespace BindingFieldRulesDetail {
void ReportMissingRule(BindingResult& status, std::string_view fieldName,
                       const BindingFieldDescriptor& field);
} // namespace BindingFieldRulesDetail

template <typename T>
struct BindingFieldRules {
    static void FromProperty(BindingResult& status, T&, const BindingProperty&,
                             std::string_view fieldName, const BindingFieldDescriptor& field,
                             const BindingRegistry&) {
        if (status.IsSuccess()) {
            BindingFieldRulesDetail::ReportMissingRule(status, fieldName, field);
        }
    }
    static void ToProperty(BindingResult& output, const T&, const BindingFieldDescriptor& field,
                           const BindingRegistry&) {
        if (output.IsSuccess()) {
            BindingFieldRulesDetail::ReportMissingRule(output, field.name, field);
        }
    }
};

} // namespace Korvel
