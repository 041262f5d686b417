#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Async/Race.h"
#include "TranslateCore/Async/ReplyAwaiter.h"
#include "TranslateCore/Async/TaskHandle.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace std::chrono_literals;
using TestSupport::drainEvents;
using TestSupport::runTask;
using TestSupport::spinUntil;

TEST(Cancellation, CallbacksRunOnceAndEndedSubscriptionsNever)
{
    CancellationSource source;
    int kept = 0, dropped = 0;
    auto keep = source.token().onCancel([&] { ++kept; });
    { auto drop = source.token().onCancel([&] { ++dropped; }); }
    source.cancel();
    source.cancel();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(dropped, 0);
    int late = 0;
    auto afterwards = source.token().onCancel([&] { ++late; });
    EXPECT_EQ(late, 1) << "subscribing to a cancelled token runs the callback at once";
    EXPECT_THROW(source.token().throwIfCancelled(), CancellationError);
    EXPECT_FALSE(CancellationToken().isCancelled());
}

TEST(Cancellation, LinkedSourceFollowsParentAndDestroyedSourceCancels)
{
    auto parent = std::make_unique<CancellationSource>();
    CancellationSource child(parent->token());
    CancellationToken orphan;
    {
        CancellationSource scoped;
        orphan = scoped.token();
    }
    EXPECT_TRUE(orphan.isCancelled());
    EXPECT_FALSE(child.isCancelled());
    parent.reset();
    EXPECT_TRUE(child.isCancelled());
}

