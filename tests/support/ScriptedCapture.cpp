#include "ScriptedCapture.h"

#include <QtEndian>

#include <cmath>
#include <numbers>

using namespace TranslateCore;
using namespace TranslateMac;

namespace TestSupport {

QCoro::Task<QList<AudioSource>> ScriptedCapture::sources()
{
    if (sourcesFailure)
        std::rethrow_exception(sourcesFailure);
    co_return QList<AudioSource>(listed);
}

QCoro::Task<> ScriptedCapture::prepare(AudioSource, CancellationToken token)
{
    ++prepareCount;
    if (prepareGate) {
        const OneShot<> gate = *prepareGate;
        co_await gate.wait(token);
    }
    if (!prepareFailures.isEmpty()) {
        const std::exception_ptr failure = prepareFailures.takeFirst();
        if (failure)
            std::rethrow_exception(failure);
    }
}

QCoro::Task<PacketStream> ScriptedCapture::start()
{
    ++startCount;
    if (startFailure)
        std::rethrow_exception(startFailure);
    auto [sink, stream] = makeChannel<CapturedPacket>(packetStreamCapacity);
    m_sink.reset();
    m_sink.emplace(std::move(sink));
    co_return std::move(stream);
}

QCoro::Task<> ScriptedCapture::stop(bool flush)
{
    stops.append(flush);
    if (m_sink) {
        if (flush) {
            for (const QByteArray &pcm : std::as_const(flushPackets))
                m_sink->push(CapturedPacket { pcm });
        }
        m_sink->close();
        m_sink.reset();
    }
    if (stopGate) {
        const OneShot<> gate = *stopGate;
        co_await gate.wait();
    }
    if (stopFailure)
        std::rethrow_exception(stopFailure);
}

PushResult ScriptedCapture::push(const QByteArray &pcm)
{
    return m_sink ? m_sink->push(CapturedPacket { pcm }) : PushResult::closed;
}

void ScriptedCapture::fail(std::exception_ptr error)
{
    if (m_sink) {
        m_sink->closeWithError(error);
        m_sink.reset();
    }
}

QByteArray pcmFrame(double frequency, int samples)
{
    QByteArray pcm(samples * 2, '\0');
    for (int i = 0; i < samples && frequency > 0; ++i) {
        const double x = 0.5 * std::sin(2 * std::numbers::pi * frequency * i / 16000.0);
        qToLittleEndian<qint16>(qint16(std::lround(x * 32767)), pcm.data() + 2 * i);
    }
    return pcm;
}

} // namespace TestSupport
