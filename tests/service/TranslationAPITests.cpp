#include "ServiceEnvironment.h"

#include "support/Outcome.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonDocument>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

using namespace TranslateCore;

namespace {

using TestSupport::describe;
using TestSupport::finished;
using TestSupport::outcome;

template <typename T> std::shared_ptr<std::string> start(QCoro::Task<T> task)
{
    return TestSupport::startOutcome(std::move(task));
}

std::string header(const QJsonObject &request, const char *name)
{
    return request["headers"][QLatin1String(name)].toString().toStdString();
}

class TranslationAPITest : public LocalServiceTest {
protected:
    TranslationAPI api { Credentials { "access", "refresh" } };
};

TEST_F(TranslationAPITest, EnvelopeDecidesBetweenDataAndFailure)
{
    const struct {
        const char *description;
        int httpStatus;
        QByteArray body;
        std::string expected;
    } cases[] = {
        { "success", 200, R"({"code":0,"data":{"availablePoints":42}})", "42" },
        { "status overrides", 200, R"({"code":0,"status":500,"data":{}})", "rejected(200)" },
        { "service code", 200, R"({"code":3011})", "rejected(3011)" },
        { "http status", 429, R"({"code":0})", "rejected(429)" },
        { "string code", 200, R"({"code":"0","data":{"availablePoints":7}})", "7" },
        { "no code", 200, R"({"data":{"availablePoints":1}})", "invalidResponse" },
        { "not an object", 200, R"([0])", "invalidResponse" },
        { "html", 502, "<html><body>Bad gateway</body></html>", "JsonParseError" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        service.fault(
            "v1/points/wallet", { { "httpStatus", c.httpStatus }, { "rawBody", QString(c.body) } });
        EXPECT_EQ(outcome(api.wallet()), c.expected);
    }
}

TEST_F(TranslationAPITest, MissingDataSatisfiesOnlyOperationsWithoutResult)
{
    const DeviceLoginChallenge challenge { QString(22, 'a'), QString(43, 'b'), "ABCDEFGH", {}, 2,
        {}, 0 };
#define CALL(expression) [&](TranslationAPI &client) { return outcome(client.expression); }
    const struct {
        const char *path;
        std::function<std::string(TranslationAPI &)> operation;
        std::string expected;
    } cases[] = {
        { "v1/auth/send-code", CALL(sendCode("86", "1")), "ok" },
        { "v1/auth/revoke", CALL(logout()), "ok" },
        { "v1/auth/watch-login/cancel", CALL(cancelDeviceLogin(challenge)), "ok" },
        { "v1/auth/revoke", CALL(discardDeviceLogin({ "a", "r" })), "ok" },
        { "v1/users/me", CALL(profile()), "invalidResponse" },
        { "v1/points/wallet", CALL(wallet()), "invalidResponse" },
        { "v1/translation/routes", CALL(routes()), "invalidResponse" },
    };
#undef CALL
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        TranslationAPI client(Credentials { "access", "refresh" });
        service.fault(c.path, { { "envelope", QJsonObject { { "code", 0 } } } });
        EXPECT_EQ(c.operation(client), c.expected);
    }
}

TEST_F(TranslationAPITest, SendsTheWireFormatTheServiceExpects)
{
    const Credentials credentials = signIn(api, "13800000001");
    EXPECT_EQ(outcome(api.create("EN_ZH", true, "key-1")), "ok");
    EXPECT_EQ(outcome(api.checkAppUpdate({ "1.0.0", 7 })), "ok");

    const QJsonObject create = service.requestsTo("v1/translation/sessions").value(0);
    EXPECT_EQ(header(create, "user-agent"), "QuorvelTranslateMac/1.0.0 (macOS; native)");
    EXPECT_EQ(header(create, "authorization"), "Bearer " + credentials.accessToken.toStdString());
    EXPECT_EQ(header(create, "idempotency-key"), "key-1");
    EXPECT_EQ(header(create, "content-type"), "application/json");
    EXPECT_EQ(QJsonDocument::fromJson(create["body"].toString().toUtf8()).object(),
        QJsonDocument::fromJson(R"({"routeCode":"EN_ZH","outputMode":"TEXT_ONLY",
            "historyEnabled":true,"clientType":"H5","clientVersion":"macOS-1.0.0",
            "audio":{"encoding":"PCM_S16LE","sampleRate":16000,"channels":1}})")
            .object());
    const QJsonObject check = service.requestsTo("v1/app-updates/check").value(0);
    EXPECT_EQ(check["query"], "platform=MACOS&version=1.0.0&buildNumber=7");
    EXPECT_FALSE(check["headers"].toObject().contains("authorization"));
}

