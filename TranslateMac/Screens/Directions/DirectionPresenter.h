#pragma once

#include "TranslateMac/Directions/DirectionCatalog.h"

#include "TranslateCore/Contract/Quote.h"

#include <QString>

#include <optional>

namespace TranslateMac::DirectionPresenter {

// A reverse route exists for the current one.
bool canSwap(
    const DirectionCatalog &catalog, const std::optional<TranslateCore::TranslationRoute> &route);
QString swapHelp(bool canSwap);
// The price line of the selected route: "报价中…" while fetching, "N 积分/分钟" (with
// " · 余额不足" when the start is not possible) with a quote, nothing otherwise.
std::optional<QString> quoteLine(bool quoteBusy, const std::optional<TranslateCore::Quote> &quote);
// The top-up note when the quote does not allow a start.
std::optional<QString> minimumLine(const std::optional<TranslateCore::Quote> &quote);

} // namespace TranslateMac::DirectionPresenter
