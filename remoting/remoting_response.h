#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "binding/binding_result.h"
#include "remoting/content_kind.h"

namespace Korvel {

// A response body the host reads piece by piece instead of taking it as a value. The host
// releases it when it is done.
class RemotingBodyStream {
public:
    virtual ~RemotingBodyStream() = default;
    // Total size of the body in bytes.
    virtual std::uint32_t Size() const = 0;
    // Copies up to `*length` bytes starting at `position` into `buffer` and stores the number of
    // bytes copied in `*length` (0 at or beyond the end). False when the body cannot be read.
    virtual bool Read(std::uint32_t position, void* buffer, std::uint32_t* length) = 0;
};

// A body held in memory.
class BufferBodyStream final : public RemotingBodyStream {
public:
    explicit BufferBodyStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    explicit BufferBodyStream(const std::string& text) : bytes_(text.begin(), text.end()) {}

    std::uint32_t Size() const override;
    bool Read(std::uint32_t position, void* buffer, std::uint32_t* length) override;

private:
    std::vector<std::uint8_t> bytes_;
};

// What one call of a bound function produces; the function writes into it and the dispatcher
// copies it into the host's response record.
struct RemotingResponse {
    // Success with an "empty" value at first; a failure carries the message the host receives.
    BindingResult result;
    std::uint8_t flag = 0;
    ContentKind contentKind = ContentKind::Other;
    std::int32_t status = 0;
    std::string statusText;
    std::map<std::string, std::string> headers;
    std::unique_ptr<RemotingBodyStream> bodyStream;

    void Fail(std::string_view message) { result.SetError(message); }
    bool Failed() const noexcept { return !result.IsSuccess(); }
};

} // namespace Korvel
