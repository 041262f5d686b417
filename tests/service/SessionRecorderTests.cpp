#include "AppModelFixture.h"

#include "TranslateMac/AppModel/SessionRecorder.h"
#include "TranslateMac/Journal/CaptionJournal.h"

#include <QTemporaryDir>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// A model on the local service whose sessions are recorded in a journal of its own; time is the
// scenario's virtual clock, so the audio clock the journal keeps is exact.
class SessionRecording : public AppModelScenario {
protected:
    void SetUp() override
    {
        AppModelScenario::SetUp();
        ASSERT_TRUE(folder.isValid());
        journal = CaptionJournal::open(folder.filePath(QStringLiteral("journal.sqlite3")));
        recorder = std::make_unique<SessionRecorder>(*model, *journal, [this] { return keep; });
    }

    void TearDown() override
    {
        recorder.reset();
        AppModelScenario::TearDown();
    }

    QList<JournalSession> recorded()
    {
        EXPECT_TRUE(journal->flush(5s));
        return journal->sessions();
    }

    // Plays a tone of 1.5 s after 1 s of listening, then a pause that closes its caption at 3 s.
    void playOneCaption()
    {
        clock.advance(1s);
        play(1000, 15);
        ASSERT_TRUE(waitFor([&] { return !model->transcript().captions().isEmpty(); }));
        clock.advance(2s);
        play(0, 4);
        ASSERT_TRUE(waitFor([&] {
            return !model->transcript().captions().isEmpty()
                && model->transcript().captions().first().complete();
        }));
    }

    QTemporaryDir folder;
    std::unique_ptr<CaptionJournal> journal;
    std::unique_ptr<SessionRecorder> recorder;
    bool keep = true;
};

} // namespace

TEST_F(SessionRecording, KeepsTheSessionItsFinalCaptionsTheirTimesAndTheCharge)
{
    signIn();
    startListening();
    const auto route = model->route();
    playOneCaption();

    // Kept as soon as it is final, while the session still runs.
    QList<JournalSession> sessions = recorded();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(sessions.first().serviceSessionId, *model->sessionID());
    EXPECT_EQ(sessions.first().routeCode, model->selectedRoute());
    ASSERT_TRUE(route.has_value());
    EXPECT_EQ(sessions.first().direction, route->name);
    EXPECT_EQ(sessions.first().sourceName, model->selectedSource().name);
    EXPECT_FALSE(sessions.first().endedAtMs.has_value());
    const QList<JournalCaption> captions = journal->captions(sessions.first().id);
    ASSERT_EQ(captions.size(), 1);
    const TranslateCore::Caption &shown = model->transcript().captions().first();
    EXPECT_EQ(captions.first().sequence, shown.sequence);
    EXPECT_EQ(captions.first().source, shown.source);
    EXPECT_EQ(captions.first().target, shown.target);
    EXPECT_EQ(captions.first().appearedMs, 1000);
    EXPECT_EQ(captions.first().finalMs, 3000);

    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    sessions = recorded();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_TRUE(sessions.first().endedAtMs.has_value());
    EXPECT_FALSE(sessions.first().interrupted);
    EXPECT_EQ(sessions.first().chargedPoints, model->transcript().ledgerCharged());
    EXPECT_GT(*sessions.first().chargedPoints, 0);
    EXPECT_EQ(sessions.first().captionCount, 1);
}

TEST_F(SessionRecording, ACaptionStillOpenAtTheStopIsKept)
{
    signIn();
    startListening();
    play(1000, 15);
    ASSERT_TRUE(waitFor([&] { return !model->transcript().captions().isEmpty(); }));
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    const QList<JournalSession> sessions = recorded();
    ASSERT_EQ(sessions.size(), 1);
    const QList<JournalCaption> captions = journal->captions(sessions.first().id);
    ASSERT_EQ(captions.size(), 1);
    EXPECT_EQ(captions.first().source, model->transcript().captions().first().source);
}

TEST_F(SessionRecording, NothingIsKeptWithLocalHistoryOffOrWithNothingRead)
{
    signIn();
    for (const bool keepHistory : { false, true }) {
        SCOPED_TRACE(keepHistory ? "nothing read" : "local history off");
        keep = keepHistory;
        startListening();
        if (!keepHistory)
            playOneCaption();
        model->stop();
        ASSERT_TRUE(settledIn(State::completed));
    }
    EXPECT_TRUE(recorded().isEmpty());
}
