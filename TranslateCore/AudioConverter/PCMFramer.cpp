#include "PCMFramer.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>
#include <utility>

namespace TranslateCore {

PCMFramer::PCMFramer()
{
    m_pending.reserve(bytesPerFrame);
}

QList<QByteArray> PCMFramer::append(QByteArrayView data)
{
    if (data.size() % 2 != 0)
        throw TranslationFailure::audioFormat();

    QList<QByteArray> frames;
    qsizetype offset = 0;
    if (!m_pending.isEmpty()) {
        const qsizetype taken = std::min(bytesPerFrame - m_pending.size(), data.size());
        m_pending.append(data.first(taken));
        offset = taken;
        if (m_pending.size() < bytesPerFrame)
            return frames;
        // The full remainder becomes the frame itself; a fresh buffer takes its place.
        frames.append(std::exchange(m_pending, QByteArray()));
        m_pending.reserve(bytesPerFrame);
    }
    for (; data.size() - offset >= bytesPerFrame; offset += bytesPerFrame)
        frames.append(data.sliced(offset, bytesPerFrame).toByteArray());
    m_pending.append(data.sliced(offset));
    return frames;
}

QByteArray PCMFramer::finish()
{
    QByteArray rest = std::exchange(m_pending, QByteArray());
    m_pending.reserve(bytesPerFrame);
    return rest;
}

void PCMFramer::reset()
{
    m_pending.resize(0);
}

} // namespace TranslateCore
