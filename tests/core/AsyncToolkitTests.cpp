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

namespace {

QCoro::Task<> sleepAndLog(Clock &clock, std::chrono::milliseconds d, QString name, QStringList *log,
    CancellationToken token = {})
{
    try {
        co_await clock.sleep(d, token);
        log->append(name + "@" + QString::number((clock.now() - Instant()) / 1ms % 100'000));
    } catch (const CancellationError &) {
        log->append(name + " cancelled");
    }
}

// Sleeps on `clock`; a cancellation sets `*unwound` (when given) and is rethrown.
QCoro::Task<> nap(
    Clock &clock, std::chrono::milliseconds d, CancellationToken token, bool *unwound = nullptr)
{
    try {
        co_await clock.sleep(d, token);
    } catch (const CancellationError &) {
        if (unwound)
            *unwound = true;
        throw;
    }
}

} // namespace

TEST(Cancellation, CallbacksRunOnceLinkedSourcesFollowAndDestroyedSourcesCancel)
{
    auto source = std::make_unique<CancellationSource>();
    CancellationSource child(source->token());
    int kept = 0, dropped = 0, late = 0;
    auto keep = source->token().onCancel([&] { ++kept; });
    {
        auto drop = source->token().onCancel([&] { ++dropped; });
    }
    source->cancel();
    source->cancel();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(dropped, 0);
    EXPECT_TRUE(child.isCancelled());
    auto afterwards = source->token().onCancel([&] { ++late; });
    EXPECT_EQ(late, 1);
    EXPECT_THROW(source->token().throwIfCancelled(), CancellationError);
    EXPECT_FALSE(CancellationToken().isCancelled());

    auto parent = std::make_unique<CancellationSource>();
    CancellationSource orphan(parent->token());
    parent.reset();
    EXPECT_TRUE(orphan.isCancelled());
}

TEST(ManualClock, WakesSleepersInDueOrderAndCancelledOnesFromAPostedEvent)
{
    ManualClock clock(Instant(0ms));
    QStringList log;
    CancellationSource source;
    auto a = sleepAndLog(clock, 3000ms, "a", &log);
    auto b = sleepAndLog(clock, 1000ms, "b", &log);
    auto c = sleepAndLog(clock, 1000ms, "c", &log); // same due time as b: after b
    auto d = sleepAndLog(clock, 5000ms, "d", &log);
    auto e = sleepAndLog(clock, 15s, "e", &log, source.token());
    source.cancel();
    EXPECT_TRUE(log.isEmpty()) << "never resumed inside cancel()";
    drainEvents();
    EXPECT_EQ(log, QStringList { "e cancelled" });
    clock.advance(999ms);
    EXPECT_EQ(log.size(), 1);
    clock.advance(2001ms);
    EXPECT_EQ(log, (QStringList { "e cancelled", "b@1000", "c@1000", "a@3000" }));
    EXPECT_EQ(clock.now(), Instant(3000ms));
    clock.advance(2s);
    EXPECT_EQ(log.last(), "d@5000");
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(ManualClock, SleepsBegunDuringAnAdvanceAreHonouredWithinIt)
{
    ManualClock clock(Instant(0ms));
    int beats = 0;
    auto heartbeat = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        for (;;) {
            co_await clock.sleep(1000ms, token);
            ++beats;
        }
    });
    clock.advance(3500ms);
    EXPECT_EQ(beats, 3);
    heartbeat.cancel();
    drainEvents();
    clock.advance(10s);
    EXPECT_EQ(beats, 3);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(SystemClock, SleepNeverReturnsEarlyAndCancelEndsItAtOnce)
{
    auto &clock = SystemClock::shared();
    auto start = std::chrono::steady_clock::now();
    runTask(clock.sleep(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

    CancellationSource source;
    QTimer::singleShot(20ms, [&] { source.cancel(); });
    start = std::chrono::steady_clock::now();
    EXPECT_THROW(runTask(clock.sleep(10s, source.token())), CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(OneShot, FirstResolutionWinsForEveryWaiterAndCancellingOneLeavesTheOthers)
{
    OneShot<int> shot;
    CancellationSource first;
    QStringList log;
    auto waiter = [](OneShot<int> shot, QString name, CancellationToken t,
                      QStringList *log) -> QCoro::Task<> {
        try {
            log->append(name + " " + QString::number(co_await shot.wait(t)));
        } catch (const std::exception &e) {
            log->append(name + " " + e.what());
        }
    };
    auto a = waiter(shot, "a", first.token(), &log);
    auto b = waiter(shot, "b", {}, &log);
    auto c = waiter(shot, "c", {}, &log);
    first.cancel();
    drainEvents();
    EXPECT_EQ(log, QStringList { "a operation cancelled" });
    EXPECT_TRUE(shot.resolve(7));
    EXPECT_FALSE(shot.resolve(8));
    EXPECT_FALSE(shot.fail(std::make_exception_ptr(std::runtime_error("late"))));
    EXPECT_EQ(log.size(), 1) << "waiters resume from posted events";
    drainEvents();
    EXPECT_EQ(log, (QStringList { "a operation cancelled", "b 7", "c 7" }));
    auto late = waiter(shot, "late", {}, &log);
    drainEvents();
    EXPECT_EQ(log.last(), "late 7");

    OneShot<> failed;
    failed.fail(std::make_exception_ptr(std::runtime_error("refused")));
    EXPECT_THROW(runTask([](OneShot<> s) -> QCoro::Task<> { co_await s.wait(); }(failed)),
        std::runtime_error);
}

TEST(TaskHandle, CancelFinishedFailureAndReplacement)
{
    ManualClock clock;
    bool unwound = false;
    auto handle = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        co_await nap(clock, 1h, token, &unwound);
    });
    EXPECT_TRUE(handle.isRunning());
    handle.cancel();
    runTask(handle.finished());
    EXPECT_TRUE(unwound);
    EXPECT_FALSE(handle.isRunning());
    EXPECT_FALSE(handle.failure()) << "cancellation is not a failure";

    auto failing = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        co_await clock.sleep(1s, token);
        throw std::runtime_error("boom");
    });
    clock.advance(1s);
    runTask(failing.finished());
    EXPECT_TRUE(failing.failure());

    bool oldCancelled = false;
    TaskHandle slot = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        co_await nap(clock, 1h, token, &oldCancelled);
    });
    slot = TaskHandle::start([](CancellationToken) -> QCoro::Task<> { co_return; });
    drainEvents();
    EXPECT_TRUE(oldCancelled);
}

