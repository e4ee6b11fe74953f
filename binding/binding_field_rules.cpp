#include "binding/binding_field_rules.h"

namespace Korvel::BindingFieldRulesDetail {

void ReportMissingRule(BindingResult& status, std::string_view fieldName,
                       const BindingFieldDescriptor& field) {
    std::string message = "Couldn't convert '";
    message.append(fieldName);
    message += "' of type ";
    message += FieldKindName(field.type.kind);
    message += " because no conversion rule is available.";
    status.SetError(message);
}

} // namespace Korvel::BindingFieldRulesDetail
