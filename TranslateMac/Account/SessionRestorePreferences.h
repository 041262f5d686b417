#pragma once

namespace TranslateMac {

// Where the "do not restore the stored session" flag lives. Raising it must be durable before the
// database is touched, so an implementation that cannot persist the value throws instead of
// pretending it did.
class SessionRestorePreferences {
public:
    virtual ~SessionRestorePreferences() = default;

    virtual bool restorationDisabled() const = 0;
    virtual void setRestorationDisabled(bool disabled) = 0;
};

} // namespace TranslateMac
