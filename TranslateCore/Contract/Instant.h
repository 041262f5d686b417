#pragma once

#include <QtGlobal>

#include <chrono>

namespace TranslateCore {

// A point in wall-clock time (service times are milliseconds since 1970 UTC).
using Instant = std::chrono::system_clock::time_point;

inline Instant instantFromEpochMilliseconds(qint64 ms)
{
    return Instant(std::chrono::milliseconds(ms));
}

} // namespace TranslateCore
