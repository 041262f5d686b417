#pragma once

#include "TranslateMac/Account/SessionRestorePreferences.h"

class QSettings;

namespace TranslateMac {

// The restoration flag kept in the application's settings under
// "session.sqlite.restorationDisabled"; an absent key reads as false. Every change is flushed at
// once: a crash right after raising the flag must still find it raised at the next start.
class SQLiteSessionPreferences final : public SessionRestorePreferences {
public:
    // `defaults` must outlive this object.
    explicit SQLiteSessionPreferences(QSettings &defaults);

    QSettings &defaults() const { return m_defaults; }

    bool restorationDisabled() const override;
    // Throws SessionStorageFailure::unavailable when the settings cannot be written.
    void setRestorationDisabled(bool disabled) override;

private:
    QSettings &m_defaults;
};

} // namespace TranslateMac
