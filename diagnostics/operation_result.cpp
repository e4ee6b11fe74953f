#include "diagnostics/operation_result.h"

#include "diagnostics/format_message.h"

namespace Korvel {

std::string OperationResult::ToString() const {
    if (!failed) {
        return "Success";
    }
    const char* text = message.Text();
    if (text == nullptr) {
        return std::string();
    }
    return FormatMessage("%1 (%2)", text, code);
}

} // namespace Korvel
