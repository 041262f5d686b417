#include "ServiceEnvironment.h"

#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace TranslateCore;

namespace {

std::string describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        using Case = TranslationFailure::Case;
        switch (failure.kind()) {
        case Case::rejected:
            return "rejected(" + std::to_string(failure.number()) + ")";
        case Case::invalidCreatedSession:
            return "invalidCreatedSession(" + std::to_string(failure.number()) + ")";
        case Case::invalidResponse:
            return "invalidResponse";
        case Case::unsafeAddress:
            return "unsafeAddress";
        case Case::signedOut:
            return "signedOut";
        default:
            return "TranslationFailure " + std::to_string(int(failure.kind()));
        }
    } catch (const NetworkError &network) {
        return "NetworkError(" + std::to_string(int(network.code())) + ")";
    } catch (const JsonParseError &) {
        return "JsonParseError";
    } catch (const CancellationError &) {
        return "CancellationError";
    } catch (const DeviceLoginFailure &) {
        return "DeviceLoginFailure";
    } catch (const std::exception &other) {
        return std::string("other: ") + other.what();
    }
}

// An operation started but not yet awaited: "ok" (or the integer it yielded) or its failure.
struct Pending {
    bool done = false;
    std::string outcome;
};

template <typename T> std::shared_ptr<Pending> start(QCoro::Task<T> task)
{
    auto pending = std::make_shared<Pending>();
    [](QCoro::Task<T> inner, std::shared_ptr<Pending> out) -> QCoro::Task<> {
        try {
            if constexpr (std::is_integral_v<T>) {
                out->outcome = std::to_string(co_await inner);
            } else {
                co_await inner;
                out->outcome = "ok";
            }
        } catch (...) {
            out->outcome = describe(std::current_exception());
        }
        out->done = true;
    }(std::move(task), pending);
    return pending;
}

std::string finished(const std::shared_ptr<Pending> &pending)
{
    return TestSupport::spinUntil([&] { return pending->done; }, std::chrono::seconds(15))
        ? pending->outcome
        : "still running";
}

template <typename T> std::string outcome(QCoro::Task<T> task)
{
    return finished(start(std::move(task)));
}

// The requests the service received for `path` (below /api/), oldest first.
QList<QJsonObject> requestsTo(LocalServiceProcess &service, const QString &path)
{
    QList<QJsonObject> found;
    for (const QJsonValue &request : service.control("GET", "requests")["requests"].toArray())
        if (request["path"] == path)
            found.append(request.toObject());
    return found;
}

std::string header(const QJsonObject &request, const char *name)
{
    return request["headers"][QLatin1String(name)].toString().toStdString();
}

void fault(const QString &path, QJsonObject answer, LocalServiceProcess &service = localService())
{
    answer.insert("path", path);
    service.control("POST", "fault", answer);
}

Credentials signIn(
    TranslationAPI &api, const QString &phone, LocalServiceProcess &service = localService())
{
    service.control("POST", "balance", { { "phone", phone }, { "points", 1000 } });
    TestSupport::runTask(api.sendCode("86", phone));
    const QString code
        = service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
    TestSupport::runTask(api.login("86", phone, code));
    return api.credentials().value_or(Credentials {});
}

QUrl baseOf(const LocalServiceProcess &service)
{
    return QUrl(service.origin() + "/api/");
}

const QJsonObject goodSession { { "sessionId", 77 }, { "wsTicket", "t" }, { "availablePoints", 5 },
    { "reservedPoints", 5 },
    { "inputAudio",
        QJsonObject { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 }, { "channels", 1 } } } };

class TranslationAPITest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!localService().isRunning())
            GTEST_SKIP() << "local service unavailable: " << localService().failure().toStdString();
        localService().reset();
    }
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
        { "qt error status", 404, R"({"code":0})", "rejected(404)" },
        { "string code", 200, R"({"code":"0","data":{"availablePoints":7}})", "7" },
        { "string status", 200, R"({"code":0,"status":"201","data":{"availablePoints":8}})", "8" },
        { "no code", 200, R"({"data":{"availablePoints":1}})", "invalidResponse" },
        { "boolean code", 200, R"({"code":false})", "invalidResponse" },
        { "not an object", 200, R"([0])", "invalidResponse" },
        { "html", 502, "<html><body>Bad gateway</body></html>", "JsonParseError" },
    };
    TranslationAPI api(Credentials { "access", "refresh" });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        fault(
            "v1/points/wallet", { { "httpStatus", c.httpStatus }, { "rawBody", QString(c.body) } });
        EXPECT_EQ(outcome(api.wallet()), c.expected);
    }
}

