#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "support/TestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

using namespace TranslateCore;
using Case = TranslationFailure::Case;

namespace {

// A socket whose sends complete when the test says so (or right away, or from a posted event),
// recording every frame handed to it and every close.
class ScriptedSocket final : public SocketConnection {
public:
    enum class Completion { manual, immediate, posted };
    Completion completion = Completion::manual;
    std::vector<SocketMessage> sent;
    int closeCalls = 0;
    int inFlightNow = 0;
    int mostInFlight = 0;

    QCoro::Task<> send(SocketMessage message) override
    {
        sent.push_back(message);
        OneShot<> done;
        if (completion == Completion::immediate)
            done.resolve();
        else if (completion == Completion::posted)
            QTimer::singleShot(0, [done]() mutable { done.resolve(); });
        else
            m_inFlight.push_back(done);
        mostInFlight = std::max(mostInFlight, ++inFlightNow);
        try {
            co_await done.wait();
        } catch (...) {
            --inFlightNow;
            throw;
        }
        --inFlightNow;
    }
    QCoro::Task<SocketMessage> receive() override
    {
        co_await OneShot<>().wait(); // the writer never reads
        co_return SocketMessage::text({});
    }
    QCoro::Task<> close() override
    {
        ++closeCalls; // the close code of this interface is always 1000
        co_return;
    }

    std::size_t waiting() const { return m_inFlight.size(); }
    // Ends every send still waiting, so no suspended flow outlives the test.
    void releaseAll()
    {
        while (!m_inFlight.empty())
            failNext();
        TestSupport::drainEvents();
    }
    void completeNext() { take().resolve(); }
    void failNext()
    {
        take().fail(std::make_exception_ptr(
            NetworkError(QNetworkReply::RemoteHostClosedError, QStringLiteral("gone"))));
    }

private:
    OneShot<> take()
    {
        EXPECT_FALSE(m_inFlight.empty());
        OneShot<> next = m_inFlight.front();
        m_inFlight.pop_front();
        return next;
    }
    std::deque<OneShot<>> m_inFlight;
};

struct Running {
    bool done = false;
    std::exception_ptr error;
};

std::shared_ptr<Running> start(QCoro::Task<> task)
{
    auto running = std::make_shared<Running>();
    [](QCoro::Task<> inner, std::shared_ptr<Running> r) -> QCoro::Task<> {
        try {
            co_await inner;
        } catch (...) {
            r->error = std::current_exception();
        }
        r->done = true;
    }(std::move(task), running);
    return running;
}

template <typename Call> std::optional<Case> failureOf(Call call)
{
    try {
        call();
    } catch (const TranslationFailure &failure) {
        return failure.kind();
    }
    return std::nullopt;
}

QByteArray pcm(qsizetype size, char fill = 1)
{
    return QByteArray(size, fill);
}

class OrderedSocketWriterTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedSocket> socket = std::make_shared<ScriptedSocket>();
    int failures = 0;
    std::unique_ptr<OrderedSocketWriter> writer
        = std::make_unique<OrderedSocketWriter>(socket, [this] { ++failures; });

    void settle() { TestSupport::drainEvents(); }
    void TearDown() override
    {
        writer.reset();
        socket->releaseAll();
    }
};

TEST_F(OrderedSocketWriterTest, AudioFrameSizes)
{
    const struct {
        const char *description;
        qsizetype size;
        std::optional<Case> expected;
    } cases[] = {
        { "largest frame", 3200, std::nullopt },
        { "smallest frame", 2, std::nullopt },
        { "one sample too many", 3202, Case::audioFormat },
        { "odd size", 3199, Case::audioFormat },
        { "single byte", 1, Case::audioFormat },
        { "empty", 0, Case::audioFormat },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        auto immediate = std::make_shared<ScriptedSocket>();
        immediate->completion = ScriptedSocket::Completion::immediate;
        OrderedSocketWriter fresh(immediate, [] {});
        EXPECT_EQ(failureOf([&] { fresh.audio(pcm(c.size)); }), c.expected);
        EXPECT_EQ(immediate->sent.size(), c.expected ? 0u : 1u);
    }
}

