#pragma once

#include <QString>

#include <exception>
#include <string>

namespace TranslateCore {

// The one failure specific to QR sign-in: the service cannot hand out desktop challenges yet.
class DeviceLoginFailure : public std::exception {
public:
    enum class Case {
        upgradeRequired,
    };

    static DeviceLoginFailure upgradeRequired()
    {
        return DeviceLoginFailure(Case::upgradeRequired);
    }

    Case kind() const noexcept { return m_case; }

    // The user message; always present.
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const DeviceLoginFailure &a, const DeviceLoginFailure &b) noexcept
    {
        return a.m_case == b.m_case;
    }

private:
    explicit DeviceLoginFailure(Case c);

    Case m_case;
    std::string m_what;
};

} // namespace TranslateCore
