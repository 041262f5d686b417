#pragma once

#include <QString>

#include <exception>
#include <string>

namespace TranslateMac {

// The sound server could not be reached at all: no server, the connection was refused, or access
// was denied (for example a sandbox without the server's socket). `code` is the backend's own
// error code.
class SoundServerAccessError : public std::exception {
public:
    SoundServerAccessError(int code, const QString &detail)
        : m_code(code), m_what(detail.toStdString())
    {
    }
    int code() const noexcept { return m_code; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    int m_code;
    std::string m_what;
};

// Linux sound servers have no permission prompt: being allowed to capture means being able to
// reach the server.
class CaptureAccess {
public:
    // What the user sees for a capture error: an unreachable sound server becomes
    // `TranslationFailure::permission`; every other error is returned unchanged.
    static std::exception_ptr failure(std::exception_ptr error);

    // A non-prompting, non-blocking check that the sound server's socket accepts connections.
    static bool soundServerReachable();
};

} // namespace TranslateMac
