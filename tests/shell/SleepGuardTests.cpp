#include "TranslateMac/Shell/SleepGuard.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// A power manager that remembers what it was asked and announces sleep when the test says so.
class FakeSleepLock : public SleepLock {
public:
    void acquire() override
    {
        if (!m_held)
            ++acquisitions;
        m_held = true;
    }
    void release() override { m_held = false; }
    bool held() const override { return m_held; }
    void announce(bool sleeping) { Q_EMIT sleepAnnounced(sleeping); }

    int acquisitions = 0;

private:
    bool m_held = false;
};

class SleepGuardTest : public ::testing::Test {
protected:
    SleepGuardTest()
    {
        guard.setTarget(SleepGuard::Target {
            [this] { return ownsSession; },
            [this] { return snapshot; },
            [this] {
                ++stops;
                snapshot = { ListeningState::stopping, true, true };
            },
            [this](const QString &text) { told << text; },
        });
    }

    void advance(std::chrono::milliseconds duration)
    {
        clock.advance(duration);
        TestSupport::drainEvents();
    }

    void own(bool owned)
    {
        ownsSession = owned;
        guard.ownershipChanged();
    }

    TranslateCore::ManualClock clock;
    FakeSleepLock lock;
    SleepGuard guard { lock, clock };
    bool ownsSession = false;
    QuitSnapshot snapshot { ListeningState::listening, true, false };
    int stops = 0;
    QStringList told;
};

} // namespace

TEST_F(SleepGuardTest, HoldsTheLockOnlyWhileASessionIsOwned)
{
    EXPECT_FALSE(lock.held());
    own(true);
    EXPECT_TRUE(lock.held());
    own(true);
    EXPECT_EQ(lock.acquisitions, 1);
    own(false);
    EXPECT_FALSE(lock.held());
}

TEST_F(SleepGuardTest, SleepStopsAndSettlesBeforeLettingGoThenTellsWhyAfterWaking)
{
    own(true);
    lock.announce(true);
    EXPECT_EQ(stops, 1);
    advance(300ms);
    EXPECT_TRUE(lock.held()); // still settling: the computer waits
    snapshot = { ListeningState::completed, false, false };
    own(false); // ownership changes while going to sleep do not let go early...
    EXPECT_TRUE(lock.held());
    advance(100ms); // ...the next check does, once the session is settled
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(told.isEmpty());

    lock.announce(false);
    EXPECT_EQ(told, QStringList { QStringLiteral("电脑已进入睡眠，本次翻译已停止。") });
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(lock.acquisitions, 1);
}

TEST_F(SleepGuardTest, LetsGoWithinFourSecondsWhenTheSettlementHangs)
{
    own(true);
    lock.announce(true);
    advance(3999ms);
    EXPECT_TRUE(lock.held());
    advance(1ms);
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(clock.sleeperCount(), 0u);

    // Woken with the settlement still unconfirmed: the session is still owned, so lock again.
    snapshot = { ListeningState::pending, true, false };
    lock.announce(false);
    EXPECT_TRUE(lock.held());
    EXPECT_EQ(lock.acquisitions, 2);
    EXPECT_EQ(told.size(), 1);
}

TEST_F(SleepGuardTest, SleepWithoutATranslationStopsNothingAndSaysNothing)
{
    lock.announce(true);
    lock.announce(false);
    EXPECT_EQ(stops, 0);
    EXPECT_TRUE(told.isEmpty());
    EXPECT_FALSE(lock.held());
}