TEST_F(TranslationAPITest, RefusesRedirectsAndOversizedBodies)
{
    service.fault(
        "v1/points/wallet", { { "redirectTo", localService().origin() + "/api/v1/elsewhere" } });
    EXPECT_EQ(outcome(api.wallet()), "rejected(302)");
    EXPECT_TRUE(service.requestsTo("v1/elsewhere").isEmpty());

    const QJsonObject data { { "code", 0 }, { "data", QJsonObject { { "availablePoints", 3 } } } };
    service.fault("v1/points/wallet", { { "envelope", data }, { "bodyBytes", 4194304 } });
    EXPECT_EQ(outcome(api.wallet()), "3");
    service.fault("v1/points/wallet", { { "envelope", data }, { "bodyBytes", 4194305 } });
    EXPECT_EQ(outcome(api.wallet()), "invalidResponse");
}

TEST_F(TranslationAPITest, ConcurrentUnauthorizedRequestsShareOneRenewalThatLogoutCancels)
{
    const Credentials before = signIn(api, "13800000002");
    QList<std::optional<Credentials>> saved;
    api.setSaveCredentials([&](const std::optional<Credentials> &c) { saved.append(c); });
    service.control("POST", "expire-access-tokens");

    const auto created = start(api.create("EN_ZH", false, "key-2"));
    const auto wallet = start(api.wallet());
    EXPECT_EQ(finished(created), "ok");
    EXPECT_THAT(finished(wallet), ::testing::MatchesRegex("[0-9]+"));

    ASSERT_TRUE(api.credentials() && api.credentials() != before);
    EXPECT_EQ(service.requestsTo("v1/auth/refresh").size(), 1);
    EXPECT_EQ(saved, QList<std::optional<Credentials>> { api.credentials() });
    const std::string renewed = "Bearer " + api.credentials()->accessToken.toStdString();
    const QList<QJsonObject> creates = service.requestsTo("v1/translation/sessions");
    ASSERT_EQ(creates.size(), 2);
    for (const QJsonObject &create : creates)
        EXPECT_EQ(header(create, "idempotency-key"), "key-2");
    EXPECT_EQ(header(creates[1], "authorization"), renewed);
    EXPECT_EQ(header(service.requestsTo("v1/points/wallet").last(), "authorization"), renewed);

    // A logout while the next renewal is in flight cancels it and clears the pair.
    saved.clear();
    service.control("POST", "expire-access-tokens");
    service.fault("v1/auth/refresh", { { "delayMs", 1500 } });
    const auto cancelled = start(api.wallet());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return service.requestsTo("v1/auth/refresh").size() == 2; }));
    EXPECT_EQ(outcome(api.logout()), "ok");
    EXPECT_EQ(finished(cancelled), "CancellationError");
    TestSupport::drainEvents();
    EXPECT_FALSE(api.credentials());
    EXPECT_EQ(saved, QList<std::optional<Credentials>> { std::nullopt });
    EXPECT_EQ(service.requestsTo("v1/auth/revoke").size(), 1);
}

