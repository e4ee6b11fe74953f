#include "remoting/remoting_response.h"

#include <cstring>
#include <limits>

namespace Korvel {

std::uint32_t BufferBodyStream::Size() const {
    // Bodies handed to the host are described with 32-bit sizes.
    constexpr std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(bytes_.size() < limit ? bytes_.size() : limit);
}

bool BufferBodyStream::Read(std::uint32_t position, void* buffer, std::uint32_t* length) {
    if (length == nullptr || (buffer == nullptr && *length != 0)) {
        return false;
    }
    const std::uint32_t size = Size();
    const std::uint32_t available = position < size ? size - position : 0;
    const std::uint32_t count = *length < available ? *length : available;
    if (count != 0) {
        std::memcpy(buffer, bytes_.data() + position, count);
    }
    *length = count;
    return true;
}

} // namespace Korvel
