#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/AppModel/SessionRecorder.h"
#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Journal/JournalExport.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/LocalServiceProcess.h"
#include "support/SpeechTestSupport.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>
#include <iostream>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

// An English sentence spoken into the sink by another process is captured, recognised offline by
// the local service and shown in the model's transcript with its Spanish translation; stopping
// settles the session, and the journal keeps what was read for the history and its exports.
TEST(SpeechEndToEnd, PlayedEnglishSentenceArrivesWithItsSpanishTranslation)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    const QString sentence = QStringLiteral("where is the train station");
    QTemporaryDir folder;
    const QString grammar = folder.filePath(QStringLiteral("sentence.gram"));
    ASSERT_TRUE(SpeechTestSupport::writeGrammar({ sentence }, grammar));
    // Said again every few seconds: listening starts only once something plays, so the first
    // time may be heard in part; a pause follows each time, which ends the segment.
    const QString wav = folder.filePath(QStringLiteral("sentence.wav"));
    const QString spoken = folder.filePath(QStringLiteral("spoken.wav"));
    ASSERT_TRUE(SpeechTestSupport::synthesise(sentence, spoken));
    ASSERT_EQ(QProcess::execute(QStringLiteral("sox"),
                  { spoken, wav, QStringLiteral("pad"), QStringLiteral("0"), QStringLiteral("2"),
                      QStringLiteral("repeat"), QStringLiteral("8") }),
        0);

    LocalServiceProcess service({ "--recogniser", "speech", "--speech-grammar", grammar });
    ASSERT_TRUE(service.isRunning()) << service.failure().toStdString();
    service.exportEndpoint();

    const auto application = TestSupport::applicationModel(service);
    AppModel &model = *application;
    const auto journal = CaptionJournal::open(folder.filePath(QStringLiteral("journal.sqlite3")));
    const SessionRecorder recorder(model, *journal, [] { return true; });
    ASSERT_TRUE(TestSupport::signIn(model, service, QStringLiteral("13600000002")));
    TestSupport::runTask(model.refreshSources());
    model.setSelectedRoute(QStringLiteral("EN_ES"));
    ASSERT_EQ(model.selectedRoute(), QStringLiteral("EN_ES"));
    ASSERT_TRUE(model.canStart()) << model.error().value_or("").toStdString();

    QProcess player;
    player.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    player.start(QStringLiteral("paplay"),
        { QStringLiteral("--property=application.name=Speech Player"), wav });
    ASSERT_TRUE(player.waitForStarted(3000));
    auto started = TestSupport::start(model.start());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return model.state() == ListeningState::listening; }, 40s))
        << model.error().value_or("").toStdString();
    const auto heardWhole = [&]() -> std::optional<Caption> {
        for (const Caption &caption : model.transcript().captions()) {
            if (caption.complete() && caption.source == sentence)
                return caption;
        }
        return std::nullopt;
    };
    ASSERT_TRUE(TestSupport::spinUntil([&] { return heardWhole().has_value(); }, 30s))
        << model.transcript().plainText().toStdString();
    EXPECT_EQ(heardWhole()->target, QStringLiteral("Dónde es la canal de tren"));
    player.kill();
    player.waitForFinished(3000);

    model.stop();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return model.state() == ListeningState::completed && !model.settling()
                && !model.quoteBusy();
        },
        20s));
    EXPECT_EQ(model.error(), std::nullopt);
    const QJsonArray sessions = service.control("GET", "/control/sessions")["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_TRUE(sessions.first()["settled"].toBool());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return started->done; }, 5s));

    ASSERT_TRUE(journal->flush(5s));
    const QList<JournalSession> recorded = journal->sessions();
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorded.first().chargedPoints, model.transcript().ledgerCharged());
    const QList<JournalCaption> captions = journal->captions(recorded.first().id);
    ASSERT_TRUE(std::any_of(captions.begin(), captions.end(), [&](const auto &caption) {
        return caption.source == sentence && caption.target == heardWhole()->target
            && caption.appearedMs < caption.finalMs;
    }));
    // What a user exporting this session gets, for the record.
    const std::pair<const char *, ExportFormat> formats[] { { "text", ExportFormat::text },
        { "timed text", ExportFormat::timedText }, { "SubRip", ExportFormat::srt },
        { "WebVTT", ExportFormat::webVtt }, { "JSON lines", ExportFormat::jsonLines } };
    for (const auto &[name, format] : formats)
        std::cout << "== " << name << "\n"
                  << exportJournalCaptions(captions, format).toStdString() << std::endl;
}
