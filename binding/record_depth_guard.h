#pragma once

// Counts the record rules a conversion has entered on this thread and not yet left. A native
// record type may contain itself (through a vector or a map), so the depth of a conversion
// follows the depth of its input; each conversion direction keeps its own counter and refuses to
// go deeper than the decoders' nesting limit instead of exhausting the stack.

#include <cstddef>

#include "encoding/decode_limits.h"

namespace Korvel {

class RecordDepthGuard {
public:
    explicit RecordDepthGuard(std::size_t& depth) noexcept : depth_(depth) { ++depth_; }
    ~RecordDepthGuard() { --depth_; }
    RecordDepthGuard(const RecordDepthGuard&) = delete;
    RecordDepthGuard& operator=(const RecordDepthGuard&) = delete;

    bool TooDeep() const noexcept { return depth_ > DecodeLimits::kMaxNestingDepth; }

private:
    std::size_t& depth_;
};

} // namespace Korvel