TEST_F(OrderedSocketWriterTest, BacklogCeilingCountsTheFrameInFlight)
{
    for (int i = 0; i < 29; ++i) // 92,800 bytes, the first of them already handed to the socket
        writer->audio(pcm(3200));
    EXPECT_EQ(socket->waiting(), 1u);
    writer->audio(pcm(3200));
    EXPECT_EQ(writer->pendingBytes(), 96'000);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), Case::queueFull);

    auto otherSocket = std::make_shared<ScriptedSocket>();
    auto other = std::make_unique<OrderedSocketWriter>(otherSocket, [this] { ++failures; });
    for (int i = 0; i < 29; ++i)
        other->audio(pcm(3200));
    other->audio(pcm(2)); // 92,802 bytes
    EXPECT_EQ(failureOf([&] { other->audio(pcm(3200)); }), Case::queueFull);
    EXPECT_EQ(other->pendingBytes(), 92'802);
    EXPECT_TRUE(other->isAccepting());
    other->audio(pcm(3198));
    EXPECT_EQ(other->pendingBytes(), 96'000);
    EXPECT_EQ(failures, 0);
    other.reset();
    otherSocket->releaseAll();

    socket->completeNext();
    settle();
    EXPECT_EQ(writer->pendingBytes(), 92'800);
    writer->audio(pcm(3200)); // room again once the network took a frame
}

TEST_F(OrderedSocketWriterTest, ControlAdmissionCountsQueuedMessagesOnly)
{
    writer->control(QStringLiteral("in flight"));
    for (int i = 0; i < 63; ++i)
        writer->control(QStringLiteral("queued"));
    EXPECT_EQ(writer->pendingCount(), 63);
    writer->control(QStringLiteral("64th")); // 63 queued: admitted
    EXPECT_EQ(failureOf([&] { writer->control(QStringLiteral("65th")); }), Case::queueFull);
    writer->audio(pcm(3200)); // audio is bounded by bytes, not by count
    EXPECT_EQ(writer->pendingCount(), 65);
    EXPECT_TRUE(writer->isAccepting());
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, FinishOnIdleWriterSendsFlushThenFinish)
{
    auto finishing = start(writer->finish());
    ASSERT_EQ(socket->sent.size(), 1u);
    socket->completeNext();
    settle();
    EXPECT_FALSE(finishing->done);
    socket->completeNext();
    settle();
    ASSERT_TRUE(finishing->done);
    EXPECT_FALSE(finishing->error);
    const std::vector<SocketMessage> expected = {
        SocketMessage::text(QStringLiteral(R"({"type":"input.flush"})")),
        SocketMessage::text(QStringLiteral(R"({"type":"session.finish"})")),
    };
    EXPECT_EQ(socket->sent, expected);

    TestSupport::runTask(writer->finish()); // the second call returns at once
    EXPECT_EQ(socket->sent.size(), 2u);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), Case::connectionLost);
    EXPECT_EQ(failureOf([&] { writer->control(QStringLiteral("late")); }), Case::connectionLost);
}

TEST_F(OrderedSocketWriterTest, SendErrorFailsOnceAndDropsTheQueue)
{
    writer->audio(pcm(3200));
    writer->audio(pcm(3200));
    writer->control(QStringLiteral("ping"));
    writer->audio(pcm(3200));
    socket->failNext();
    settle();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(socket->sent.size(), 1u); // the three behind it never went out
    EXPECT_EQ(writer->pendingBytes(), 0);
    EXPECT_EQ(writer->pendingCount(), 0);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), Case::connectionLost);
    EXPECT_THROW(TestSupport::runTask(writer->finish()), NetworkError);
    EXPECT_THROW(TestSupport::runTask(writer->finish()), NetworkError);
    EXPECT_EQ(failures, 1);
}

