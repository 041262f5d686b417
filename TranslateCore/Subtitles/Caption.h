#pragma once

#include <QString>
#include <QtGlobal>

namespace TranslateCore {

// One numbered segment of the session: recognised source text and its translation.
struct Caption {
    qint64 sequence = 0; // always greater than 0; also the caption's identity
    QString source;
    QString target;
    bool sourceFinal = false;
    bool targetFinal = false;

    qint64 id() const { return sequence; }
    bool complete() const { return sourceFinal && targetFinal; }

    friend bool operator==(const Caption &, const Caption &) = default;
};

} // namespace TranslateCore
