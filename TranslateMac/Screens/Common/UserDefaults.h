#pragma once

#include <QString>
#include <QVariant>

namespace TranslateMac::UserDefaults {

// The view preferences kept across launches, in the application's settings file.
QVariant value(const char *key, const QVariant &fallback);
void setValue(const char *key, const QVariant &value);

} // namespace TranslateMac::UserDefaults
