#include "TranslateMac/Shell/GuardedQuit.h"

#include "support/TestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

struct QuitCase {
    const char *name;
    QuitSnapshot snapshot;
    int pauses;
    QuitCheck expected;
};

const QuitCase quitCases[] = {
    { "IdleAtOnce", { ListeningState::idle, false, false }, 0, QuitCheck::quit },
    { "CompletedAfterPauses", { ListeningState::completed, false, false }, 3, QuitCheck::quit },
    { "FailedWithoutSession", { ListeningState::failed, false, false }, 1, QuitCheck::quit },
    { "StoppingWaits", { ListeningState::stopping, true, true }, 1, QuitCheck::wait },
    { "PreparingWaits", { ListeningState::preparing, false, false }, 0, QuitCheck::wait },
    { "ConnectingWaits", { ListeningState::connecting, true, false }, 2, QuitCheck::wait },
    { "ReconnectingWaits", { ListeningState::reconnecting, true, false }, 2, QuitCheck::wait },
    { "ListeningWithSessionWaits", { ListeningState::listening, true, false }, 0, QuitCheck::wait },
    { "CompletedStillHoldingSessionWaits", { ListeningState::completed, true, false }, 1,
        QuitCheck::wait },
    { "CompletedWhileWalletRefreshWaits", { ListeningState::completed, false, true }, 1,
        QuitCheck::wait },
    { "PendingAtOnceWaitsForOnePause", { ListeningState::pending, true, false }, 0,
        QuitCheck::wait },
    { "PendingAfterAPauseGivesUp", { ListeningState::pending, true, false }, 1, QuitCheck::giveUp },
    { "StillStoppingAfterFiftyNinePausesWaits", { ListeningState::stopping, true, true }, 59,
        QuitCheck::wait },
    { "SixtyPausesGiveUp", { ListeningState::stopping, true, true }, 60, QuitCheck::giveUp },
    { "SixtyPausesGiveUpEvenWhenSettled", { ListeningState::completed, false, false }, 60,
        QuitCheck::giveUp },
};

class DeferredQuitCheck : public ::testing::TestWithParam<QuitCase> { };

// A model the quit can be pointed at: its state is whatever the test sets.
struct FakeQuitTarget {
    bool ownsSession = true;
    QuitSnapshot snapshot { ListeningState::listening, true, false };
    int stops = 0;
    QStringList refusals;

    GuardedQuit::Target target()
    {
        return GuardedQuit::Target { [this] { return ownsSession; }, [this] { return snapshot; },
            [this] {
                ++stops;
                snapshot = { ListeningState::stopping, true, true };
            },
            [this](const QString &text) { refusals << text; } };
    }
};

class GuardedQuitTest : public ::testing::Test {
protected:
    GuardedQuitTest() { quit.setTarget(fake.target()); }
    ~GuardedQuitTest() override
    {
        // A deferred quit still waiting ends with its owner; its cancellation resumes it from
        // the event loop.
        owned.reset();
        TestSupport::drainEvents();
    }

    TranslateCore::ManualClock clock;
    std::unique_ptr<GuardedQuit> owned = std::make_unique<GuardedQuit>(clock);
    GuardedQuit &quit = *owned;
    FakeQuitTarget fake;
    QSignalSpy answers { owned.get(), &GuardedQuit::answered };

    void advance(std::chrono::milliseconds duration)
    {
        clock.advance(duration);
        TestSupport::drainEvents();
    }
};

} // namespace

