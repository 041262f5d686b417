#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

namespace TranslateCore {

// A point in wall-clock time (service times are milliseconds since 1970 UTC).
using Instant = std::chrono::system_clock::time_point;

// The instant `ms` milliseconds after 1970, or nothing when the clock cannot hold it (some 292
// years either side of 1970): such a time is refused, never wrapped around.
inline std::optional<Instant> instantFromEpochMilliseconds(qint64 ms)
{
    constexpr qint64 limit
        = std::chrono::duration_cast<std::chrono::milliseconds>(Instant::duration::max()).count();
    if (ms > limit || ms < -limit)
        return std::nullopt;
    return Instant(std::chrono::milliseconds(ms));
}

} // namespace TranslateCore
