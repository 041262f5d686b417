#pragma once

#include <QJsonValue>
#include <QStringList>

#include <optional>

namespace TranslateCore {

// Reads a ready-made QR module matrix as the service sends it: an array of n strings, n from
// `minSide` to `maxSide`, each row exactly n user-perceived characters, every one "0" or "1".
// Anything else gives no result.
std::optional<QStringList> readQRModuleRows(
    const QJsonValue &value, qsizetype minSide, qsizetype maxSide);

} // namespace TranslateCore
