#include "TranslateMac/Journal/JournalOpening.h"

#include <QFileInfo>

namespace TranslateMac {

JournalOpening openJournalForUse(const QString &path, CaptionJournal::Options options)
{
    if (path.isEmpty())
        return { nullptr, JournalFailure::unavailable().errorDescription() };
    try {
        return { CaptionJournal::open(path, options), std::nullopt };
    } catch (const JournalFailure &failure) {
        if (failure.kind() != JournalFailure::Case::corrupt)
            return { nullptr, failure.errorDescription() };
    }
    try {
        const QString aside = CaptionJournal::setAside(path);
        auto journal = CaptionJournal::open(path, options);
        return { std::move(journal),
            QStringLiteral("本机字幕记录已损坏，已改名保存为“%1”；新的记录从现在开始。")
                .arg(QFileInfo(aside).fileName()) };
    } catch (const JournalFailure &failure) {
        return { nullptr, failure.errorDescription() };
    }
}

} // namespace TranslateMac
