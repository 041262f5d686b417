#include "TranslateMac/AppModel/LiveConnection.h"

#include "support/Outcome.h"
#include "support/ScriptedSocketConnection.h"
#include "support/TestSupport.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

constexpr qint64 sessionID = 42;

// One connection on a socket the test plays, with the events its owner received.
class LiveConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        socket = std::make_shared<TestSupport::ScriptedSocketConnection>();
        connection = std::make_unique<LiveConnection>(
            socket, sessionID, clock,
            [this](ServerEvent event) -> QCoro::Task<bool> {
                received.append(event.type);
                co_return event.type != u"session.finished";
            },
            lifetime.token());
        QObject::connect(connection.get(), &LiveConnection::lost,
            [this](std::exception_ptr reason) { lost.append(reason); });
    }

    // Closing ends the connection's loops; let them unwind before the clock and the socket they
    // wait on go too.
    void TearDown() override
    {
        TestSupport::runTask(connection->close());
        connection.reset();
        TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20));
    }

    void announceReady(qint64 id = sessionID, qint64 heartbeatMs = 1000)
    {
        socket->deliver({ { "type", "session.ready" }, { "sessionId", id },
            { "heartbeatIntervalMs", heartbeatMs } });
    }
    static std::optional<TranslationFailure::Case> failureOf(std::exception_ptr error)
    {
        try {
            std::rethrow_exception(error);
        } catch (const TranslationFailure &failure) {
            return failure.kind();
        } catch (...) {
            return std::nullopt;
        }
    }
    // Runs ready() to its end: nothing when ready, else what it failed with.
    std::exception_ptr awaitReady()
    {
        try {
            TestSupport::runTask(connection->ready());
            return nullptr;
        } catch (...) {
            return std::current_exception();
        }
    }

    ManualClock clock;
    CancellationSource lifetime;
    std::shared_ptr<TestSupport::ScriptedSocketConnection> socket;
    std::unique_ptr<LiveConnection> connection;
    QStringList received;
    QList<std::exception_ptr> lost;
};

} // namespace

TEST_F(LiveConnectionTest, BecomesReadyWhenTheServiceAnnouncesItsSession)
{
    EXPECT_TRUE(connection->awaitingReady());
    announceReady();
    EXPECT_EQ(awaitReady(), nullptr);
    EXPECT_FALSE(connection->awaitingReady());
    EXPECT_TRUE(received.isEmpty()); // "session.ready" is the connection's own
}

TEST_F(LiveConnectionTest, ReadyFailsWithTimeoutAfterFifteenSecondsAndClosesTheSocket)
{
    clock.advance(14s);
    TestSupport::drainEvents();
    EXPECT_TRUE(connection->awaitingReady());
    clock.advance(1s);
    EXPECT_EQ(failureOf(awaitReady()), TranslationFailure::Case::timeout);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return socket->closed; }));
}

TEST_F(LiveConnectionTest, ReadyOfAnotherSessionOrWithoutAUsableHeartbeatIsInvalid)
{
    struct Case {
        qint64 id;
        qint64 heartbeatMs;
    };
    for (const Case c : { Case { 7, 1000 }, Case { sessionID, 0 }, Case { sessionID, 60001 } }) {
        TearDown();
        SetUp();
        announceReady(c.id, c.heartbeatMs);
        EXPECT_EQ(failureOf(awaitReady()), TranslationFailure::Case::invalidResponse)
            << c.id << " " << c.heartbeatMs;
        EXPECT_TRUE(lost.isEmpty()); // a failure before ready is the ready wait's, not a loss
    }
}

TEST_F(LiveConnectionTest, HandsEventsToItsOwnerInOrderUntilTheOwnerEndsIt)
{
    announceReady();
    socket->deliver({ { "type", "asr.partial" }, { "segmentSeq", 1 }, { "text", "a" } });
    socket->deliver({ { "type", "server.pong" } });
    socket->deliver({ { "type", "session.finished" } });
    socket->deliver({ { "type", "asr.final" }, { "segmentSeq", 1 }, { "text", "a" } });
    ASSERT_TRUE(TestSupport::spinUntil([&] { return received.size() == 3; }));
    TestSupport::spinUntil([] { return false; }, 20ms);
    EXPECT_EQ(received, QStringList({ "asr.partial", "server.pong", "session.finished" }));
}

TEST_F(LiveConnectionTest, MissedHeartbeatsReportTheConnectionLostOnce)
{
    announceReady(sessionID, 1000);
    ASSERT_EQ(awaitReady(), nullptr);
    clock.advance(3s); // pings go out; no pong comes back
    EXPECT_TRUE(lost.isEmpty());
    clock.advance(2s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !lost.isEmpty(); }));
    clock.advance(5s);
    TestSupport::drainEvents();
    ASSERT_EQ(lost.size(), 1);
    EXPECT_EQ(failureOf(lost.first()), TranslationFailure::Case::connectionLost);
    EXPECT_TRUE(socket->sentTypes().contains("client.ping"));
}

TEST_F(LiveConnectionTest, ABrokenSocketAfterReadyIsReportedAsLost)
{
    announceReady();
    ASSERT_EQ(awaitReady(), nullptr);
    socket->breakWith(std::make_exception_ptr(TranslationFailure::connectionLost()));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return lost.size() == 1; }));
    EXPECT_EQ(failureOf(lost.first()), TranslationFailure::Case::connectionLost);
}

TEST_F(LiveConnectionTest, AClosedConnectionReportsNothingItStillReceives)
{
    announceReady();
    ASSERT_EQ(awaitReady(), nullptr);
    TestSupport::runTask(connection->close());
    socket->deliver({ { "type", "asr.partial" }, { "segmentSeq", 1 }, { "text", "late" } });
    socket->breakWith(std::make_exception_ptr(TranslationFailure::connectionLost()));
    clock.advance(10s); // no heartbeat either
    TestSupport::spinUntil([] { return false; }, 20ms);
    EXPECT_TRUE(received.isEmpty());
    EXPECT_TRUE(lost.isEmpty());
}

TEST_F(LiveConnectionTest, CloseBeforeReadyEndsTheReadyWaitAsCancelled)
{
    auto waiting = TestSupport::start(connection->ready());
    TestSupport::runTask(connection->close());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return waiting->done; }));
    ASSERT_TRUE(waiting->error);
    EXPECT_THROW(std::rethrow_exception(waiting->error), CancellationError);
}
