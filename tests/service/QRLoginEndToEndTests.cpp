#include "ServiceEnvironment.h"

#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Async/Clock.h"
#include "TranslateMac/Account/QRLoginModel.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// The challenge ids named in the bodies of the service's requests to `path` (below /api/).
QStringList challengesSentTo(const QString &path)
{
    QStringList ids;
    for (const QJsonValue &request :
        localService().control("GET", "requests")["requests"].toArray())
        if (request["path"] == path)
            ids.append(QJsonDocument::fromJson(request["body"].toString().toUtf8())["challengeId"]
                           .toString());
    return ids;
}

TEST(QRLoginEndToEnd, ApprovedOnThePhoneSignsInAndCancelsTheChallenge)
{
    localService().reset();
    localService().control("POST", "balance", { { "phone", "13800000021" }, { "points", 700 } });
    TranslationAPI api;
    // The service's own polling interval is seconds; the pauses are shortened, not skipped.
    QRLoginModel model(
        QRLoginModel::Service::from(api), [] { return SystemClock::shared().now(); },
        [](std::chrono::milliseconds, CancellationToken token) {
            return SystemClock::shared().sleep(50ms, std::move(token));
        });

    bool finished = false;
    bool signedIn = false;
    [](QCoro::Task<bool> run, bool *done, bool *result) -> QCoro::Task<> {
        *result = co_await run;
        *done = true;
    }(model.run(), &finished, &signedIn);

    ASSERT_TRUE(TestSupport::spinUntil([&] { return model.challenge().has_value(); }, 10s));
    const DeviceLoginChallenge challenge = *model.challenge();
    EXPECT_EQ(model.phase(), QRLoginModel::Phase::waiting);
    EXPECT_EQ(challenge.rows.size(), challenge.rows.value(0).size()); // a square QR matrix
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return !challengesSentTo("v1/auth/watch-login/poll").isEmpty(); }, 10s));

    localService().control("POST", "device-login",
        { { "challengeId", challenge.id }, { "action", "approve" }, { "phone", "13800000021" } });
    ASSERT_TRUE(TestSupport::spinUntil([&] { return finished; }, 15s));
    EXPECT_TRUE(signedIn);
    EXPECT_EQ(model.phase(), QRLoginModel::Phase::completed);
    EXPECT_EQ(model.challenge(), std::nullopt);
    ASSERT_TRUE(api.credentials().has_value());
    EXPECT_EQ(TestSupport::runTask(api.wallet()), 700); // the QR sign-in is the phone's account

    // The used challenge is dropped on the service in the background.
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            return challengesSentTo("v1/auth/watch-login/cancel") == QStringList { challenge.id };
        },
        10s));
    EXPECT_EQ(
        TestSupport::runTask(api.pollDeviceLogin(challenge)).kind, DeviceLoginPoll::Kind::expired);
}

} // namespace
