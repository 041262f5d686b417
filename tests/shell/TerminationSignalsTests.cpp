#include "TranslateMac/Shell/TerminationSignals.h"

#include "support/TestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

volatile sig_atomic_t earlierHandlerRan = 0;

void earlierHandler(int)
{
    earlierHandlerRan = 1;
}

} // namespace

TEST(TerminationSignals, DeliversEachSignalOnTheEventLoopNotInTheHandler)
{
    TerminationSignals termination;
    ASSERT_TRUE(termination.isActive());
    QSignalSpy received(&termination, &TerminationSignals::received);
    for (const int signal : TerminationSignals::caught)
        ASSERT_EQ(std::raise(signal), 0);
    EXPECT_EQ(received.count(), 0); // nothing ran inside the handler
    ASSERT_TRUE(TestSupport::spinUntil([&] { return received.count() == 3; }, 5s));
    EXPECT_EQ(received.at(0).first().toInt(), SIGTERM);
    EXPECT_EQ(received.at(1).first().toInt(), SIGINT);
    EXPECT_EQ(received.at(2).first().toInt(), SIGHUP);
}

TEST(TerminationSignals, GivesTheEarlierHandlingBackWhenDestroyed)
{
    struct sigaction earlier { };
    earlier.sa_handler = earlierHandler;
    sigemptyset(&earlier.sa_mask);
    struct sigaction saved { };
    ASSERT_EQ(::sigaction(SIGHUP, &earlier, &saved), 0);
    {
        TerminationSignals termination;
    }
    earlierHandlerRan = 0;
    std::raise(SIGHUP);
    EXPECT_EQ(earlierHandlerRan, 1);
    ::sigaction(SIGHUP, &saved, nullptr);
}
