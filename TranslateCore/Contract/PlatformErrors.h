#pragma once

#include <QJsonParseError>
#include <QNetworkReply>
#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace TranslateCore {

// A transport failure of the HTTP or WebSocket stack, carried unchanged until it is shown.
class NetworkError : public std::exception {
public:
    NetworkError(QNetworkReply::NetworkError code, QString message)
        : m_code(code), m_message(std::move(message)), m_what(m_message.toStdString())
    {
    }
    // What the user is shown for any transport failure, wherever it happens.
    static QString userMessage() { return QStringLiteral("网络请求失败，请检查网络后重试。"); }

    QNetworkReply::NetworkError code() const noexcept { return m_code; }
    const QString &message() const noexcept { return m_message; }

    // The live socket's close code (1000, 1009, 4000 ...) when the service closed it.
    std::optional<int> closeCode() const noexcept { return m_closeCode; }
    // The HTTP status of a refused socket handshake (403, 410 ...).
    std::optional<int> handshakeStatus() const noexcept { return m_handshakeStatus; }
    NetworkError withCloseCode(int code) const
    {
        NetworkError error = *this;
        error.m_closeCode = code;
        return error;
    }
    NetworkError withHandshakeStatus(int status) const
    {
        NetworkError error = *this;
        error.m_handshakeStatus = status;
        return error;
    }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QNetworkReply::NetworkError m_code;
    QString m_message;
    std::string m_what;
    std::optional<int> m_closeCode;
    std::optional<int> m_handshakeStatus;
};

// Bytes that are not JSON at all, as the parser reported them.
class JsonParseError : public std::exception {
public:
    explicit JsonParseError(QJsonParseError error)
        : m_error(error), m_what(error.errorString().toStdString())
    {
    }
    const QJsonParseError &error() const noexcept { return m_error; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QJsonParseError m_error;
    std::string m_what;
};

} // namespace TranslateCore