TEST_F(TranslationAPITest, MissingDataSatisfiesOnlyOperationsWithoutResult)
{
    const DeviceLoginChallenge challenge { QString(22, 'a'), QString(43, 'b'), "ABCDEFGH", {}, 2,
        {}, 0 };
    using Operation = std::function<std::string(TranslationAPI &)>;
    const struct {
        const char *path;
        Operation operation;
        std::string expected;
    } cases[] = {
        { "v1/auth/send-code", [](auto &api) { return outcome(api.sendCode("86", "1")); }, "ok" },
        { "v1/auth/revoke", [](auto &api) { return outcome(api.logout()); }, "ok" },
        { "v1/auth/watch-login/cancel",
            [&](auto &api) { return outcome(api.cancelDeviceLogin(challenge)); }, "ok" },
        { "v1/auth/revoke",
            [](auto &api) {
                return outcome(api.discardDeviceLogin({ "a", "r" }));
            },
            "ok" },
        { "v1/auth/login/phone-code",
            [](auto &api) { return outcome(api.login("86", "1", "123456")); }, "invalidResponse" },
        { "v1/auth/watch-login/create", [](auto &api) { return outcome(api.createDeviceLogin()); },
            "invalidResponse" },
        { "v1/auth/watch-login/poll",
            [&](auto &api) { return outcome(api.pollDeviceLogin(challenge)); }, "invalidResponse" },
        { "v1/users/me", [](auto &api) { return outcome(api.profile()); }, "invalidResponse" },
        { "v1/app-updates/check",
            [](auto &api) {
                return outcome(api.checkAppUpdate({ "1.0.0", 1 }));
            },
            "invalidResponse" },
        { "v1/points/wallet", [](auto &api) { return outcome(api.wallet()); }, "invalidResponse" },
        { "v1/translation/routes", [](auto &api) { return outcome(api.routes()); },
            "invalidResponse" },
        { "v1/translation/quote", [](auto &api) { return outcome(api.quote("en-zh")); },
            "invalidResponse" },
        { "v1/translation/sessions",
            [](auto &api) { return outcome(api.create("en-zh", false, "k")); }, "invalidResponse" },
        { "v1/translation/sessions/5/ws-ticket",
            [](auto &api) { return outcome(api.ticket(5, 0)); }, "invalidResponse" },
        { "v1/translation/sessions/5/finish", [](auto &api) { return outcome(api.finish(5)); },
            "invalidResponse" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        TranslationAPI api(Credentials { "access", "refresh" });
        fault(c.path, { { "envelope", QJsonObject { { "code", 0 } } } });
        EXPECT_EQ(c.operation(api), c.expected);
    }
}

TEST_F(TranslationAPITest, SendsTheWireFormatTheServiceExpects)
{
    TranslationAPI api;
    const Credentials credentials = signIn(api, "13800000001");
    const auto created = start(api.create("en-zh", true, "key-1"));
    EXPECT_EQ(finished(created), "ok");
    EXPECT_EQ(outcome(api.checkAppUpdate({ "1.0.0", 7 })), "ok");

    const QJsonObject create = requestsTo(localService(), "v1/translation/sessions").value(0);
    EXPECT_EQ(header(create, "user-agent"), "QuorvelTranslateMac/1.0.0 (macOS; native)");
    EXPECT_EQ(header(create, "authorization"), "Bearer " + credentials.accessToken.toStdString());
    EXPECT_EQ(header(create, "idempotency-key"), "key-1");
    EXPECT_EQ(header(create, "content-type"), "application/json");
    EXPECT_EQ(QJsonDocument::fromJson(create["body"].toString().toUtf8()).object(),
        QJsonDocument::fromJson(R"({"routeCode":"en-zh","outputMode":"TEXT_ONLY",
            "historyEnabled":true,"clientType":"H5","clientVersion":"macOS-1.0.0",
            "audio":{"encoding":"PCM_S16LE","sampleRate":16000,"channels":1}})")
            .object());
    const QJsonObject check = requestsTo(localService(), "v1/app-updates/check").value(0);
    EXPECT_EQ(check["query"], "platform=MACOS&version=1.0.0&buildNumber=7");
    EXPECT_FALSE(check["headers"].toObject().contains("authorization"));
}

