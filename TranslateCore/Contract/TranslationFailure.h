#pragma once

#include <QString>
#include <QtGlobal>

#include <exception>
#include <string>

namespace TranslateCore {

// The one failure vocabulary of the service, stream, capture and session logic. Every case has a
// fixed user message; the payload only matters for `rejected`, `invalidCreatedSession` and
// `server`.
class TranslationFailure : public std::exception {
public:
    enum class Case {
        rejected,
        invalidCreatedSession,
        server,
        invalidResponse,
        unsafeAddress,
        signedOut,
        audioFormat,
        queueFull,
        connectionLost,
        timeout,
        permission,
        noDisplay,
        sourceUnavailable,
        noPlayingAudio,
    };

    static TranslationFailure rejected(qint64 code);
    static TranslationFailure invalidCreatedSession(qint64 sessionID);
    static TranslationFailure server(const QString &code);
    static TranslationFailure invalidResponse()
    {
        return TranslationFailure(Case::invalidResponse);
    }
    static TranslationFailure unsafeAddress() { return TranslationFailure(Case::unsafeAddress); }
    static TranslationFailure signedOut() { return TranslationFailure(Case::signedOut); }
    static TranslationFailure audioFormat() { return TranslationFailure(Case::audioFormat); }
    static TranslationFailure queueFull() { return TranslationFailure(Case::queueFull); }
    static TranslationFailure connectionLost() { return TranslationFailure(Case::connectionLost); }
    static TranslationFailure timeout() { return TranslationFailure(Case::timeout); }
    static TranslationFailure permission() { return TranslationFailure(Case::permission); }
    static TranslationFailure noDisplay() { return TranslationFailure(Case::noDisplay); }
    static TranslationFailure sourceUnavailable()
    {
        return TranslationFailure(Case::sourceUnavailable);
    }
    static TranslationFailure noPlayingAudio() { return TranslationFailure(Case::noPlayingAudio); }

    Case kind() const noexcept { return m_case; }
    // The service code of `rejected`, the session id of `invalidCreatedSession`, else 0.
    qint64 number() const noexcept { return m_number; }
    // The socket's failure code of `server`, else empty.
    const QString &serverCode() const noexcept { return m_serverCode; }

    // The user message; always present.
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const TranslationFailure &a, const TranslationFailure &b) noexcept
    {
        return a.m_case == b.m_case && a.m_number == b.m_number && a.m_serverCode == b.m_serverCode;
    }

private:
    explicit TranslationFailure(Case c, qint64 number = 0, QString serverCode = {});

    Case m_case;
    qint64 m_number;
    QString m_serverCode;
    std::string m_what;
};

} // namespace TranslateCore