TEST_F(OrderedSocketWriterTest, FinishFailsWithTheErrorOfItsDrain)
{
    writer->audio(pcm(3200));
    auto finishing = start(writer->finish());
    socket->completeNext();
    settle();
    socket->failNext(); // the input flush
    settle();
    ASSERT_TRUE(finishing->done);
    EXPECT_THROW(std::rethrow_exception(finishing->error), NetworkError);
    EXPECT_EQ(socket->sent.size(), 2u);
    EXPECT_EQ(failures, 1);
}

TEST_F(OrderedSocketWriterTest, DiscardWhenIdleClosesWithoutFailure)
{
    TestSupport::runTask(writer->discard());
    EXPECT_EQ(socket->closeCalls, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), Case::connectionLost);
    TestSupport::runTask(writer->finish()); // a no-op after discard
    EXPECT_TRUE(socket->sent.empty());
}

TEST_F(OrderedSocketWriterTest, DiscardWaitsForTheFrameInFlightAndKeepsCountAtZero)
{
    writer->audio(pcm(3200));
    writer->audio(pcm(3200));
    auto discarding = start(writer->discard());
    settle();
    EXPECT_EQ(socket->closeCalls, 1);
    EXPECT_FALSE(discarding->done);
    socket->completeNext();
    settle();
    EXPECT_TRUE(discarding->done);
    EXPECT_EQ(writer->pendingBytes(), 0);
    EXPECT_EQ(socket->sent.size(), 1u);
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, DestroyedWriterNeverCallsBack)
{
    writer->audio(pcm(3200));
    writer.reset();
    socket->failNext();
    settle();
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, ImmediateSendsDrainInOneGo)
{
    socket->completion = ScriptedSocket::Completion::immediate;
    writer->audio(pcm(3200));
    writer->control(QStringLiteral("ping"));
    EXPECT_EQ(writer->pendingBytes(), 0);
    TestSupport::runTask(writer->finish());
    EXPECT_EQ(socket->sent.size(), 4u);
}

TEST_F(OrderedSocketWriterTest, InterleavedProducersKeepTheirOwnOrder)
{
    socket->completion = ScriptedSocket::Completion::posted;
    constexpr int frames = 300, pings = 40;
    // Two producers taking turns on the event loop, one pacing faster than the other.
    int audioSeq = 0, pingSeq = 0;
    QTimer audioTimer, pingTimer;
    QObject::connect(&audioTimer, &QTimer::timeout, [&] {
        for (int k = 0; k < 3 && audioSeq < frames; ++k) {
            QByteArray frame = pcm(3200, 0);
            std::memcpy(frame.data(), &audioSeq, sizeof audioSeq);
            if (!failureOf([&] { writer->audio(frame); }))
                ++audioSeq;
        }
    });
    QObject::connect(&pingTimer, &QTimer::timeout, [&] {
        if (pingSeq < pings && !failureOf([&] { writer->control(QString::number(pingSeq)); }))
            ++pingSeq;
    });
    audioTimer.start(0);
    pingTimer.start(1);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return audioSeq == frames && pingSeq == pings; }));
    TestSupport::runTask(writer->finish());

    int nextAudio = 0, nextPing = 0;
    for (const SocketMessage &m : socket->sent) {
        if (m.kind == SocketMessage::Kind::audio) {
            int seq = -1;
            std::memcpy(&seq, m.audioPayload.constData(), sizeof seq);
            EXPECT_EQ(seq, nextAudio++);
        } else if (m.textPayload.startsWith(QLatin1Char('{'))) {
            continue;
        } else {
            EXPECT_EQ(m.textPayload.toInt(), nextPing++);
        }
    }
    EXPECT_EQ(nextAudio, frames);
    EXPECT_EQ(nextPing, pings);
    EXPECT_EQ(socket->mostInFlight, 1);
    EXPECT_EQ(failures, 0);
}

TEST(ClientPingText, WritesWholeMillisecondsSince1970)
{
    const Instant at
        = Instant(std::chrono::milliseconds(1'767'225'600'123)) + std::chrono::microseconds(999);
    EXPECT_EQ(clientPingText(at), QStringLiteral(R"({"type":"client.ping","ts":1767225600123})"));
}

} // namespace
