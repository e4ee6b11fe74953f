#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace Korvel {

// Failure text of an OperationResult: either an owned string or a pointer to
// static text (which may be absent). The tag says which one is in use.
class ResultMessage {
public:
    ResultMessage() = default;
    explicit ResultMessage(std::string text) : owned_(std::move(text)), isOwned_(true) {}
    explicit ResultMessage(const char* staticText) : static_(staticText) {}

    bool IsOwned() const { return isOwned_; }
    // False only for an absent static text.
    bool IsPresent() const { return isOwned_ || static_ != nullptr; }
    // The text, or null for an absent static text.
    const char* Text() const { return isOwned_ ? owned_.c_str() : static_; }

private:
    std::string owned_;
    const char* static_ = nullptr;
    bool isOwned_ = false;
};

// Outcome of an operation that can fail. On success `code` and `message`
// carry nothing. For requests `code` is an HTTP-style status.
struct OperationResult {
    int32_t code = 0;
    ResultMessage message;
    bool failed = false;

    static OperationResult Success() { return {}; }
    static OperationResult Failure(int32_t code, std::string message) {
        return {code, ResultMessage(std::move(message)), true};
    }
    // `staticText` must outlive the result; null stands for no message.
    static OperationResult FailureWithStaticText(int32_t code, const char* staticText) {
        return {code, ResultMessage(staticText), true};
    }

    bool Succeeded() const { return !failed; }

    // "Success", "<message> (<code>)", or "" for a failure without message.
    std::string ToString() const;
};

} // namespace Korvel
