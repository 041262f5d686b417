#pragma once

#include "TranslateMac/Journal/CaptionJournal.h"

#include <QString>

#include <memory>
#include <optional>

namespace TranslateMac {

// The application's journal as it could be opened at launch, and what the user must be told.
struct JournalOpening {
    // Nothing when no journal can be used this time; translation goes on without one.
    std::unique_ptr<CaptionJournal> journal;
    std::optional<QString> problem;
};

// Opens the journal at `path`. A damaged one is set aside (kept for rescue) and a new one begun;
// one written by a newer version is left untouched and not used; any other failure leaves the
// run without a journal. Never throws.
JournalOpening openJournalForUse(const QString &path, CaptionJournal::Options options);

} // namespace TranslateMac
