#pragma once

#include <QJsonValue>

#include <optional>

namespace TranslateCore {

// The only way integers are read out of service JSON: whole numbers and strings of decimal digits
// in the signed 64-bit range; Booleans, fractions, exponents and stray characters give no result.
std::optional<qint64> integer(const QJsonValue &value);

} // namespace TranslateCore
