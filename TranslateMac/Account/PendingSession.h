#pragma once

#include "TranslateCore/Contract/Instant.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace TranslateMac {

// A session created on the service whose settlement has not been confirmed yet. It is recorded
// before anything else is done with the session, so that a process ended by a signal, a crash or
// a power cut still knows at the next launch what the service is billing.
struct PendingSession {
    qint64 sessionId = 0; // the service's id, greater than 0
    QString routeCode; // the direction it was created for; empty when a stored one was unreadable
    // When it was created; nothing when a stored time was unreadable.
    std::optional<TranslateCore::Instant> startedAt;

    friend bool operator==(const PendingSession &, const PendingSession &) = default;
};

} // namespace TranslateMac