TEST_F(TranslationAPITest, RenewalRefusedOrRepeatUnauthorizedSignsOut)
{
    const Credentials pair = signIn(api, "13800000003");
    const QJsonObject unauthorized { { "httpStatus", 401 },
        { "envelope", QJsonObject { { "code", 1001 } } } };
    service.fault(
        "v1/auth/login/phone-code", unauthorized); // not signed in by this call: no renewal
    EXPECT_EQ(outcome(api.login("86", "13800000003", "000000")), "rejected(1001)");
    EXPECT_EQ(api.credentials(), pair);

    service.control("POST", "expire-access-tokens");
    service.fault("v1/auth/refresh",
        { { "httpStatus", 401 }, { "envelope", QJsonObject { { "code", 1003 } } } });
    EXPECT_EQ(outcome(api.wallet()), "signedOut");
    EXPECT_FALSE(api.credentials());

    signIn(api, "13800000004");
    QJsonObject twice = unauthorized;
    twice.insert("count", 2);
    service.fault("v1/points/wallet", twice);
    EXPECT_EQ(outcome(api.wallet()), "signedOut");
    EXPECT_FALSE(api.credentials());
    EXPECT_EQ(service.requestsTo("v1/auth/refresh").size(), 2);
    EXPECT_EQ(outcome(api.profile()), "signedOut"); // refused without a request
    EXPECT_EQ(service.requestsTo("v1/users/me").size(), 0);

    service.reset(); // a 401 that arrives after a newer sign-in leaves that one alone
    signIn(api, "13800000006");
    twice.insert("delayMs", 1000);
    service.fault("v1/points/wallet", twice);
    const auto wallet = start(api.wallet());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return service.requestsTo("v1/points/wallet").size() == 2; }));
    const Credentials newer = signIn(api, "13800000007");
    EXPECT_EQ(finished(wallet), "signedOut");
    EXPECT_EQ(api.credentials(), newer);
}

TEST_F(TranslationAPITest, TransportFailuresPassThroughUnchanged)
{
    auto gone = std::make_unique<LocalServiceProcess>();
    ASSERT_TRUE(gone->isRunning());
    TranslationAPI client({}, QUrl(gone->origin() + "/api/"));
    const Credentials pair = signIn(client, "13800000009", *gone);

    gone->control("POST", "expire-access-tokens");
    gone->fault("v1/auth/refresh", { { "delayMs", 5000 } });
    const auto wallet = start(client.wallet());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return !gone->requestsTo("v1/auth/refresh").isEmpty(); }));
    gone.reset();
    EXPECT_EQ(finished(wallet).rfind("NetworkError(", 0), 0u);
    EXPECT_EQ(client.credentials(), pair);

    EXPECT_EQ(outcome(client.logout()),
        "NetworkError(" + std::to_string(QNetworkReply::ConnectionRefusedError) + ")");
    EXPECT_FALSE(client.credentials());

    LocalServiceProcess rogue({ "--cert", LocalServiceProcess::certsDir() + "/rogue-server.pem",
        "--key", LocalServiceProcess::certsDir() + "/rogue-server.key" });
    ASSERT_TRUE(rogue.isRunning());
    TranslationAPI misled({}, QUrl(rogue.origin() + "/api/"));
    EXPECT_EQ(outcome(misled.sendCode("86", "13800000010")),
        "NetworkError(" + std::to_string(QNetworkReply::SslHandshakeFailedError) + ")");
}

TEST_F(TranslationAPITest, CancellingOrDestroyingTheClientEndsTheRequest)
{
    auto doomed = std::make_unique<TranslationAPI>(Credentials { "access", "refresh" });
    service.fault("v1/points/wallet", { { "delayMs", 5000 }, { "count", 2 } });
    CancellationSource source;
    const auto cancelled = start(api.wallet(source.token()));
    const auto orphan = start(doomed->wallet());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return service.requestsTo("v1/points/wallet").size() == 2; }));
    source.cancel();
    doomed.reset();
    EXPECT_EQ(finished(cancelled), "CancellationError");
    EXPECT_EQ(finished(orphan), "CancellationError");
}

