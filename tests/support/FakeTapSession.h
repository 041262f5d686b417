#pragma once

#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"
#include "TranslateMac/Capture/PipeWire/TapSession.h"

#include "TranslateCore/Async/Channel.h"

#include <memory>
#include <optional>
#include <vector>

namespace TestSupport {

// A recording that delivers one packet when started (sound, or digital silence) and counts how
// it was started and stopped.
class FakeTapSession final : public TranslateMac::TapSession {
public:
    explicit FakeTapSession(bool sound) : m_sound(sound)
    {
        auto [sink, packets] = TranslateCore::makeChannel<TranslateMac::CapturedPacket>(
            TranslateMac::packetStreamCapacity);
        m_sink.emplace(std::move(sink));
        m_packets.emplace(std::move(packets));
    }
    TranslateMac::PacketStream &packets() override { return *m_packets; }
    QCoro::Task<> start() override
    {
        ++starts;
        m_sink->push(TranslateMac::CapturedPacket { QByteArray(3200, m_sound ? '\x10' : '\0') });
        co_return;
    }
    QCoro::Task<> stop(bool flush) override
    {
        ++stops;
        flushed = flush;
        m_sink->close();
        co_return;
    }

    int starts = 0;
    int stops = 0;
    bool flushed = false;

private:
    bool m_sound;
    std::optional<TranslateMac::PacketSink> m_sink;
    std::optional<TranslateMac::PacketStream> m_packets;
};

// The recordings a TapAudioCapture made through factory(), newest last.
struct FakeTapRecordings {
    bool sound = true;
    std::exception_ptr failure; // when set, making a recording fails with it
    std::vector<std::shared_ptr<FakeTapSession>> made;

    TranslateMac::TapAudioCapture::MakeRecording factory()
    {
        return [this](TranslateMac::AudioSource)
                   -> QCoro::Task<std::shared_ptr<TranslateMac::TapSession>> {
            if (failure)
                std::rethrow_exception(failure);
            auto session = std::make_shared<FakeTapSession>(sound);
            made.push_back(session);
            std::shared_ptr<TranslateMac::TapSession> recording = session;
            co_return recording; // a named T: QCoro 0.8 moves from any other lvalue it is given
        };
    }
};

} // namespace TestSupport
