#include "binding/binding_result.h"

#include <new>
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
    try {
        // The message may be a view into this very value: copy it before the value is released.
        const std::string text(message);
        value.Clear();
        success = false;
        value.Member("error").SetString(text);
    } catch (const std::bad_alloc&) {
        // Failures are most often reported when memory has run out: the failure still stands,
        // without its message, rather than leaving the caller with an exception it does not
        // expect or a result that reads as a success.
        value.Clear();
        success = false;
    }
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
