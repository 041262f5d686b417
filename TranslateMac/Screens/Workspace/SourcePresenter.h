#pragma once

#include "TranslateMac/Capture/AudioSource.h"

#include <QIcon>
#include <QString>

#include <optional>

namespace TranslateMac::SourcePresenter {

// The access row under the source picker.
struct Access {
    QString icon;
    QString title;
    QString detail;
    bool offersRetry = false;
    friend bool operator==(const Access &, const Access &) = default;
};
Access access(
    bool refreshing, const std::optional<QString> &failure, bool confirmed, bool wholeSystem);

// The whole-system source's computer icon, or the application's icon from the icon theme.
QIcon icon(const AudioSource &source);

} // namespace TranslateMac::SourcePresenter
