#include "TranslateMac/Capture/PacketWriter.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace TranslateMac;
using namespace std::chrono_literals;
using TranslateCore::TranslationFailure;

namespace {

constexpr TranslateCore::AudioFormat stereo48k { 48000, 2, TranslateCore::SampleType::float32,
    true };

std::vector<float> tone(double seconds, double frequency = 1000, float amplitude = 0.5f)
{
    const auto frames = std::size_t(seconds * 48000);
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1]
            = amplitude * float(std::sin(2 * std::numbers::pi * frequency * double(i) / 48000));
    return samples;
}

struct Writer {
    Writer()
    {
        auto [sink, stream] = TranslateCore::makeChannel<CapturedPacket>(packetStreamCapacity);
        writer = std::make_unique<PacketWriter>(std::move(sink));
        packets.emplace(std::move(stream));
        writer->setFormat(stereo48k);
    }
    std::unique_ptr<PacketWriter> writer;
    std::optional<PacketStream> packets;
};

TestSupport::PacketRead readAvailable(PacketStream &packets)
{
    return TestSupport::readPacketsUntil(
        packets, [](const auto &) { return false; }, 100ms);
}

} // namespace

TEST(PacketWriter, TimeWithoutAudioBecomesSilenceInRealTime)
{
    Writer w;
    const auto start = PacketWriter::Clock::now();
    w.writer->begin(start);
    w.writer->keepAlive(start + 200ms); // quiet for less than the threshold: nothing yet
    EXPECT_TRUE(readAvailable(*w.packets).packets.isEmpty());

    w.writer->keepAlive(start + 1s);
    w.writer->keepAlive(start + 1s); // the same moment again adds nothing
    const auto read = readAvailable(*w.packets);
    // One second of silence is ten packets (the converter keeps a few samples back).
    EXPECT_GE(read.packets.size(), 9);
    EXPECT_LE(read.packets.size(), 10);
    for (const CapturedPacket &packet : read.packets) {
        EXPECT_EQ(packet.pcm.size(), 3200);
        EXPECT_EQ(packet.level(), 0.0f);
    }
}

TEST(PacketWriter, AudioThatArrivesIsNeverFollowedBySilenceForTheSameTime)
{
    Writer w;
    // The capture began a second ago and the audio of that second arrives only now (a busy
    // machine): no silence is added for the time it covers.
    w.writer->begin(PacketWriter::Clock::now() - 1s);
    const std::vector<float> second = tone(1.0);
    w.writer->write(second.data(), second.size() / 2);
    w.writer->keepAlive(PacketWriter::Clock::now() + 200ms);
    const auto read = readAvailable(*w.packets);
    EXPECT_GE(read.packets.size(), 9);
    EXPECT_LE(read.packets.size(), 10);
    EXPECT_NEAR(TestSupport::toneAmplitude(TestSupport::joinedPCM(read.packets), 1000), 0.5, 0.02);
}

TEST(PacketWriter, ThirtyUnreadPacketsEndTheStreamWithQueueFull)
{
    Writer w;
    const auto start = PacketWriter::Clock::now();
    w.writer->begin(start);
    w.writer->keepAlive(start + 4s); // forty packets of silence, nobody reading
    EXPECT_TRUE(w.writer->isClosed());
    const auto read = TestSupport::readUntilEnd(*w.packets, 1s);
    EXPECT_EQ(read.packets.size(), qsizetype(packetStreamCapacity));
    EXPECT_EQ(TestSupport::failureIn(read.error), TranslationFailure::queueFull());
}

TEST(PacketWriter, UnusableAudioEndsTheStreamWithAudioFormat)
{
    for (const bool partialFrame : { false, true }) {
        SCOPED_TRACE(partialFrame ? "a partial frame" : "a format without channels");
        Writer w;
        if (partialFrame) {
            const float samples[3] = {};
            w.writer->writeBytes(samples, sizeof samples); // one and a half stereo frames
        } else {
            w.writer->setFormat({ 48000, 0, TranslateCore::SampleType::float32, true });
        }
        const auto read = TestSupport::readUntilEnd(*w.packets, 1s);
        EXPECT_TRUE(read.ended);
        EXPECT_EQ(TestSupport::failureIn(read.error), TranslationFailure::audioFormat());
    }
}

TEST(PacketWriter, FinishingWithFlushDeliversTheRemainderThenEndsOnce)
{
    Writer w;
    const std::vector<float> audio = tone(0.25);
    w.writer->write(audio.data(), audio.size() / 2);
    EXPECT_EQ(w.writer->finish(true), nullptr);
    EXPECT_EQ(w.writer->finish(true), nullptr); // already ended: nothing more
    w.writer->fail(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    const auto read = TestSupport::readUntilEnd(*w.packets, 1s);
    ASSERT_TRUE(read.ended);
    EXPECT_FALSE(read.error);
    ASSERT_EQ(read.packets.size(), 3); // 250 ms: two full packets and the rest
    EXPECT_EQ(read.packets[1].pcm.size(), 3200);
    EXPECT_GT(read.packets[2].pcm.size(), 0);
    EXPECT_LT(read.packets[2].pcm.size(), 3200);
}
