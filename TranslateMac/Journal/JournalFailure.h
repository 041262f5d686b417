#pragma once

#include <QString>
#include <QtGlobal>

#include <exception>
#include <string>

namespace TranslateMac {

// Why the caption journal cannot be opened or written. Translation goes on without it: the
// journal only keeps what was read, and a journal that cannot be used is left on disk as it is.
class JournalFailure : public std::exception {
public:
    enum class Case {
        // The folder or file is not what it must be (a link, not a directory, not a regular file).
        unavailable,
        // An SQLite call failed with `resultCode`.
        database,
        // The file is not a journal SQLite can read (damaged, or some other file).
        corrupt,
        // The journal was written by a newer version of the application.
        unsupportedSchema,
        // Captions arrived faster than the disk took them for longer than the queue holds.
        queueFull,
    };

    static JournalFailure unavailable() { return JournalFailure(Case::unavailable); }
    // `corrupt` for the result codes that say the file is damaged, else `database`.
    static JournalFailure database(qint32 resultCode);
    static JournalFailure unsupportedSchema() { return JournalFailure(Case::unsupportedSchema); }
    static JournalFailure queueFull() { return JournalFailure(Case::queueFull); }

    Case kind() const noexcept { return m_case; }
    qint32 resultCode() const noexcept { return m_resultCode; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const JournalFailure &a, const JournalFailure &b) noexcept
    {
        return a.m_case == b.m_case && a.m_resultCode == b.m_resultCode;
    }

private:
    explicit JournalFailure(Case c, qint32 resultCode = 0);

    Case m_case;
    qint32 m_resultCode;
    std::string m_what;
};

} // namespace TranslateMac
