#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace LocalService {

// Follows the frame boundaries of what a WebSocket client sends, piece by piece as the bytes
// arrive: the 2-byte header, the 16- or 64-bit extended length, the 4-byte masking key, then the
// payload, which is skipped. Every frame a client sends must be masked; the first one that is not
// ends the connection.
class ClientFrameReader {
public:
    // Takes the next bytes of the stream; false once an unmasked frame has been seen.
    bool follow(QByteArrayView bytes);

private:
    QByteArray m_header; // the current frame's header so far
    quint64 m_payloadLeft = 0;
    bool m_unmasked = false;
};

} // namespace LocalService
