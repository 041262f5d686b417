#include "Integer.h"

#include <QString>

#include <cmath>
#include <limits>

namespace TranslateCore {

namespace {

std::optional<qint64> parseDecimal(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the 64-bit minimum is representable.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

} // namespace

std::optional<qint64> integer(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return parseDecimal(value.toString());
    case QJsonValue::Double: {
        // Qt keeps integers that fit in 64 bits exactly; anything else arrives as a double, which
        // counts only when it is whole and inside the signed 64-bit range.
        const QVariant variant = value.toVariant();
        if (variant.typeId() == QMetaType::LongLong)
            return variant.toLongLong();
        const double d = value.toDouble();
        if (!std::isfinite(d) || d != std::trunc(d))
            return std::nullopt;
        if (d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<qint64>(d);
    }
    default:
        return std::nullopt;
    }
}

} // namespace TranslateCore
