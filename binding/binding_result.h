#pragma once

// BindingResult: a BindingProperty plus a success flag. Converters and decoders return one. A
// failure is the value {"error": message}. Each step of a conversion tests the flag first and does
// nothing once it is clear, so the first failure's message is the one reported.

#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Korvel {

class BindingResult {
public:
    // "empty" value, success set.
    BindingResult() noexcept = default;
    // Deep copy of the value, success set.
    explicit BindingResult(const BindingProperty& content) : value(content) {}
    // Takes the value (Take) and the flag; the source is left "empty" and successful.
    BindingResult(BindingResult&& other) noexcept;
    BindingResult& operator=(BindingResult&& other) noexcept;
    // Deep copy of value and flag.
    BindingResult(const BindingResult& other) = default;
    BindingResult& operator=(const BindingResult& other) = default;

    bool IsSuccess() const noexcept { return success; }

    // Releases the value, clears the flag and makes the value {"error": message}. When memory is
    // exhausted the flag is still cleared and the value is left "empty" (GetError gives "").
    void SetError(std::string_view message);
    // The empty string when successful; otherwise the "error" member's text when it is a
    // "string", else the empty string.
    std::string GetError() const;
    // Releases the value and sets the flag.
    void Reset() noexcept;

    BindingProperty value;
    bool success = true;
};

} // namespace Korvel