TEST_F(TranslationAPITest, RoutesKeepOnlyTextDirections)
{
    service.fault("v1/translation/routes", { { "rawBody", R"({"code":0,"data":[
        {"routeCode":"plain","displayName":"p"},
        {"routeCode":"both","displayName":"b","supportedOutputModes":["TEXT_AND_SPEECH","TEXT_ONLY"]},
        {"routeCode":"speech","displayName":"s","supportedOutputModes":["TEXT_AND_SPEECH"]},
        {"routeCode":"string","displayName":"t","supportedOutputModes":"TEXT_ONLY"},
        {"routeCode":"mixed","displayName":"m","supportedOutputModes":[1,"TEXT_ONLY"]}]})" } });
    QStringList codes;
    for (const TranslationRoute &kept : TestSupport::runTask(api.routes()))
        codes << kept.code;
    EXPECT_EQ(codes, QStringList({ "plain", "both" }));
}

TEST_F(TranslationAPITest, UnusableCreatedSessionNamesItsId)
{
    const QString usable = QStringLiteral(R"({"code":0,"data":{"sessionId":77,"wsTicket":"t",
        "availablePoints":5,"reservedPoints":5,"wsUrl":"%1/api/ws/v1/translation/77",
        "inputAudio":{"encoding":"PCM_S16LE","sampleRate":16000,"channels":1}}})")
                               .arg(service.origin().replace("https", "wss"));
    const struct {
        QString body;
        std::string expected;
    } cases[] = {
        { usable, "ok" },
        { QString(usable).replace(service.origin().mid(5), "://elsewhere.test"),
            "invalidCreatedSession(77)" },
        { QString(usable).replace(":77,", R"(:"x",)"), "invalidResponse" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        service.fault("v1/translation/sessions", { { "rawBody", c.body } });
        EXPECT_EQ(outcome(api.create("EN_ZH", false, "k")), c.expected);
    }
}

TEST_F(TranslationAPITest, QRLoginCommitsOnlyWhileTheSignInIsUnchanged)
{
    TranslationAPI client;
    const DeviceLoginChallenge challenge = TestSupport::runTask(client.createDeviceLogin());
    EXPECT_EQ(TestSupport::runTask(client.pollDeviceLogin(challenge)).kind,
        DeviceLoginPoll::Kind::pending);
    service.control("POST", "device-login",
        { { "challengeId", challenge.id }, { "action", "approve" }, { "phone", "13800000011" } });
    const DeviceLoginPoll approved = TestSupport::runTask(client.pollDeviceLogin(challenge));
    ASSERT_EQ(approved.kind, DeviceLoginPoll::Kind::authorized);
    client.completeDeviceLogin(*approved.credentials, challenge);
    EXPECT_EQ(client.credentials(), approved.credentials);
    EXPECT_EQ(outcome(client.wallet()), "1000");

    const DeviceLoginChallenge late = TestSupport::runTask(client.createDeviceLogin());
    const Credentials phone = signIn(client, "13800000012");
    service.control("POST", "device-login",
        { { "challengeId", late.id }, { "action", "approve" }, { "phone", "13800000011" } });
    const DeviceLoginPoll refused = TestSupport::runTask(client.pollDeviceLogin(late));
    ASSERT_EQ(refused.kind, DeviceLoginPoll::Kind::authorized);
    EXPECT_THROW(client.completeDeviceLogin(*refused.credentials, late), CancellationError);
    EXPECT_EQ(client.credentials(), phone);
    EXPECT_EQ(outcome(client.discardDeviceLogin(*refused.credentials)), "ok");
}

TEST_F(TranslationAPITest, PersistenceFailureIsRecordedNotThrown)
{
    api.setSaveCredentials([](const auto &) { throw std::runtime_error("disk full"); });
    const qint64 generation = api.authGeneration();
    EXPECT_TRUE(signIn(api, "13800000013").refreshToken.size());
    EXPECT_EQ(api.authGeneration(), generation + 1);
    EXPECT_EQ(describe(api.credentialPersistenceFailure()), "other: disk full");
}

} // namespace
