#pragma once

#include "TranslateMac/Capture/ApplicationMatch.h"
#include "TranslateMac/Capture/AudioSource.h"

#include <QString>

#include <optional>

namespace TranslateMac {

// What the sound server tells about one of its clients (or one of their playback streams).
struct SoundServerClient {
    quint32 index = 0;
    std::optional<qint32> pid; // application.process.id
    QString name; // application.name
    std::optional<QString> applicationID; // application.id
    std::optional<QString> binary; // application.process.binary

    // The identity shared by an application's helper processes.
    std::optional<QString> identity() const { return applicationID ? applicationID : binary; }

    // The process of `source`, or a helper of the same application.
    bool belongsTo(const AudioSource &source) const
    {
        return ApplicationMatch::belongsTo(pid, identity().value_or(QString()), source);
    }

    friend bool operator==(const SoundServerClient &, const SoundServerClient &) = default;
};

} // namespace TranslateMac