TEST(Race, FirstOutcomeWinsAndTheLoserHasUnwoundBeforeTheRaceReturns)
{
    ManualClock clock;
    bool loserUnwound = false, loserUnwoundAtReturn = false;
    auto slow = [&](CancellationToken token) -> QCoro::Task<QString> {
        co_await nap(clock, 15s, token, &loserUnwound);
        co_return QStringLiteral("deadline");
    };
    auto fast = [&](CancellationToken token) -> QCoro::Task<QString> {
        co_await clock.sleep(2s, token);
        co_return QStringLiteral("ready");
    };
    std::optional<QString> result;
    auto task = [&]() -> QCoro::Task<> {
        result = co_await race<QString>(slow, fast);
        loserUnwoundAtReturn = loserUnwound;
    }();
    clock.advance(2s);
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, "ready");
    EXPECT_TRUE(loserUnwoundAtReturn);
}

TEST(Race, AFailureWinsAndCancellingTheRaceCancelsBoth)
{
    ManualClock clock;
    auto failing = [&](CancellationToken token) -> QCoro::Task<> {
        co_await clock.sleep(1s, token);
        throw std::runtime_error("socket closed");
    };
    auto waiting
        = [&](CancellationToken token) -> QCoro::Task<> { co_await nap(clock, 1h, token); };
    QTimer::singleShot(0, [&] { clock.advance(1s); });
    EXPECT_THROW(runTask(race<void>(failing, waiting)), std::runtime_error);
    EXPECT_EQ(clock.sleeperCount(), 0u);

    CancellationSource source;
    QTimer::singleShot(0, [&] { source.cancel(); });
    EXPECT_THROW(runTask(race<void>(waiting, waiting, source.token())), CancellationError);
    EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(ReplyAwaiter, ResumesWithTheFinishedReplyAbortsOnCancelAndSurvivesDeletion)
{
    QTcpServer server; // accepts nothing on its own, so a reply can be caught in flight
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())));
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    const auto await = [](QNetworkReply *r, CancellationToken t = {}) -> QCoro::Task<QByteArray> {
        co_return (co_await awaitReply(r, t))->readAll();
    };

    QNetworkReply *answered = nam.get(request);
    ASSERT_TRUE(spinUntil([&] { return server.hasPendingConnections(); }));
    server.nextPendingConnection()->write(
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    EXPECT_EQ(runTask(await(answered)), "ok");
    answered->deleteLater();

    CancellationSource source;
    QPointer<QNetworkReply> cancelled = nam.get(request);
    QTimer::singleShot(50ms, [&] { source.cancel(); });
    EXPECT_THROW(runTask(await(cancelled, source.token())), CancellationError);
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->error(), QNetworkReply::OperationCanceledError) << "the reply was aborted";
    cancelled->deleteLater();

    QNetworkReply *doomed = nam.get(request);
    QTimer::singleShot(50ms, doomed, [doomed] { delete doomed; });
    EXPECT_THROW(runTask(await(doomed)), CancellationError);
}
