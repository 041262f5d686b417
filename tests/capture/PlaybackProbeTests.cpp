#include "TranslateMac/Capture/PlaybackProbe.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace TranslateMac;
using namespace TranslateCore;
using namespace std::chrono_literals;
using TestSupport::spinUntil;

namespace {

CapturedPacket silentPacket()
{
    return CapturedPacket { QByteArray(3200, '\0') };
}

CapturedPacket packetWithOneSample(qint16 value)
{
    CapturedPacket packet = silentPacket();
    std::memcpy(packet.pcm.data() + 1000, &value, sizeof value);
    return packet;
}

struct Probe {
    bool done = false;
    std::exception_ptr error;
    QCoro::Task<> task;

    Probe(PacketStream &packets, Clock &clock, CancellationToken token = {})
        : task(run(packets, clock, token, this))
    {
    }
    static QCoro::Task<> run(
        PacketStream &packets, Clock &clock, CancellationToken token, Probe *self)
    {
        try {
            co_await PlaybackProbe::confirm(packets, 30s, clock, token);
        } catch (...) {
            self->error = std::current_exception();
        }
        self->done = true;
    }
    void expectFailure(TranslationFailure expected) const
    {
        ASSERT_TRUE(error);
        try {
            std::rethrow_exception(error);
        } catch (const TranslationFailure &failure) {
            EXPECT_EQ(failure, expected) << failure.what();
        } catch (...) {
            ADD_FAILURE() << "not a TranslationFailure";
        }
    }
    void expectCancellation() const
    {
        ASSERT_TRUE(error);
        EXPECT_THROW(std::rethrow_exception(error), CancellationError);
    }
};

} // namespace

TEST(PlaybackProbe, CountsAnyNonZeroSampleAsSound)
{
    EXPECT_FALSE(PlaybackProbe::isSound(CapturedPacket {}));
    EXPECT_FALSE(PlaybackProbe::isSound(silentPacket()));
    EXPECT_TRUE(PlaybackProbe::isSound(packetWithOneSample(1)));
    EXPECT_TRUE(PlaybackProbe::isSound(packetWithOneSample(-1)));
    EXPECT_TRUE(PlaybackProbe::isSound(packetWithOneSample(256)));
}

TEST(PlaybackProbe, OneQuietSampleSucceedsAtOnceAndStopsTheTimer)
{
    ManualClock clock;
    auto [sink, packets] = makeChannel<CapturedPacket>(30);
    sink.push(packetWithOneSample(1));
    Probe probe(packets, clock);
    ASSERT_TRUE(spinUntil([&] { return probe.done; }));
    EXPECT_FALSE(probe.error);
    EXPECT_EQ(clock.sleeperCount(), 0u) << "the timer was cancelled before confirm returned";
}

TEST(PlaybackProbe, FlowingSilenceEndsWithNoPlayingAudioAtTheLimit)
{
    ManualClock clock;
    auto [sink, packets] = makeChannel<CapturedPacket>(30);
    Probe probe(packets, clock);
    for (int second = 0; second < 29; ++second) {
        sink.push(silentPacket());
        clock.advance(1s);
        TestSupport::drainEvents();
        ASSERT_FALSE(probe.done) << "after " << second + 1 << " s";
    }
    clock.advance(1s);
    ASSERT_TRUE(spinUntil([&] { return probe.done; }));
    probe.expectFailure(TranslationFailure::noPlayingAudio());
}

TEST(PlaybackProbe, AnEndBeforeSoundEndsTheProbeAtOnceAndStopsTheTimer)
{
    enum class End { streamEnds, streamFails, callerCancels };
    for (const End end : { End::streamEnds, End::streamFails, End::callerCancels }) {
        SCOPED_TRACE(int(end));
        ManualClock clock;
        auto [sink, packets] = makeChannel<CapturedPacket>(30);
        CancellationSource caller;
        Probe probe(packets, clock, caller.token());
        sink.push(silentPacket());
        TestSupport::drainEvents();
        if (end == End::streamFails)
            sink.closeWithError(std::make_exception_ptr(TranslationFailure::audioFormat()));
        else
            end == End::streamEnds ? sink.close() : caller.cancel();
        ASSERT_TRUE(spinUntil([&] { return probe.done; }));
        // The stream's failure is passed on; a stream or a caller that ends is a cancellation.
        if (end == End::streamFails)
            probe.expectFailure(TranslationFailure::audioFormat());
        else
            probe.expectCancellation();
        EXPECT_EQ(clock.sleeperCount(), 0u);
    }
}