namespace {

QCoro::Task<> sleepAndLog(Clock &clock, std::chrono::milliseconds d, QString name,
                          QStringList *log, CancellationToken token = {})
{
    try {
        co_await clock.sleep(d, token);
        log->append(name + "@" + QString::number((clock.now() - Instant()) / 1ms % 100'000));
    } catch (const CancellationError &) {
        log->append(name + " cancelled");
    }
}

} // namespace

TEST(ManualClock, WakesSleepersInDueOrderAtTheirDueTime)
{
    ManualClock clock(Instant(0ms));
    QStringList log;
    auto a = sleepAndLog(clock, 3000ms, "a", &log);
    auto b = sleepAndLog(clock, 1000ms, "b", &log);
    auto c = sleepAndLog(clock, 1000ms, "c", &log); // same due time as b: after b
    auto d = sleepAndLog(clock, 5000ms, "d", &log);
    clock.advance(999ms);
    EXPECT_TRUE(log.isEmpty());
    clock.advance(2001ms);
    EXPECT_EQ(log, (QStringList{"b@1000", "c@1000", "a@3000"}));
    EXPECT_EQ(clock.sleeperCount(), 1u);
    EXPECT_EQ(clock.now(), Instant(3000ms));
    clock.advance(2s);
    EXPECT_EQ(log.last(), "d@5000");
}

TEST(ManualClock, SleepsBegunDuringAnAdvanceAreHonouredWithinIt)
{
    ManualClock clock(Instant(0ms));
    int beats = 0;
    CancellationSource stop;
    auto heartbeat = [](Clock &clock, int *beats, CancellationToken token) -> QCoro::Task<> {
        try {
            for (;;) {
                co_await clock.sleep(1000ms, token);
                ++*beats;
            }
        } catch (const CancellationError &) {
        }
    }(clock, &beats, stop.token());
    clock.advance(3500ms);
    EXPECT_EQ(beats, 3);
    stop.cancel();
    drainEvents();
    clock.advance(10s);
    EXPECT_EQ(beats, 3);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(ManualClock, CancellationWakesTheSleeperFromAPostedEvent)
{
    ManualClock clock;
    QStringList log;
    CancellationSource source;
    auto task = sleepAndLog(clock, 15s, "deadline", &log, source.token());
    source.cancel();
    EXPECT_TRUE(log.isEmpty()) << "never resumed inside cancel()";
    drainEvents();
    EXPECT_EQ(log, QStringList{"deadline cancelled"});
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(SystemClock, SleepNeverReturnsEarlyAndCancelEndsItAtOnce)
{
    auto &clock = SystemClock::shared();
    const auto start = std::chrono::steady_clock::now();
    runTask(clock.sleep(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

    CancellationSource source;
    QTimer::singleShot(20ms, [&] { source.cancel(); });
    const auto cancelStart = std::chrono::steady_clock::now();
    EXPECT_THROW(runTask(clock.sleep(10s, source.token())), CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelStart, 2s);
}

TEST(OneShot, FirstResolutionWinsForEveryWaiter)
{
    OneShot<int> shot;
    std::vector<int> seen;
    auto waiter = [](OneShot<int> shot, std::vector<int> *seen) -> QCoro::Task<> {
        seen->push_back(co_await shot.wait());
    };
    auto w1 = waiter(shot, &seen);
    auto w2 = waiter(shot, &seen);
    EXPECT_TRUE(shot.resolve(7));
    EXPECT_FALSE(shot.resolve(8));
    EXPECT_FALSE(shot.fail(std::make_exception_ptr(std::runtime_error("late"))));
    EXPECT_TRUE(seen.empty()) << "waiters resume from posted events";
    drainEvents();
    EXPECT_EQ(seen, (std::vector<int>{7, 7}));
    EXPECT_EQ(runTask([](OneShot<int> s) -> QCoro::Task<int> { co_return co_await s.wait(); }(shot)), 7);
}

TEST(OneShot, FailureIsRethrownAndCancellingOneWaiterLeavesTheOthers)
{
    OneShot<> shot;
    CancellationSource first;
    QStringList log;
    auto waiter = [](OneShot<> shot, QString name, CancellationToken t, QStringList *log) -> QCoro::Task<> {
        try {
            co_await shot.wait(t);
            log->append(name + " done");
        } catch (const CancellationError &) {
            log->append(name + " cancelled");
        } catch (const std::runtime_error &e) {
            log->append(name + " " + e.what());
        }
    };
    auto a = waiter(shot, "a", first.token(), &log);
    auto b = waiter(shot, "b", {}, &log);
    first.cancel();
    drainEvents();
    shot.fail(std::make_exception_ptr(std::runtime_error("refused")));
    drainEvents();
    EXPECT_EQ(log, (QStringList{"a cancelled", "b refused"}));
}

TEST(TaskHandle, CancelEndsTheFlowAndFinishedAwaitsItsUnwinding)
{
    ManualClock clock;
    bool unwound = false;
    auto handle = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        try {
            co_await clock.sleep(1h, token);
        } catch (const CancellationError &) {
            unwound = true;
            throw;
        }
    });
    EXPECT_TRUE(handle.isRunning());
    handle.cancel();
    runTask(handle.finished());
    EXPECT_TRUE(unwound);
    EXPECT_FALSE(handle.isRunning());
    EXPECT_FALSE(handle.failure()) << "cancellation is not a failure";
}

TEST(TaskHandle, KeepsWhatEscapedTheFlowAndReplacingAHandleCancelsTheOldFlow)
{
    ManualClock clock;
    auto failing = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        co_await clock.sleep(1s, token);
        throw std::runtime_error("boom");
    });
    clock.advance(1s);
    runTask(failing.finished());
    EXPECT_TRUE(failing.failure());

    bool oldCancelled = false;
    TaskHandle slot = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        try {
            co_await clock.sleep(1h, token);
        } catch (const CancellationError &) {
            oldCancelled = true;
        }
    });
    slot = TaskHandle::start([](CancellationToken) -> QCoro::Task<> { co_return; });
    drainEvents();
    EXPECT_TRUE(oldCancelled);
}