TEST_F(TranslationAPITest, RefusesRedirectsAndOversizedBodies)
{
    TranslationAPI api(Credentials { "access", "refresh" });
    fault("v1/points/wallet", { { "redirectTo", localService().origin() + "/api/v1/elsewhere" } });
    EXPECT_EQ(outcome(api.wallet()), "rejected(302)");
    EXPECT_TRUE(requestsTo(localService(), "v1/elsewhere").isEmpty());

    const QJsonObject data { { "code", 0 }, { "data", QJsonObject { { "availablePoints", 3 } } } };
    fault("v1/points/wallet", { { "envelope", data }, { "bodyBytes", 4194304 } });
    EXPECT_EQ(outcome(api.wallet()), "3");
    fault("v1/points/wallet", { { "envelope", data }, { "bodyBytes", 4194305 } });
    EXPECT_EQ(outcome(api.wallet()), "invalidResponse");
}

TEST_F(TranslationAPITest, ConcurrentUnauthorizedRequestsShareOneRenewal)
{
    TranslationAPI api;
    const Credentials before = signIn(api, "13800000002");
    QList<std::optional<Credentials>> saved;
    api.setSaveCredentials([&](const std::optional<Credentials> &c) { saved.append(c); });
    localService().control("POST", "expire-access-tokens");

    const auto created = start(api.create("en-zh", false, "key-2"));
    const auto wallet = start(api.wallet());
    EXPECT_EQ(finished(created), "ok");
    EXPECT_THAT(finished(wallet), ::testing::MatchesRegex("[0-9]+"));

    ASSERT_TRUE(api.credentials() && api.credentials() != before);
    EXPECT_EQ(requestsTo(localService(), "v1/auth/refresh").size(), 1);
    EXPECT_EQ(saved, QList<std::optional<Credentials>> { api.credentials() });
    const std::string renewed = "Bearer " + api.credentials()->accessToken.toStdString();
    const QList<QJsonObject> creates = requestsTo(localService(), "v1/translation/sessions");
    ASSERT_EQ(creates.size(), 2);
    EXPECT_EQ(header(creates[0], "idempotency-key"), "key-2");
    EXPECT_EQ(header(creates[1], "idempotency-key"), "key-2");
    EXPECT_EQ(header(creates[1], "authorization"), renewed);
    EXPECT_EQ(
        header(requestsTo(localService(), "v1/points/wallet").last(), "authorization"), renewed);
}

TEST_F(TranslationAPITest, RenewalRefusedOrRepeatUnauthorizedSignsOut)
{
    TranslationAPI api;
    signIn(api, "13800000003");
    localService().control("POST", "expire-access-tokens");
    fault("v1/auth/refresh",
        { { "httpStatus", 401 }, { "envelope", QJsonObject { { "code", 1003 } } } });
    EXPECT_EQ(outcome(api.wallet()), "signedOut");
    EXPECT_FALSE(api.credentials());

    signIn(api, "13800000004");
    fault("v1/points/wallet",
        { { "count", 2 }, { "httpStatus", 401 },
            { "envelope", QJsonObject { { "code", 1001 } } } });
    EXPECT_EQ(outcome(api.wallet()), "signedOut");
    EXPECT_FALSE(api.credentials());
    EXPECT_EQ(requestsTo(localService(), "v1/auth/refresh").size(), 2);
    EXPECT_EQ(outcome(api.profile()), "signedOut"); // refused without a request
    EXPECT_EQ(requestsTo(localService(), "v1/users/me").size(), 0);
}

TEST_F(TranslationAPITest, UnauthorizedAnswerToAnUnauthenticatedCallIsRejected)
{
    TranslationAPI api;
    const Credentials pair = signIn(api, "13800000005");
    fault("v1/auth/login/phone-code",
        { { "httpStatus", 401 }, { "envelope", QJsonObject { { "code", 1001 } } } });
    EXPECT_EQ(outcome(api.login("86", "13800000005", "000000")), "rejected(1001)");
    EXPECT_EQ(api.credentials(), pair);
    EXPECT_TRUE(requestsTo(localService(), "v1/auth/refresh").isEmpty());
}

TEST_F(TranslationAPITest, StaleUnauthorizedAnswerKeepsANewerSignIn)
{
    TranslationAPI api;
    signIn(api, "13800000006");
    fault("v1/points/wallet",
        { { "count", 2 }, { "httpStatus", 401 }, { "delayMs", 1000 },
            { "envelope", QJsonObject { { "code", 1001 } } } });
    const auto wallet = start(api.wallet());
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return requestsTo(localService(), "v1/points/wallet").size() == 2; }));
    const Credentials newer = signIn(api, "13800000007");
    EXPECT_EQ(finished(wallet), "signedOut");
    EXPECT_EQ(api.credentials(), newer);
}

