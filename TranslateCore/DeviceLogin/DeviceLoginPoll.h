#pragma once

#include "TranslateCore/Contract/Credentials.h"

#include <QJsonObject>

#include <iosfwd>
#include <optional>

namespace TranslateCore {

// The outcome of one poll of a QR sign-in challenge.
struct DeviceLoginPoll {
    enum class Kind {
        pending, // not decided; `interval` is the polling interval the service asked for, if any
        authorized, // the phone approved; `credentials` is the new sign-in
        expired, // ran out, cancelled or already used
        rejected, // the phone user refused
    };

    Kind kind = Kind::pending;
    std::optional<int> interval;
    std::optional<Credentials> credentials;

    static DeviceLoginPoll pending(std::optional<int> interval = std::nullopt);
    static DeviceLoginPoll authorized(Credentials credentials);
    static DeviceLoginPoll expired();
    static DeviceLoginPoll rejected();

    // Reads the data of a poll answer; throws TranslationFailure.
    static DeviceLoginPoll fromJson(const QJsonObject &data);

    friend bool operator==(const DeviceLoginPoll &, const DeviceLoginPoll &) = default;
};

// Names the case (and the interval) but never the tokens.
std::ostream &operator<<(std::ostream &stream, const DeviceLoginPoll &poll);

} // namespace TranslateCore
