#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace LocalService {

// One step of a caption segment as a recogniser reports it.
struct Caption {
    qint64 segmentSeq = 0;
    bool final = false;
    QString sourceText;
    // Recognisers that already know the translation say it here; otherwise the session's
    // translator supplies it.
    std::optional<QString> targetText;
};

// Turns a session's 16 kHz mono little-endian PCM into numbered caption segments: partials while
// a segment is open, a final when it closes.
class Recogniser {
public:
    virtual ~Recogniser() = default;
    // Feeds samples (a trailing odd byte waits for its partner) and returns the captions they
    // produced, in order.
    virtual std::vector<Caption> feed(const QByteArray &pcm) = 0;
    // Ends the input: an open segment is closed at once.
    virtual std::vector<Caption> flush() = 0;
};

} // namespace LocalService
