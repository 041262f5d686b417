#include "TranslateMac/Screens/Common/UserDefaults.h"

#include <QSettings>

namespace TranslateMac::UserDefaults {

namespace {
QSettings settings()
{
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate"));
}
} // namespace

QVariant value(const char *key, const QVariant &fallback)
{
    return settings().value(QLatin1String(key), fallback);
}

void setValue(const char *key, const QVariant &value)
{
    settings().setValue(QLatin1String(key), value);
}

} // namespace TranslateMac::UserDefaults
