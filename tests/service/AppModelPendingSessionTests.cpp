#include "AppModelFixture.h"

#include "support/AppModelTestSeam.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Account/SQLiteSessionPreferences.h"
#include "TranslateMac/Account/SessionCredentialStore.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// Models that record their sessions in a real credential database in a temporary folder; a
// "launch" is a new model on the same files, as after the process was killed.
class PendingSessionScenario : public AppModelScenario {
protected:
    void SetUp() override
    {
        AppModelScenario::SetUp();
        settings = std::make_unique<QSettings>(
            temporary.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        model = launch(std::nullopt);
    }

    std::shared_ptr<SessionCredentialStore> store()
    {
        return std::make_shared<SessionCredentialStore>(
            QUrl::fromLocalFile(temporary.path() + QStringLiteral("/session.sqlite3")),
            std::make_shared<SQLiteSessionPreferences>(*settings));
    }

    std::unique_ptr<AppModel> launch(std::optional<Credentials> credentials)
    {
        return launch(credentials, store());
    }
    std::unique_ptr<AppModel> launch(
        std::optional<Credentials> credentials, std::shared_ptr<SessionCredentialStore> on)
    {
        auto owned = std::make_unique<TestSupport::ScriptedCapture>();
        capture = owned.get();
        TranscriptExport seams;
        seams.copy = [](const QString &) {};
        seams.chooseSaveLocation = [](const QString &, TranscriptExport::Completion) {};
        return std::make_unique<AppModel>(std::make_unique<TranslationAPI>(credentials),
            std::move(owned), nullptr, clock, seams, std::move(on));
    }

    // Signs in, starts listening and ends the process without a stop: the session stays open
    // on the service. Returns the sign-in the next launch restores.
    Credentials listenThenKill()
    {
        signIn();
        startListening();
        const Credentials credentials = *AppModelTestSeam::api(*model).credentials();
        model.reset();
        TestSupport::drainEvents();
        return credentials;
    }

    bool settledOnce()
    {
        return waitFor([&] {
            return !model->sessionID() && !model->settling() && !model->accountBusy()
                && !model->quoteBusy();
        }) && createdSessions() == 1
            && finishedSessions() == 1;
    }

    QString finishPath() { return QStringLiteral("v1/translation/sessions/%1/finish").arg(id); }

    QTemporaryDir temporary;
    std::unique_ptr<QSettings> settings;
    qint64 id = 0;
};

TEST_F(PendingSessionScenario, CreatedSessionIsRecordedUntilItsSettlementIsConfirmed)
{
    signIn();
    startListening();
    id = *model->sessionID();
    ASSERT_EQ(store()->pendingSessions().size(), 1u);
    EXPECT_EQ(store()->pendingSessions().front().sessionId, id);
    EXPECT_EQ(store()->pendingSessions().front().routeCode, "EN_ZH");
    const auto startedAt = store()->pendingSessions().front().startedAt;
    ASSERT_TRUE(startedAt.has_value());
    EXPECT_LT(std::chrono::abs(*startedAt - clock.now()), 1ms);

    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    EXPECT_TRUE(store()->pendingSessions().empty());
    expectSettled(1);
}

TEST_F(PendingSessionScenario, SessionThatCannotBeRecordedIsNotUsedAndSettledAtOnce)
{
    // The store's folder cannot be made: a file stands where it should be.
    QFile blocker(temporary.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    model = launch(std::nullopt,
        std::make_shared<SessionCredentialStore>(
            QUrl::fromLocalFile(blocker.fileName() + QStringLiteral("/data/session.sqlite3")),
            std::make_shared<SQLiteSessionPreferences>(*settings)));
    signIn();
    beginStart();
    ASSERT_TRUE(waitFor([&] { return createdSessions() == 1 && !model->ownsSession(); }));
    EXPECT_EQ(rawValue(model->state()), rawValue(State::completed));
    EXPECT_TRUE(model->error().has_value());
    EXPECT_FALSE(capture->capturing()); // the session was never used
    expectSettled(1);
}

TEST_F(PendingSessionScenario, SessionLeftByAKilledProcessIsSettledAtTheNextSignedInLaunch)
{
    const Credentials credentials = listenThenKill();
    id = firstSessionID();
    EXPECT_EQ(finishedSessions(), 0);

    model = launch(credentials);
    // Owned from the first moment: nothing can start or sign out over it.
    EXPECT_EQ(model->sessionID(), id);
    EXPECT_TRUE(model->ownsSession());
    EXPECT_EQ(rawValue(model->state()), rawValue(State::pending));
    TestSupport::start(model->bootstrap());

    ASSERT_TRUE(settledOnce());
    EXPECT_EQ(requestCount(finishPath()), 1);
    expectEnd(State::completed, std::nullopt, settledNotice);
    EXPECT_TRUE(store()->pendingSessions().empty());
    // A new translation starts (the service no longer holds an open session for the user).
    ASSERT_TRUE(waitFor([&] { return model->canStart(); }));
    startListening();
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    EXPECT_EQ(createdSessions(), 2);
    EXPECT_EQ(finishedSessions(), 2);
}

TEST_F(PendingSessionScenario, SignedOutAtLaunchStaysPendingUntilTheSignIn)
{
    listenThenKill();
    id = firstSessionID();

    model = launch(std::nullopt);
    TestSupport::runTask(model->bootstrap());
    clock.advance(10min);
    TestSupport::drainEvents();
    EXPECT_EQ(model->sessionID(), id);
    EXPECT_EQ(model->notice(), "上次的翻译未正常结束，登录后将自动完成结算。");
    EXPECT_FALSE(model->loggedIn());
    EXPECT_EQ(requestCount(finishPath()), 0);
    EXPECT_EQ(finishedSessions(), 0);

    // The same account signs in again (by QR: a second SMS code within a minute is refused).
    auto qr = TestSupport::start(model->runQRLogin());
    approveQRSignIn();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] {
        clock.advance(1s);
        return qr->done;
    }));
    ASSERT_TRUE(settledOnce());
    EXPECT_EQ(requestCount(finishPath()), 1);
    EXPECT_EQ(model->notice(), settledNotice);
    // The account the held session kept from loading arrives after the settlement.
    EXPECT_TRUE(waitFor([&] { return model->canStart(); }));
}

