#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace TranslateMac {

// What the user picks to translate: the whole computer's sound, or one running application.
struct AudioSource {
    std::optional<qint32> pid;
    QString name;
    // The application's identity shared by its helper processes (the sound server's
    // application id, or its binary name when it announces none).
    std::optional<QString> bundleID;

    static AudioSource wholeSystem()
    {
        return { std::nullopt, QStringLiteral("全电脑播放音频"), std::nullopt };
    }

    QString id() const { return pid ? QString::number(*pid) : QStringLiteral("system"); }
    friend bool operator==(const AudioSource &, const AudioSource &) = default;
};

inline size_t qHash(const AudioSource &source, size_t seed = 0) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, source.pid.has_value());
    seed = combine(seed, source.pid.value_or(0));
    seed = combine(seed, source.name);
    seed = combine(seed, source.bundleID.has_value());
    return combine(seed, source.bundleID.value_or(QString()));
}

} // namespace TranslateMac
