#include "binding/binding_result.h"

#include <utility>

namespace Korvel {

BindingResult::BindingResult(BindingResult&& other) noexcept
    : value(std::move(other.value)), success(other.success) {
    other.success = true;
}

BindingResult& BindingResult::operator=(BindingResult&& other) noexcept {
    if (this != &other) {
        value.Take(other.value);
        success = other.success;
        other.success = true;
    }
    return *this;
}

void BindingResult::SetError(std::string_view message) {
    // The message may be a view into this very value: copy it before the value is released.
    const std::string text(message);
    value.Clear();
    success = false;
    value.Member("error").SetString(text);
}

std::string BindingResult::GetError() const {
    if (success) {
        return {};
    }
    return std::string(std::as_const(value).Member("error").GetString());
}

void BindingResult::Reset() noexcept {
    value.Clear();
    success = true;
}

} // namespace Korvel
