#pragma once

#include <QString>

#include <exception>
#include <string>

namespace TranslateMac {

// A sound-server call that failed with a (negative) status: the capture could not be set up.
class TapAudioFailure : public std::exception {
public:
    explicit TapAudioFailure(qint32 status)
        : m_status(status), m_what(errorDescription().toStdString())
    {
    }
    qint32 status() const noexcept { return m_status; }
    QString errorDescription() const
    {
        return QStringLiteral("系统音频采集暂时无法启动（") + QString::number(m_status)
            + QStringLiteral("），请重试。");
    }
    const char *what() const noexcept override { return m_what.c_str(); }
    friend bool operator==(const TapAudioFailure &a, const TapAudioFailure &b) noexcept
    {
        return a.m_status == b.m_status;
    }

private:
    qint32 m_status;
    std::string m_what;
};

} // namespace TranslateMac