TEST_P(DeferredQuitCheck, DecidesFromStateSessionAndPauses)
{
    const QuitCase &c = GetParam();
    EXPECT_EQ(checkDeferredQuit(c.snapshot, c.pauses), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeferredQuitCheck, ::testing::ValuesIn(quitCases),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GuardedQuitWithoutModel, QuitsAtOnce)
{
    TranslateCore::ManualClock clock;
    GuardedQuit quit(clock);
    EXPECT_EQ(quit.request(), QuitReply::now);
}

TEST_F(GuardedQuitTest, QuitsAtOnceWhenNoSessionIsOwned)
{
    fake.ownsSession = false;
    EXPECT_EQ(quit.request(), QuitReply::now);
    EXPECT_EQ(fake.stops, 0);
    EXPECT_FALSE(quit.terminating());
}

TEST_F(GuardedQuitTest, StopsWaitsAndQuitsOnceTheSessionIsSettled)
{
    ASSERT_EQ(quit.request(), QuitReply::later);
    EXPECT_EQ(fake.stops, 1);
    EXPECT_TRUE(quit.terminating());
    advance(1500ms);
    EXPECT_EQ(answers.count(), 0);

    fake.snapshot = { ListeningState::completed, false, false };
    advance(499ms);
    EXPECT_EQ(answers.count(), 0); // the next check is half a second after the last one
    advance(1ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
    EXPECT_TRUE(fake.refusals.isEmpty());
    EXPECT_FALSE(quit.terminating());
}

TEST_F(GuardedQuitTest, RefusesASecondRequestWhileTheFirstIsDeferred)
{
    ASSERT_EQ(quit.request(), QuitReply::later);
    EXPECT_EQ(quit.request(), QuitReply::cancel);
    EXPECT_EQ(fake.stops, 1);
}

TEST_F(GuardedQuitTest, PendingSettlementKeepsTheApplicationOpenWithTheMessage)
{
    ASSERT_EQ(quit.request(), QuitReply::later);
    fake.snapshot = { ListeningState::pending, true, false };
    advance(500ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_FALSE(answers.first().first().toBool());
    EXPECT_EQ(fake.refusals,
        QStringList { QStringLiteral("监听已停止，但结算尚未确认。请点击“确认结算”后再退出。") });
    EXPECT_FALSE(quit.terminating());
    // A later request starts over.
    EXPECT_EQ(quit.request(), QuitReply::later);
    EXPECT_EQ(fake.stops, 2);
}

TEST_F(GuardedQuitTest, GivesUpAfterThirtySecondsStillStopping)
{
    ASSERT_EQ(quit.request(), QuitReply::later);
    advance(29500ms);
    EXPECT_EQ(answers.count(), 0);
    advance(500ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_FALSE(answers.first().first().toBool());
    EXPECT_EQ(fake.refusals.size(), 1);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST_F(GuardedQuitTest, QuitsWithoutAPauseWhenStopEndsTheSessionAtOnce)
{
    fake.ownsSession = true;
    fake.snapshot = { ListeningState::idle, false, false };
    GuardedQuit::Target target = fake.target();
    target.stop = [this] { ++fake.stops; }; // a stop that finds nothing left to end
    quit.setTarget(target);
    ASSERT_EQ(quit.request(), QuitReply::later);
    TestSupport::drainEvents();
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
}

TEST_F(GuardedQuitTest, BoundedEndWithoutASessionQuitsAtOnce)
{
    fake.ownsSession = false;
    EXPECT_EQ(quit.requestBounded(), QuitReply::now);
    EXPECT_EQ(fake.stops, 0);
}

TEST_F(GuardedQuitTest, BoundedEndStopsAndQuitsOnceSettled)
{
    ASSERT_EQ(quit.requestBounded(), QuitReply::later);
    EXPECT_EQ(fake.stops, 1);
    advance(1000ms);
    EXPECT_EQ(answers.count(), 0);
    fake.snapshot = { ListeningState::completed, false, false };
    advance(500ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
    EXPECT_TRUE(fake.refusals.isEmpty());
}

TEST_F(GuardedQuitTest, BoundedEndQuitsAfterTenSecondsStillStopping)
{
    ASSERT_EQ(quit.requestBounded(), QuitReply::later);
    advance(9999ms);
    EXPECT_EQ(answers.count(), 0);
    advance(1ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
    EXPECT_TRUE(fake.refusals.isEmpty());
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST_F(GuardedQuitTest, BoundedEndQuitsWhenTheSettlementAwaitsConfirmation)
{
    ASSERT_EQ(quit.requestBounded(), QuitReply::later);
    fake.snapshot = { ListeningState::pending, true, false };
    advance(500ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
    EXPECT_TRUE(fake.refusals.isEmpty());
}

TEST_F(GuardedQuitTest, BoundedEndTakesOverADeferredQuitWithoutStoppingTwice)
{
    ASSERT_EQ(quit.request(), QuitReply::later);
    advance(1200ms);
    EXPECT_EQ(quit.requestBounded(), QuitReply::later);
    EXPECT_TRUE(quit.bounded());
    EXPECT_EQ(fake.stops, 1);
    // Ten seconds after the desktop asked, not thirty after the user did.
    advance(9800ms);
    EXPECT_EQ(answers.count(), 0);
    advance(500ms);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_TRUE(answers.first().first().toBool());
    EXPECT_TRUE(fake.refusals.isEmpty());
}