TEST_F(TranslationAPITest, LogoutCancelsTheRenewalInFlight)
{
    TranslationAPI api;
    signIn(api, "13800000008");
    QList<std::optional<Credentials>> saved;
    api.setSaveCredentials([&](const std::optional<Credentials> &c) { saved.append(c); });
    localService().control("POST", "expire-access-tokens");
    fault("v1/auth/refresh", { { "delayMs", 1500 } });
    const auto wallet = start(api.wallet());
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return !requestsTo(localService(), "v1/auth/refresh").isEmpty(); }));

    EXPECT_EQ(outcome(api.logout()), "ok");
    EXPECT_EQ(finished(wallet), "CancellationError");
    TestSupport::drainEvents();
    EXPECT_FALSE(api.credentials());
    EXPECT_EQ(saved, QList<std::optional<Credentials>> { std::nullopt });
    EXPECT_EQ(requestsTo(localService(), "v1/auth/revoke").size(), 1);
}

TEST_F(TranslationAPITest, TransportFailuresPassThroughUnchanged)
{
    auto gone = std::make_unique<LocalServiceProcess>();
    ASSERT_TRUE(gone->isRunning());
    TranslationAPI api({}, baseOf(*gone));
    const Credentials pair = signIn(api, "13800000009", *gone);

    // A renewal that fails in transit keeps the pair.
    gone->control("POST", "expire-access-tokens");
    fault("v1/auth/refresh", { { "delayMs", 5000 } }, *gone);
    const auto wallet = start(api.wallet());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return !requestsTo(*gone, "v1/auth/refresh").isEmpty(); }));
    gone.reset();
    EXPECT_EQ(finished(wallet).rfind("NetworkError(", 0), 0u);
    EXPECT_EQ(api.credentials(), pair);

    // Logging out while the service is unreachable still signs out locally first.
    EXPECT_EQ(outcome(api.logout()),
        "NetworkError(" + std::to_string(QNetworkReply::ConnectionRefusedError) + ")");
    EXPECT_FALSE(api.credentials());

    LocalServiceProcess rogue({ "--cert", LocalServiceProcess::certsDir() + "/rogue-server.pem",
        "--key", LocalServiceProcess::certsDir() + "/rogue-server.key" });
    ASSERT_TRUE(rogue.isRunning());
    TranslationAPI misled({}, baseOf(rogue));
    EXPECT_EQ(outcome(misled.sendCode("86", "13800000010")),
        "NetworkError(" + std::to_string(QNetworkReply::SslHandshakeFailedError) + ")");
}

TEST_F(TranslationAPITest, CancellingAbortsTheRequest)
{
    TranslationAPI api(Credentials { "access", "refresh" });
    fault("v1/points/wallet", { { "delayMs", 5000 } });
    CancellationSource source;
    const auto wallet = start(api.wallet(source.token()));
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return !requestsTo(localService(), "v1/points/wallet").isEmpty(); }));
    source.cancel();
    EXPECT_EQ(finished(wallet), "CancellationError");

    // A client that goes away ends what it still has in flight.
    auto doomed = std::make_unique<TranslationAPI>(Credentials { "access", "refresh" });
    fault("v1/points/wallet", { { "delayMs", 5000 } });
    const auto orphan = start(doomed->wallet());
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return requestsTo(localService(), "v1/points/wallet").size() == 2; }));
    doomed.reset();
    EXPECT_EQ(finished(orphan), "CancellationError");
}

TEST_F(TranslationAPITest, RoutesKeepOnlyTextDirections)
{
    const auto route = [](const char *code, QJsonValue modes) {
        QJsonObject json { { "routeCode", code }, { "displayName", code } };
        if (!modes.isUndefined())
            json.insert("supportedOutputModes", modes);
        return json;
    };
    const QJsonArray routes { route("plain", QJsonValue::Undefined),
        route("both", QJsonArray { "TEXT_AND_SPEECH", "TEXT_ONLY" }),
        route("speech", QJsonArray { "TEXT_AND_SPEECH" }), route("string", "TEXT_ONLY"),
        route("mixed", QJsonArray { 1, "TEXT_ONLY" }) };
    TranslationAPI api(Credentials { "access", "refresh" });
    fault("v1/translation/routes",
        { { "envelope", QJsonObject { { "code", 0 }, { "data", routes } } } });
    QStringList codes;
    for (const TranslationRoute &kept : TestSupport::runTask(api.routes()))
        codes << kept.code;
    EXPECT_EQ(codes, QStringList({ "plain", "both" }));

    const QJsonArray broken { route("plain", QJsonValue::Undefined),
        QJsonObject { { "routeCode", 5 } } };
    fault("v1/translation/routes",
        { { "envelope", QJsonObject { { "code", 0 }, { "data", broken } } } });
    EXPECT_EQ(outcome(api.routes()), "invalidResponse");
}

