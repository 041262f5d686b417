#include "ClientFrameReader.h"

#include <algorithm>

namespace LocalService {

namespace {
constexpr quint8 maskBit = 0x80;
constexpr quint8 lengthBits = 0x7f;
constexpr int baseHeader = 2;
constexpr int maskingKey = 4;
} // namespace

bool ClientFrameReader::follow(QByteArrayView bytes)
{
    qsizetype at = 0;
    while (!m_unmasked && at < bytes.size()) {
        if (m_payloadLeft > 0) {
            const quint64 take = std::min<quint64>(m_payloadLeft, quint64(bytes.size() - at));
            m_payloadLeft -= take;
            at += qsizetype(take);
            continue;
        }
        m_header.append(bytes[at++]);
        if (m_header.size() < baseHeader)
            continue;
        const quint8 second = quint8(m_header[1]);
        if ((second & maskBit) == 0) {
            m_unmasked = true;
            break;
        }
        const quint8 shortLength = second & lengthBits;
        const int extended = shortLength == 126 ? 2 : shortLength == 127 ? 8 : 0;
        if (m_header.size() < baseHeader + extended + maskingKey)
            continue;
        quint64 length = shortLength;
        if (extended > 0) {
            length = 0;
            for (int i = 0; i < extended; ++i)
                length = (length << 8) | quint8(m_header[baseHeader + i]);
        }
        m_payloadLeft = length;
        m_header.clear();
    }
    return !m_unmasked;
}

} // namespace LocalService