TEST(Race, FirstOutcomeWinsAndTheLoserHasUnwoundBeforeTheRaceReturns)
{
    ManualClock clock;
    bool loserUnwound = false;
    auto slow = [&](CancellationToken token) -> QCoro::Task<QString> {
        try {
            co_await clock.sleep(15s, token);
        } catch (const CancellationError &) {
            loserUnwound = true;
            throw;
        }
        co_return QStringLiteral("deadline");
    };
    auto fast = [&](CancellationToken token) -> QCoro::Task<QString> {
        co_await clock.sleep(2s, token);
        co_return QStringLiteral("ready");
    };
    std::optional<QString> result;
    bool loserUnwoundAtReturn = false;
    auto task = [&]() -> QCoro::Task<> {
        result = co_await race<QString>(slow, fast);
        loserUnwoundAtReturn = loserUnwound;
    }();
    clock.advance(2s);
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, "ready");
    EXPECT_TRUE(loserUnwoundAtReturn);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(Race, AFailureWinsToo)
{
    ManualClock clock;
    auto failing = [&](CancellationToken token) -> QCoro::Task<> {
        co_await clock.sleep(1s, token);
        throw std::runtime_error("socket closed");
    };
    auto waiting = [&](CancellationToken token) -> QCoro::Task<> { co_await clock.sleep(1h, token); };
    bool threw = false;
    auto task = [&]() -> QCoro::Task<> {
        try {
            co_await race<void>(failing, waiting);
        } catch (const std::runtime_error &) {
            threw = true;
        }
    }();
    clock.advance(1s);
    ASSERT_TRUE(spinUntil([&] { return threw; }));
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(Race, CancellingTheRaceCancelsBothContestants)
{
    ManualClock clock;
    CancellationSource source;
    auto sleeper = [&](CancellationToken token) -> QCoro::Task<> { co_await clock.sleep(1h, token); };
    QTimer::singleShot(0, [&] { source.cancel(); });
    EXPECT_THROW(runTask(race<void>(sleeper, sleeper, source.token())), CancellationError);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

// A loopback HTTP server that answers only when told to, so a reply can be caught in flight.
class HangingServer : public QTcpServer {
public:
    HangingServer() { listen(QHostAddress::LocalHost); }
    QList<QTcpSocket *> clients;
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(serverPort())); }
    void answerAll()
    {
        for (auto *c : clients)
            c->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    }

protected:
    void incomingConnection(qintptr fd) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(fd);
        clients.append(socket);
    }
};

TEST(ReplyAwaiter, ResumesWithTheFinishedReplyAbortsOnCancelAndSurvivesDeletion)
{
    HangingServer server;
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);

    QNetworkReply *answered = nam.get(QNetworkRequest(server.url()));
    ASSERT_TRUE(spinUntil([&] { return server.clients.size() == 1; }));
    server.answerAll();
    QNetworkReply *got = runTask([](QNetworkReply *r) -> QCoro::Task<QNetworkReply *> {
        co_return co_await awaitReply(r);
    }(answered));
    EXPECT_EQ(got->readAll(), "ok");
    got->deleteLater();

    CancellationSource source;
    QPointer<QNetworkReply> cancelled = nam.get(QNetworkRequest(server.url()));
    QTimer::singleShot(50ms, [&] { source.cancel(); });
    EXPECT_THROW(runTask([](QNetworkReply *r, CancellationToken t) -> QCoro::Task<> {
        co_await awaitReply(r, t);
    }(cancelled, source.token())),
                 CancellationError);
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->error(), QNetworkReply::OperationCanceledError) << "the reply was aborted";
    cancelled->deleteLater();

    QNetworkReply *doomed = nam.get(QNetworkRequest(server.url()));
    QTimer::singleShot(50ms, doomed, [doomed] { delete doomed; });
    EXPECT_THROW(runTask([](QNetworkReply *r) -> QCoro::Task<> { co_await awaitReply(r); }(doomed)),
                 CancellationError);
}
