#include "remoting/remoting_request.h"

#include <chrono>
#include <ratio>

namespace Korvel {

std::int64_t RequestArrivalTicks() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace Korvel
