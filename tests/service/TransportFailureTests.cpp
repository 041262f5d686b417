#include "ServiceEnvironment.h"

#include "support/Outcome.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QNetworkReply>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace TranslateCore;
using TestSupport::outcome;

namespace {

const std::string networkFailure
    = "NetworkError(" + std::to_string(QNetworkReply::RemoteHostClosedError) + ")";

using TransportFailureTest = LocalServiceTest;

// A connection that drops after the request arrived fails the call. A POST is never sent a second
// time behind the caller's back; a GET, which changes nothing, is repeated once by Qt.
TEST_F(TransportFailureTest, DroppedConnectionFailsAfterExactlyOneSend)
{
    const DeviceLoginChallenge challenge { QString(22, 'a'), QString(43, 'b'), "ABCDEFGH", {}, 0,
        {}, 0 };
    using Operation = std::function<std::string(TranslationAPI &)>;
    const struct {
        const char *path;
        Operation operation;
        qsizetype sends = 1;
    } cases[] = {
        { "v1/points/wallet", [](TranslationAPI &api) { return outcome(api.wallet()); }, 2 },
        { "v1/users/me", [](TranslationAPI &api) { return outcome(api.profile()); }, 2 },
        { "v1/app-updates/check",
            [](TranslationAPI &api) {
                return outcome(api.checkAppUpdate({ "1.0.0", 1 }));
            },
            2 },
        { "v1/auth/send-code",
            [](TranslationAPI &api) { return outcome(api.sendCode("86", "13800000020")); } },
        { "v1/auth/revoke", [](TranslationAPI &api) { return outcome(api.logout()); } },
        { "v1/translation/quote", [](TranslationAPI &api) { return outcome(api.quote("EN_ZH")); } },
        { "v1/translation/sessions",
            [](TranslationAPI &api) { return outcome(api.create("EN_ZH", false, "k")); } },
        { "v1/auth/watch-login/poll",
            [&](TranslationAPI &api) { return outcome(api.pollDeviceLogin(challenge)); } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        service.reset();
        TranslationAPI api(Credentials { "access", "refresh" });
        service.fault(c.path, { { "drop", true }, { "count", 10 } });
        EXPECT_EQ(c.operation(api), networkFailure);
        EXPECT_EQ(service.requestsTo(c.path).size(), c.sends);
    }
}

TEST_F(TransportFailureTest, DroppedRenewalKeepsThePairAndSendsItOnce)
{
    TranslationAPI api;
    const Credentials pair = signIn(api, "13800000021");
    service.control("POST", "expire-access-tokens");
    service.fault("v1/auth/refresh", { { "drop", true }, { "count", 10 } });

    EXPECT_EQ(outcome(api.wallet()), networkFailure);
    EXPECT_EQ(api.credentials(), pair);
    EXPECT_EQ(service.requestsTo("v1/auth/refresh").size(), 1);
    EXPECT_EQ(service.requestsTo("v1/points/wallet").size(), 1);
}

TEST_F(TransportFailureTest, CompressedBodyPastTheLimitIsAnInvalidResponse)
{
    TranslationAPI api(Credentials { "access", "refresh" });
    const QJsonObject data { { "code", 0 }, { "data", QJsonObject { { "availablePoints", 5 } } } };
    service.fault("v1/points/wallet", { { "envelope", data }, { "deflate", true } });
    EXPECT_EQ(outcome(api.wallet()), "5");
    service.fault("v1/points/wallet",
        { { "envelope", data }, { "deflate", true }, { "bodyBytes", 64 * 1024 * 1024 } });
    EXPECT_EQ(outcome(api.wallet()), "invalidResponse");
}

// A client pointed at another service accepts the sessions that service creates for it.
TEST_F(TransportFailureTest, CreatedSessionIsCheckedAgainstTheClientsOwnService)
{
    LocalServiceProcess other;
    ASSERT_TRUE(other.isRunning());
    TranslationAPI api({}, QUrl(other.origin() + "/api/"));
    signIn(api, "13800000022", other);
    const CreatedSession created = TestSupport::runTask(api.create("EN_ZH", false, "k"));
    EXPECT_TRUE(QUrl(created.wsURL).port() == other.port());
    EXPECT_EQ(TestSupport::runTask(api.ticket(created.id, 0)).port(), other.port());
}

} // namespace
