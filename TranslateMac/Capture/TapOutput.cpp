#include "TapOutput.h"

#include "TranslateCore/Contract/TranslationFailure.h"

namespace TranslateMac {

using TranslateCore::PushResult;
using TranslateCore::TranslationFailure;

TapOutput::TapOutput(PacketSink continuation) : m_continuation(std::move(continuation)) { }

void TapOutput::setFormat(const TranslateCore::AudioFormat &format)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    if (!(format.sampleRate > 0) || format.channels <= 0) {
        failLocked(std::make_exception_ptr(TranslationFailure::audioFormat()));
        return;
    }
    m_format = format;
}

void TapOutput::consume(const void *data, std::size_t bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_closed || !data || bytes == 0 || !m_format)
        return;
    const std::size_t frameBytes = std::size_t(m_format->bytesPerSample()) * m_format->channels;
    try {
        if (frameBytes == 0 || bytes % frameBytes != 0)
            throw TranslationFailure::audioFormat();
        const TranslateCore::PCMBuffer buffer(*m_format, qsizetype(bytes / frameBytes), data);
        yieldLocked(m_converter.convert(buffer));
    } catch (...) {
        failLocked(std::current_exception());
    }
}

void TapOutput::finish(bool flush)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    if (flush) {
        try {
            yieldLocked(m_converter.finish());
        } catch (...) {
            failLocked(std::current_exception());
        }
        if (m_closed)
            return;
    }
    m_closed = true;
    m_continuation.close();
}

void TapOutput::fail(std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    if (!m_closed)
        failLocked(std::move(error));
}

void TapOutput::yieldLocked(QList<QByteArray> frames)
{
    for (QByteArray &frame : frames) {
        switch (m_continuation.push(CapturedPacket { std::move(frame) })) {
        case PushResult::ok:
            break;
        case PushResult::full:
            failLocked(std::make_exception_ptr(TranslationFailure::queueFull()));
            return;
        case PushResult::closed:
            // Nobody reads any more: stop converting.
            m_closed = true;
            return;
        }
    }
}

void TapOutput::failLocked(std::exception_ptr error)
{
    m_closed = true;
    m_continuation.closeWithError(std::move(error));
}

} // namespace TranslateMac
