#pragma once

#include <QString>
#include <QtGlobal>

#include <exception>
#include <string>

namespace TranslateMac {

// Why the signed-in state could not be kept on this machine. Every case shows the same message:
// the user only needs to know that the next start may ask them to sign in again.
class SessionStorageFailure : public std::exception {
public:
    enum class Case {
        database,
        unavailable,
        invalidCredentials,
        unsupportedSchema,
        // A created session to be recorded, or one read back, that no settlement could use.
        invalidPendingSession,
    };

    static SessionStorageFailure database(qint32 resultCode)
    {
        return SessionStorageFailure(Case::database, resultCode);
    }
    static SessionStorageFailure unavailable() { return SessionStorageFailure(Case::unavailable); }
    static SessionStorageFailure invalidCredentials()
    {
        return SessionStorageFailure(Case::invalidCredentials);
    }
    static SessionStorageFailure unsupportedSchema()
    {
        return SessionStorageFailure(Case::unsupportedSchema);
    }
    static SessionStorageFailure invalidPendingSession()
    {
        return SessionStorageFailure(Case::invalidPendingSession);
    }

    Case kind() const noexcept { return m_case; }
    // The SQLite result code of `database`, else 0.
    qint32 resultCode() const noexcept { return m_resultCode; }

    QString errorDescription() const
    {
        return QStringLiteral("暂时无法保存本机登录状态，下次打开时请重新登录。");
    }
    const char *what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const SessionStorageFailure &a, const SessionStorageFailure &b) noexcept
    {
        return a.m_case == b.m_case && a.m_resultCode == b.m_resultCode;
    }

private:
    explicit SessionStorageFailure(Case c, qint32 resultCode = 0)
        : m_case(c), m_resultCode(resultCode), m_what(errorDescription().toStdString())
    {
    }

    Case m_case;
    qint32 m_resultCode;
    std::string m_what;
};

} // namespace TranslateMac
