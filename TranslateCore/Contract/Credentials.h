#pragma once

#include <QString>

namespace TranslateCore {

// The signed-in token pair: the access token authenticates requests, the refresh token renews
// the pair and is what a logout revokes.
struct Credentials {
    QString accessToken;
    QString refreshToken;

    friend bool operator==(const Credentials &, const Credentials &) = default;
};

} // namespace TranslateCore
