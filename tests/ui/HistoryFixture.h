#pragma once

#include "TranslateMac/AppModel/TranscriptExport.h"
#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Screens/History/HistoryWindow.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// The history window over a real journal file in a temporary folder, with its settings in a
// private folder, the clipboard and the save dialog observed.
class HistoryTest : public ::testing::Test {
public:
    struct Caption {
        const char *source;
        const char *target;
    };

protected:
    void SetUp() override;
    void TearDown() override;

    // Records a session of `captions` (a caption every 4 s), started `minutesAgo` before a fixed
    // evening; ended unless `open`. Returns its journal id.
    qint64 record(qint64 minutesAgo, std::initializer_list<Caption> captions,
        std::optional<qint64> points = std::nullopt, bool open = false,
        const QString &direction = QStringLiteral("English → 中文"));
    // Waits until the journal wrote everything and the window heard of it.
    void settleJournal();
    // Shows a new window over the journal.
    TranslateMac::HistoryWindow &openWindow();
    // Clicks the list's item `row` as the user does.
    void clickItem(int row);
    // Answers the confirmation being asked by pressing `button`.
    void answer(const QString &button);

    QTemporaryDir folder;
    std::unique_ptr<TranslateMac::CaptionJournal> journal;
    std::unique_ptr<TranslateMac::HistoryWindow> window;
    // What the seams saw.
    QStringList copied;
    QStringList proposedNames;
    TranslateMac::TranscriptExport::Completion saveCompletion;

    static constexpr qint64 eveningMs = 1'741'982'730'000;
};
