#include "PacketWriter.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>
#include <vector>

namespace TranslateMac {

using TranslateCore::PushResult;
using TranslateCore::TranslationFailure;

namespace {

// What silence is written in before any audio told the format.
constexpr TranslateCore::AudioFormat silenceFormat { 48000, 2, TranslateCore::SampleType::float32,
    true };

} // namespace

PacketWriter::PacketWriter(PacketSink sink) : m_sink(std::move(sink)) { }

void PacketWriter::setFormat(const TranslateCore::AudioFormat &format)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    if (!(format.sampleRate > 0) || format.channels <= 0)
        return endLocked(std::make_exception_ptr(TranslationFailure::audioFormat()));
    m_format = format;
}

void PacketWriter::begin(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    m_lastAudio = now;
    m_silentUntil = now;
}

void PacketWriter::write(const void *data, std::size_t frames)
{
    std::lock_guard lock(m_mutex);
    writeAudioLocked(data, frames);
}

void PacketWriter::writeBytes(const void *data, std::size_t bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_closed || !data || bytes == 0 || !m_format)
        return;
    const std::size_t frameBytes
        = std::size_t(m_format->bytesPerSample()) * std::size_t(m_format->channels);
    if (frameBytes == 0 || bytes % frameBytes != 0)
        return endLocked(std::make_exception_ptr(TranslationFailure::audioFormat()));
    writeAudioLocked(data, bytes / frameBytes);
}

void PacketWriter::writeAudioLocked(const void *data, std::size_t frames)
{
    if (m_closed || !data || frames == 0 || !m_format)
        return;
    if (m_lastAudio)
        m_lastAudio = Clock::now();
    writeLocked(data, frames);
}

void PacketWriter::keepAlive(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_closed || !m_lastAudio || now - *m_lastAudio < quietAfter)
        return;
    if (!m_format)
        m_format = silenceFormat;
    const Clock::time_point from = std::max(*m_lastAudio, m_silentUntil);
    const double rate = m_format->sampleRate;
    const auto frames = std::size_t(std::chrono::duration<double>(now - from).count() * rate);
    if (frames == 0)
        return;
    const std::vector<char> silence(
        frames * std::size_t(m_format->bytesPerSample()) * std::size_t(m_format->channels), 0);
    m_silentUntil = from
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frames / rate));
    writeLocked(silence.data(), frames);
}

std::exception_ptr PacketWriter::finish(bool flush)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return nullptr;
    if (flush) {
        std::exception_ptr failure;
        try {
            failure = yieldLocked(m_converter.finish());
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            endLocked(failure);
            return failure;
        }
    }
    endLocked(nullptr);
    return nullptr;
}

void PacketWriter::fail(std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    endLocked(std::move(error));
}

bool PacketWriter::isClosed()
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void PacketWriter::writeLocked(const void *data, std::size_t frames)
{
    try {
        const TranslateCore::PCMBuffer buffer(*m_format, qsizetype(frames), data);
        if (std::exception_ptr failure = yieldLocked(m_converter.convert(buffer)))
            endLocked(failure);
    } catch (...) {
        endLocked(std::current_exception());
    }
}

std::exception_ptr PacketWriter::yieldLocked(QList<QByteArray> frames)
{
    for (QByteArray &frame : frames) {
        if (m_closed)
            return nullptr;
        switch (m_sink.push(CapturedPacket { std::move(frame) })) {
        case PushResult::ok:
            break;
        case PushResult::full:
            return std::make_exception_ptr(TranslationFailure::queueFull());
        case PushResult::closed:
            // Nobody reads any more: nothing more to say to them.
            m_closed = true;
            return nullptr;
        }
    }
    return nullptr;
}

void PacketWriter::endLocked(std::exception_ptr error)
{
    if (m_closed)
        return;
    m_closed = true;
    if (error)
        m_sink.closeWithError(std::move(error));
    else
        m_sink.close();
}

} // namespace TranslateMac
