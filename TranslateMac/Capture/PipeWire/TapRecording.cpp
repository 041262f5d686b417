#include "TranslateMac/Capture/PipeWire/TapRecording.h"

namespace TranslateMac {

QCoro::Task<std::shared_ptr<TapSession>> TapRecording::make(AudioSource source)
{
    std::unique_ptr<TapHardware> hardware = co_await TapHardware::create(std::move(source));
    co_return std::shared_ptr<TapSession>(new TapRecording(std::move(hardware)));
}

QCoro::Task<> TapRecording::start()
{
    co_await m_hardware->start();
}

QCoro::Task<> TapRecording::stop(bool flush)
{
    co_await m_hardware->stop(flush);
}

} // namespace TranslateMac
