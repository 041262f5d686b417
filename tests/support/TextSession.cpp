#include "support/TextSession.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using namespace std::chrono_literals;

QJsonObject createTextSession(const ServiceCall &call)
{
    const QJsonArray routes
        = call("GET", QStringLiteral("v1/translation/routes?catalogVersion=2"), {}).toArray();
    const QJsonObject audio { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
        { "channels", 1 } };
    const QJsonObject body { { "routeCode", routes.first()[QStringLiteral("routeCode")] },
        { "outputMode", "TEXT_ONLY" }, { "historyEnabled", false }, { "clientType", "H5" },
        { "clientVersion", "macOS-1.0.0" }, { "audio", audio } };
    return call("POST", QStringLiteral("v1/translation/sessions"), body).toObject();
}

ServiceAnswer callService(LocalServiceProcess &service, const QByteArray &method,
    const QString &path, const QJsonObject &body, const QString &token,
    const QByteArray &idempotencyKey)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(service.origin() + QStringLiteral("/api/") + path));
    request.setSslConfiguration(service.tlsConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (!idempotencyKey.isEmpty())
        request.setRawHeader("Idempotency-Key", idempotencyKey);
    QNetworkReply *reply = network.sendCustomRequest(
        request, method, method == "GET" ? QByteArray() : QJsonDocument(body).toJson());
    EXPECT_TRUE(TestSupport::spinUntil([reply] { return reply->isFinished(); }, 10s))
        << path.toStdString();
    ServiceAnswer answer { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
        QJsonDocument::fromJson(reply->readAll()).object() };
    delete reply;
    return answer;
}

QString signInByPhone(LocalServiceProcess &service, const QString &phone)
{
    callService(service, "POST", QStringLiteral("v1/auth/send-code"),
        { { "purpose", "LOGIN" }, { "countryCode", "86" }, { "phoneNumber", phone } });
    const QString code
        = service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
    const ServiceAnswer login
        = callService(service, "POST", QStringLiteral("v1/auth/login/phone-code"),
            { { "countryCode", "86" }, { "phoneNumber", phone }, { "code", code } });
    return login.envelope.value("data")["token"].toString();
}
