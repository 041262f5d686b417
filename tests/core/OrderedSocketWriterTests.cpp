#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "support/Outcome.h"
#include "support/ScriptedSocket.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace TranslateCore;

namespace {

using TestSupport::failureOf;
using TestSupport::ScriptedSocket;
using TestSupport::start;

QByteArray pcm(qsizetype size)
{
    return QByteArray(size, 1);
}

class OrderedSocketWriterTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedSocket> socket = std::make_shared<ScriptedSocket>();
    int failures = 0;
    std::unique_ptr<OrderedSocketWriter> writer
        = std::make_unique<OrderedSocketWriter>(socket, [this] { ++failures; });

    void fill(OrderedSocketWriter &w, int frames)
    {
        for (int i = 0; i < frames; ++i)
            w.audio(pcm(3200));
    }
    void TearDown() override
    {
        writer.reset();
        socket->releaseAll();
    }
};

TEST_F(OrderedSocketWriterTest, AudioFrameSizesAndImmediateSends)
{
    const struct {
        qsizetype size;
        std::optional<TranslationFailure> expected;
    } cases[] = { { 3200, std::nullopt }, { 2, std::nullopt },
        { 3202, TranslationFailure::audioFormat() }, { 3199, TranslationFailure::audioFormat() },
        { 1, TranslationFailure::audioFormat() }, { 0, TranslationFailure::audioFormat() } };
    socket->completion = ScriptedSocket::Completion::immediate;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const std::size_t before = socket->sent.size();
        EXPECT_EQ(failureOf([&] { writer->audio(pcm(c.size)); }), c.expected);
        EXPECT_EQ(socket->sent.size() - before, c.expected ? 0u : 1u);
        EXPECT_EQ(writer->pendingBytes(), 0);
    }
}

TEST_F(OrderedSocketWriterTest, BacklogCeilingCountsTheFrameInFlight)
{
    fill(*writer, 29); // 92,800 bytes, the first of them already handed to the socket
    EXPECT_EQ(socket->inFlight.size(), 1u);
    writer->audio(pcm(3200));
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), TranslationFailure::queueFull());
    socket->completeNext(); // room again once the network took a frame
    EXPECT_EQ(writer->pendingBytes(), 92'800);
    writer->audio(pcm(2));
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(3200)); }), TranslationFailure::queueFull());
    EXPECT_EQ(writer->pendingBytes(), 92'802);
    writer->audio(pcm(3198));
    EXPECT_EQ(writer->pendingBytes(), 96'000);
    EXPECT_TRUE(writer->isAccepting());
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, ControlAdmissionCountsQueuedMessagesOnly)
{
    for (int i = 0; i < 65; ++i) // the first goes in flight; the last is admitted with 63 queued
        writer->control(QStringLiteral("queued"));
    EXPECT_EQ(writer->pendingCount(), 64);
    EXPECT_EQ(failureOf([&] { writer->control(QStringLiteral("refused")); }),
        TranslationFailure::queueFull());
    writer->audio(pcm(3200)); // audio is bounded by bytes, not by count
    EXPECT_TRUE(writer->isAccepting());
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, FinishOnIdleWriterSendsFlushThenFinishOnce)
{
    auto finishing = start(writer->finish());
    ASSERT_EQ(socket->sent.size(), 1u);
    socket->completeNext();
    EXPECT_FALSE(finishing->done);
    socket->completeNext();
    ASSERT_TRUE(finishing->done);
    EXPECT_FALSE(finishing->error);
    EXPECT_EQ(socket->sent,
        (std::vector { SocketMessage::text(R"({"type":"input.flush"})"),
            SocketMessage::text(R"({"type":"session.finish"})") }));

    TestSupport::runTask(writer->finish()); // the second call returns at once
    EXPECT_EQ(socket->sent.size(), 2u);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), TranslationFailure::connectionLost());
    EXPECT_EQ(failureOf([&] { writer->control(QStringLiteral("late")); }),
        TranslationFailure::connectionLost());
}

TEST_F(OrderedSocketWriterTest, SendErrorFailsOnceDropsTheQueueAndFailsTheFinish)
{
    fill(*writer, 2);
    writer->control(QStringLiteral("ping"));
    writer->audio(pcm(3200));
    auto finishing = start(writer->finish());
    socket->failNext();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(socket->sent.size(), 1u); // the three behind it never went out
    EXPECT_EQ(writer->pendingBytes(), 0);
    EXPECT_EQ(writer->pendingCount(), 0);
    ASSERT_TRUE(finishing->done);
    EXPECT_THROW(std::rethrow_exception(finishing->error), NetworkError);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), TranslationFailure::connectionLost());
    EXPECT_THROW(TestSupport::runTask(writer->finish()), NetworkError);
    EXPECT_EQ(failures, 1);
}

TEST_F(OrderedSocketWriterTest, DiscardClosesWaitsForTheFrameInFlightAndNeverFails)
{
    fill(*writer, 2);
    auto discarding = start(writer->discard());
    TestSupport::drainEvents();
    EXPECT_EQ(socket->closeCalls, 1);
    EXPECT_FALSE(discarding->done);
    socket->completeNext();
    EXPECT_TRUE(discarding->done);
    EXPECT_EQ(writer->pendingBytes(), 0);
    EXPECT_EQ(socket->sent.size(), 1u);
    EXPECT_EQ(failureOf([&] { writer->audio(pcm(2)); }), TranslationFailure::connectionLost());
    TestSupport::runTask(writer->finish()); // a no-op after discard
    EXPECT_EQ(socket->sent.size(), 1u);
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, DestroyedWriterNeverCallsBack)
{
    writer->audio(pcm(3200));
    writer.reset();
    socket->failNext();
    EXPECT_EQ(failures, 0);
}

TEST_F(OrderedSocketWriterTest, InterleavedFramesGoOutInQueueOrder)
{
    socket->completion = ScriptedSocket::Completion::posted;
    QStringList queued, sent;
    for (int i = 0; i < 300; ++i) {
        queued << QString::number(i);
        writer->audio(queued.last().toLatin1().leftJustified(3200));
        if (i % 7 == 0)
            writer->control(queued.emplaceBack("ping " + QString::number(i)));
        // Let sends complete while the producer keeps going.
        ASSERT_TRUE(TestSupport::spinUntil([&] { return writer->pendingBytes() <= 3 * 3200; }));
    }
    TestSupport::runTask(writer->finish());
    for (const SocketMessage &m : socket->sent)
        sent << (m.kind == SocketMessage::Kind::audio ? QString(m.audioPayload.trimmed())
                                                      : m.textPayload);
    queued << R"({"type":"input.flush"})"
           << R"({"type":"session.finish"})";
    EXPECT_EQ(sent, queued);
}

TEST(ClientPingText, WritesWholeMillisecondsSince1970)
{
    const Instant at
        = Instant(std::chrono::milliseconds(1'767'225'600'123)) + std::chrono::microseconds(999);
    EXPECT_EQ(clientPingText(at), QStringLiteral(R"({"type":"client.ping","ts":1767225600123})"));
}

} // namespace
