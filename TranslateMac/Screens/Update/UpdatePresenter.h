#pragma once

#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"

#include <QString>

#include <optional>

namespace TranslateMac::UpdatePresenter {

// What the update panel shows for an offered release.
struct Panel {
    QString title;
    QString version; // "新版本 1.2.0 (42)"
    QString text;
    QString releaseNotes;
    // The secondary button: "稍后" for an optional update, "重新检查" (or "正在检查…") for a
    // demanded one, which cannot be dismissed.
    QString secondary;
    bool secondaryDismisses = true;
    bool secondaryEnabled = true;
};
Panel panel(const TranslateCore::AppUpdateResult &result, bool checking);

// The account screen's update row.
struct Row {
    QString label; // "Quorvel " and the installed version
    QString status;
    QString button;
    bool buttonEnabled = true;
};
Row row(const std::optional<TranslateCore::AppInstallation> &installation, const QString &status,
    bool checking, bool sessionActive);

} // namespace TranslateMac::UpdatePresenter
