#include "TranslateMac/Account/SQLiteSessionPreferences.h"

#include "TranslateMac/Account/SessionStorageFailure.h"
#include "TranslateMac/Account/UserDefaultsKeys.h"

#include <QSettings>

namespace TranslateMac {

namespace {

const QString restorationDisabledKey = QLatin1String(UserDefaultsKeys::restorationDisabled);

} // namespace

SQLiteSessionPreferences::SQLiteSessionPreferences(QSettings &defaults) : m_defaults(defaults) { }

bool SQLiteSessionPreferences::restorationDisabled() const
{
    return m_defaults.value(restorationDisabledKey, false).toBool();
}

void SQLiteSessionPreferences::setRestorationDisabled(bool disabled)
{
    m_defaults.setValue(restorationDisabledKey, disabled);
    m_defaults.sync();
    if (m_defaults.status() != QSettings::NoError)
        throw SessionStorageFailure::unavailable();
}

} // namespace TranslateMac
