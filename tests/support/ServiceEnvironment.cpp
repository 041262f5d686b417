#include "ServiceEnvironment.h"

#include "support/TestSupport.h"
#include "support/TextSession.h"

#include "TranslateCore/Contract/ProductionEndpoint.h"

#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<LocalServiceProcess> &process()
{
    static std::unique_ptr<LocalServiceProcess> instance;
    return instance;
}

class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        process() = std::make_unique<LocalServiceProcess>(
            QStringList { QStringLiteral("--token-lifetime-ms"), QStringLiteral("2000") });
        if (process()->isRunning()) {
            process()->exportEndpoint();
            return;
        }
        const std::string reason
            = "local service unavailable: " + process()->failure().toStdString();
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << reason;
        GTEST_SKIP() << reason;
    }

    void TearDown() override { process().reset(); }
};

[[maybe_unused]] ::testing::Environment *const registered
    = ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

} // namespace

LocalServiceProcess &localService()
{
    if (!process())
        process() = std::make_unique<LocalServiceProcess>(
            QStringList { QStringLiteral("--token-lifetime-ms"), QStringLiteral("2000") });
    return *process();
}

TranslateCore::Credentials signIn(
    TranslateCore::TranslationAPI &api, const QString &phone, LocalServiceProcess &service)
{
    service.control("POST", "balance", { { "phone", phone }, { "points", 1000 } });
    TestSupport::runTask(api.sendCode("86", phone));
    const QString code
        = service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
    TestSupport::runTask(api.login("86", phone, code));
    return api.credentials().value_or(TranslateCore::Credentials {});
}

QUrl newSessionSocket()
{
    using TranslateCore::ProductionEndpoint;
    const QString token = signInByPhone(localService(), QStringLiteral("13800138000"));
    const QJsonObject created = createTextSession([&](const QByteArray &method, const QString &path,
                                                      const QJsonObject &body) {
        const QByteArray key
            = method == "POST" ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces) : "";
        return callService(localService(), method, path, body, token, key).envelope.value("data");
    });
    return ProductionEndpoint::socketURL(
        *ProductionEndpoint::baseForOrigin(localService().origin()), created["wsUrl"].toString(),
        created["wsTicket"].toString(), created["sessionId"].toInteger());
}