TEST_F(TranslationAPITest, UnusableCreatedSessionNamesItsId)
{
    const auto with = [](std::initializer_list<std::pair<const char *, QJsonValue>> changes) {
        QJsonObject data = goodSession;
        data["wsUrl"]
            = localService().origin().replace("https", "wss") + "/api/ws/v1/translation/77";
        for (const auto &[key, value] : changes)
            data[key] = value;
        return QJsonObject { { "code", 0 }, { "data", data } };
    };
    const struct {
        const char *description;
        QJsonObject envelope;
        std::string expected;
    } cases[] = {
        { "usable", with({}), "ok" },
        { "socket on another host",
            with({ { "wsUrl", "wss://elsewhere.test/api/ws/v1/translation/77" } }),
            "invalidCreatedSession(77)" },
        { "48 kHz",
            with({ { "inputAudio",
                QJsonObject {
                    { "encoding", "PCM_S16LE" }, { "sampleRate", 48000 }, { "channels", 1 } } } }),
            "invalidCreatedSession(77)" },
        { "no session id", with({ { "sessionId", "x" } }), "invalidResponse" },
    };
    TranslationAPI api(Credentials { "access", "refresh" });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        fault("v1/translation/sessions", { { "envelope", c.envelope } });
        EXPECT_EQ(outcome(api.create("en-zh", false, "k")), c.expected);
    }
}

TEST_F(TranslationAPITest, QRLoginCommitsOnlyWhileTheSignInIsUnchanged)
{
    TranslationAPI api;
    const DeviceLoginChallenge challenge = TestSupport::runTask(api.createDeviceLogin());
    EXPECT_EQ(
        TestSupport::runTask(api.pollDeviceLogin(challenge)).kind, DeviceLoginPoll::Kind::pending);
    localService().control("POST", "device-login",
        { { "challengeId", challenge.id }, { "action", "approve" }, { "phone", "13800000011" } });
    const DeviceLoginPoll approved = TestSupport::runTask(api.pollDeviceLogin(challenge));
    ASSERT_EQ(approved.kind, DeviceLoginPoll::Kind::authorized);
    api.completeDeviceLogin(*approved.credentials, challenge);
    EXPECT_EQ(api.credentials(), approved.credentials);
    EXPECT_EQ(outcome(api.wallet()), "1000");

    const DeviceLoginChallenge late = TestSupport::runTask(api.createDeviceLogin());
    const Credentials phone = signIn(api, "13800000012");
    localService().control("POST", "device-login",
        { { "challengeId", late.id }, { "action", "approve" }, { "phone", "13800000011" } });
    const DeviceLoginPoll refused = TestSupport::runTask(api.pollDeviceLogin(late));
    ASSERT_EQ(refused.kind, DeviceLoginPoll::Kind::authorized);
    EXPECT_THROW(api.completeDeviceLogin(*refused.credentials, late), CancellationError);
    EXPECT_EQ(api.credentials(), phone);
    EXPECT_EQ(outcome(api.discardDeviceLogin(*refused.credentials)), "ok");
}

TEST_F(TranslationAPITest, PersistenceFailureIsRecordedNotThrown)
{
    TranslationAPI api;
    api.setSaveCredentials([](const auto &) { throw std::runtime_error("disk full"); });
    const qint64 generation = api.authGeneration();
    signIn(api, "13800000013");
    EXPECT_TRUE(api.credentials());
    EXPECT_EQ(api.authGeneration(), generation + 1);
    EXPECT_EQ(describe(api.credentialPersistenceFailure()), "other: disk full");
}

TEST_F(TranslationAPITest, RechargeOperationsContactNothing)
{
    TranslationAPI api(Credentials { "access", "refresh" });
    EXPECT_EQ(outcome(api.rechargePackages()), "invalidResponse");
    EXPECT_EQ(outcome(api.rechargeOrders()), "invalidResponse");
    EXPECT_EQ(outcome(api.paymentOptions()), "unsafeAddress");
    EXPECT_EQ(outcome(api.createRecharge({}, "MPAY", "k")), "unsafeAddress");
    EXPECT_EQ(outcome(api.paymentHandoff({})), "unsafeAddress");
    EXPECT_EQ(outcome(api.refreshPayment({})), "unsafeAddress");
    EXPECT_EQ(outcome(api.cancelPayment({})), "unsafeAddress");
    EXPECT_TRUE(localService().control("GET", "requests")["requests"].toArray().isEmpty());
}

} // namespace
