#pragma once

#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/PipeWire/TapHardware.h"
#include "TranslateMac/Capture/PipeWire/TapSession.h"

#include <memory>

namespace TranslateMac {

// A recording on the sound server (see TapHardware).
class TapRecording final : public TapSession {
public:
    static QCoro::Task<std::shared_ptr<TapSession>> make(AudioSource source);

    PacketStream &packets() override { return m_hardware->packets(); }
    QCoro::Task<> start() override;
    QCoro::Task<> stop(bool flush) override;

private:
    explicit TapRecording(std::unique_ptr<TapHardware> hardware) : m_hardware(std::move(hardware))
    {
    }

    std::unique_ptr<TapHardware> m_hardware;
};

} // namespace TranslateMac
