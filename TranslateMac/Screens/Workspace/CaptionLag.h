#pragma once

#include "TranslateCore/Contract/Instant.h"
#include "TranslateCore/Subtitles/Caption.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

namespace TranslateMac {

// How far the newest caption is behind the sound. The capture delivers sound in real time, so
// the model's clock while listening is the audio clock: the lag is the time since the first
// sound that no caption change has answered yet (none while everything heard is captioned).
class CaptionLag {
public:
    enum class Level { onTime, late, behind };
    // Live-subtitle practice: under 1.5 s reads as on time, under 3 s as late, beyond as behind.
    static constexpr double lateSeconds = 1.5;
    static constexpr double behindSeconds = 3.0;

    // Sound was (or was not) heard at `now`.
    void noteSound(TranslateCore::Instant now, bool heard);
    // The captions changed at `now`: what was heard so far is answered.
    void noteCaptions(TranslateCore::Instant now);
    void reset() { m_unanswered.reset(); }
    double seconds(TranslateCore::Instant now) const;

    static Level levelOf(double seconds);
    static QColor colour(Level level);
    // "字幕延迟 0.8 秒", and "· N 句待翻译" while translations are waiting.
    static QString text(double seconds, int waiting);
    // Captions whose source is recognised and whose translation has not come in final.
    static int waitingTranslations(const QList<TranslateCore::Caption> &captions);

private:
    std::optional<TranslateCore::Instant> m_unanswered;
};

} // namespace TranslateMac
