#pragma once

#include "TranslateCore/Contract/TranslationRoute.h"

#include <QList>
#include <QString>

namespace TranslateMac::RecentRoutes {

// At most this many recent directions are kept.
inline constexpr int limit = 6;

// The stored list (codes joined with ",", most recent first) after choosing `code`: the code
// moves to the front, duplicates and empty pieces go, and only the first six stay. An empty
// code changes nothing.
QString remember(const QString &stored, const QString &code);
// The offered routes of the stored codes, in stored order; codes no longer offered are skipped.
QList<TranslateCore::TranslationRoute> routes(
    const QString &stored, const QList<TranslateCore::TranslationRoute> &offered);
// "源 → 目标" of a route for its chip.
QString chipText(const TranslateCore::TranslationRoute &route);

} // namespace TranslateMac::RecentRoutes