TEST_F(PendingSessionScenario, NetworkFailureAtLaunchIsRetriedWithBackOffAndSettlesOnce)
{
    const Credentials credentials = listenThenKill();
    id = firstSessionID();
    service().fault(finishPath(), { { "drop", true }, { "count", 2 } });

    model = launch(credentials);
    TestSupport::start(model->bootstrap());
    ASSERT_TRUE(waitFor([&] { return model->state() == State::pending && model->error(); }));
    EXPECT_EQ(model->error(), pendingError);
    EXPECT_TRUE(model->ownsSession());
    ASSERT_TRUE(waitFor([&] { return clock.sleeperCount() == 1; }));
    clock.advance(AppModel::pendingRetryFirst - 1ms);
    TestSupport::drainEvents();
    EXPECT_EQ(requestCount(finishPath()), 1); // not before the back-off ends

    clock.advance(1ms); // the second try fails too; the next waits twice as long
    ASSERT_TRUE(waitFor([&] { return requestCount(finishPath()) == 2 && !model->settling(); }));
    ASSERT_TRUE(waitFor([&] { return clock.sleeperCount() == 1; }));
    clock.advance(2 * AppModel::pendingRetryFirst);
    ASSERT_TRUE(settledOnce());
    EXPECT_EQ(requestCount(finishPath()), 3);
    // The text asking to press a button that is gone is replaced by the outcome.
    expectEnd(State::completed, std::nullopt, settledNotice);
    EXPECT_TRUE(store()->pendingSessions().empty());
}

} // namespace
