#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace TranslateCore {

// Cuts a stream of 16-bit PCM bytes into upload frames of exactly 100 ms, holding back the
// remainder until more audio arrives or the stream ends.
class PCMFramer {
public:
    static constexpr qsizetype bytesPerFrame = 3200;

    PCMFramer();

    // Every complete frame now available, oldest first. An odd byte count fails with
    // `TranslationFailure::audioFormat` and leaves the framer unchanged.
    QList<QByteArray> append(const QByteArray &data) { return append(QByteArrayView(data)); }
    QList<QByteArray> append(QByteArrayView data);

    // The remainder (possibly empty); the framer is empty afterwards.
    QByteArray finish();
    void reset();
    qsizetype pendingSize() const { return m_pending.size(); }

private:
    QByteArray m_pending;
};

} // namespace TranslateCore
