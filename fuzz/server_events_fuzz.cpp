// Feeds arbitrary frames, one per line of the input, through event decoding into a fresh
// transcript and checks that the transcript stays well formed whatever the service sends.
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

using namespace TranslateCore;

namespace {

bool wellFormed(const Transcript &transcript, qsizetype queueFullCount)
{
    const QList<Caption> &captions = transcript.captions();
    if (transcript.replayCursor() < 0)
        return false;
    // Only an update that reported queueFull may leave the list at or above the ceiling, and each
    // such update adds at most one caption.
    if (captions.size() >= Transcript::hardCeiling + queueFullCount)
        return false;
    qint64 previous = 0;
    for (const Caption &caption : captions) {
        if (caption.sequence <= previous)
            return false;
        // The cursor only ever passes complete captions.
        if (caption.sequence <= transcript.replayCursor() && !caption.complete())
            return false;
        previous = caption.sequence;
    }
    return transcript.plainText().isEmpty() == captions.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    Transcript transcript(100);
    qsizetype queueFullCount = 0;
    for (const QByteArray &frame : input.split('\n')) {
        try {
            transcript.apply(ServerEvent::fromData(frame));
        } catch (const JsonParseError &) {
        } catch (const TranslationFailure &failure) {
            if (failure.kind() == TranslationFailure::Case::queueFull)
                ++queueFullCount;
        }
    }
    if (!wellFormed(transcript, queueFullCount))
        __builtin_trap();
    return 0;
}
