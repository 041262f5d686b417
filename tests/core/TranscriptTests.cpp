#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

using namespace TranslateCore;
using Case = TranslationFailure::Case;

namespace {

QString captionEvent(const QString &type, qint64 seq, const QString &text)
{
    return QString(R"({"type":"%1","segmentSeq":%2,"text":"%3"})")
        .arg(type, QString::number(seq), text);
}

// An event of `type` with the further JSON `members`; MAX and MIN stand for the 64-bit limits.
QString event(const QString &type, QString members = {})
{
    members.replace("MAX", QString::number(std::numeric_limits<qint64>::max()))
        .replace("MIN", QString::number(std::numeric_limits<qint64>::min()));
    return QString(R"({"type":"%1"%2})").arg(type, members.isEmpty() ? "" : "," + members);
}

// Applies each event in turn; the failure of the first that fails, if any.
std::optional<Case> apply(Transcript &transcript, std::initializer_list<QString> events)
{
    try {
        for (const QString &event : events)
            transcript.apply(ServerEvent::fromText(event));
    } catch (const TranslationFailure &failure) {
        return failure.kind();
    }
    return std::nullopt;
}

void complete(Transcript &transcript, qint64 seq)
{
    apply(transcript,
        { captionEvent("asr.final", seq, "s"), captionEvent("translation.final", seq, "t") });
}

} // namespace

TEST(TranscriptServerEvent, ParsesObjectsWithStringTypeOnly)
{
    EXPECT_EQ(ServerEvent::fromText(R"({"type":"future.thing","x":1})"),
        (ServerEvent { "future.thing", { { "type", "future.thing" }, { "x", 1 } } }));
    Transcript transcript;
    for (const char *text : { R"([{"type":"asr.final"}])", R"({"type":3})", R"({"segmentSeq":1})" })
        EXPECT_EQ(apply(transcript, { text }), Case::invalidResponse) << text;
    for (const char *text : { "hello", "" })
        EXPECT_THROW(apply(transcript, { text }), JsonParseError) << text;
    // A type the client does not know is accepted and changes nothing.
    EXPECT_EQ(
        apply(transcript, { event("balance.warning", R"("remainingPoints":1)") }), std::nullopt);
    EXPECT_EQ(transcript, Transcript());
}

TEST(TranscriptCaptions, ValidatesSegmentSeqAndTextBeforeChangingAnything)
{
    for (const char *members : { R"("segmentSeq":0,"text":"x")", R"("segmentSeq":-1,"text":"x")",
             R"("segmentSeq":"abc","text":"x")", R"("segmentSeq":1.5,"text":"x")", R"("text":"x")",
             R"("segmentSeq":7,"text":5)" }) {
        Transcript transcript(5);
        complete(transcript, 1);
        const Transcript before = transcript;
        EXPECT_EQ(apply(transcript, { event("asr.partial", members) }), Case::invalidResponse)
            << members;
        EXPECT_EQ(transcript, before) << members;
    }
    Transcript transcript;
    apply(transcript, { event("asr.partial", R"("segmentSeq":"7","text":"x")") });
    EXPECT_EQ(transcript.captions(), (QList<Caption> { { 7, "x", {}, false, false } }));
}

TEST(TranscriptCaptions, KeepsOutOfOrderSegmentsSorted)
{
    Transcript transcript;
    apply(transcript,
        { captionEvent("translation.final", 5, "five"), captionEvent("asr.partial", 3, "three"),
            captionEvent("asr.partial", 9, "nine"), captionEvent("asr.final", 4, "four") });
    EXPECT_EQ(transcript.captions(),
        (QList<Caption> { { 3, "three", {}, false, false }, { 4, "four", {}, true, false },
            { 5, {}, "five", false, true }, { 9, "nine", {}, false, false } }));
    EXPECT_EQ(transcript.replayCursor(), 0);
}

TEST(TranscriptCaptions, BlankTextsAndLatePartialsNeverReplaceText)
{
    Transcript transcript;
    const auto step = [&](const char *type, const char *text, const Caption &expected) {
        apply(transcript, { captionEvent(type, 1, text) });
        EXPECT_EQ(transcript.captions().at(0), expected) << type << " " << text;
    };
    step("asr.partial", "  ", { 1, {}, {}, false, false });
    step("asr.final", "", { 1, {}, {}, true, false });
    step("translation.partial", " hello ", { 1, {}, " hello ", true, false });
    step("translation.partial", R"(\n\t )", { 1, {}, " hello ", true, false });
    step("translation.final", "hi", { 1, {}, "hi", true, true });
    step("translation.partial", "late", { 1, {}, "hi", true, true });
    step("translation.final", "corrected", { 1, {}, "corrected", true, true });
    step("translation.final", " ", { 1, {}, "corrected", true, true });
}

TEST(TranscriptCaptions, CursorAdvancesOverCompleteRunAndStopsAtGap)
{
    Transcript transcript;
    apply(transcript, { captionEvent("asr.final", 1, "a") });
    for (qint64 seq : { 2, 3, 5 })
        complete(transcript, seq);
    EXPECT_EQ(transcript.replayCursor(), 0);
    apply(transcript, { captionEvent("translation.final", 1, "b") });
    EXPECT_EQ(transcript.replayCursor(), 3);
    complete(transcript, 4);
    EXPECT_EQ(transcript.replayCursor(), 5);
}

TEST(TranscriptCaptions, PrunesBehindCursorFrom301AndFailsAt601Captions)
{
    // 350 captions complete out of order except the first: nothing moves until it completes.
    Transcript transcript;
    for (qint64 seq = 2; seq <= 350; ++seq)
        complete(transcript, seq);
    apply(transcript, { captionEvent("asr.final", 1, "s") });
    EXPECT_EQ(transcript.captions().size(), 350);
    apply(transcript, { captionEvent("translation.final", 1, "t") });
    EXPECT_EQ(transcript.replayCursor(), 350);
    EXPECT_EQ(transcript.captions().size(), 300);
    EXPECT_EQ(transcript.captions().front().sequence, 51);
    // A repeat of a pruned segment behind the cursor is ignored without error.
    const Transcript before = transcript;
    EXPECT_EQ(apply(transcript, { captionEvent("asr.partial", 2, "again") }), std::nullopt);
    EXPECT_EQ(transcript, before);

    // 301 captions with the cursor at 200 keep everything.
    Transcript open;
    for (qint64 seq = 1; seq <= 301; ++seq)
        seq <= 200 ? complete(open, seq)
                   : void(apply(open, { captionEvent("asr.partial", seq, "x") }));
    EXPECT_EQ(open.replayCursor(), 200);
    EXPECT_EQ(open.captions().size(), 301);
    EXPECT_EQ(open.captions().front().sequence, 1);

    // 601 open captions fail with queueFull, and the update that made them stays applied.
    Transcript full;
    for (qint64 seq = 1; seq <= 600; ++seq)
        apply(full, { captionEvent("asr.partial", seq, "x") });
    EXPECT_EQ(apply(full, { captionEvent("asr.partial", 601, "last") }), Case::queueFull);
    ASSERT_EQ(full.captions().size(), 601);
    EXPECT_EQ(full.captions().back(), (Caption { 601, "last", {}, false, false }));
}

TEST(TranscriptPoints, UsageAndFinishFigures)
{
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    const auto usage = [](const char *members) { return event("usage.update", members); };
    const auto finish = [](const char *members) { return event("session.finished", members); };
    using Figures = std::tuple<qint64, qint64, qint64, bool>; // used, remaining, charged, finished
    const std::pair<QStringList, Figures> cases[] = {
        { { usage(R"("remainingPoints":"12")") }, { 0, 12, 0, false } },
        { { usage(R"("availablePoints":10,"reservedPoints":5)") }, { 0, 15, 0, false } },
        { { usage(R"("availablePoints":10,"chargedPoints":4)") }, { 4, 100, 4, false } },
        { { usage(R"("chargedPoints":7,"accruedPoints":9,"remainingPoints":true)") },
            { 9, 100, 7, false } },
        { { usage(R"("chargedPoints":7)"), usage("") }, { 7, 100, 7, false } },
        { { usage(R"("availablePoints":MAX,"reservedPoints":MAX)") }, { 0, max, 0, false } },
        { { usage(R"("availablePoints":"MIN","reservedPoints":-1)") }, { 0, min, 0, false } },
        { { usage(R"("chargedPoints":30,"accruedPoints":40)"), finish("") },
            { 30, 110, 30, true } },
        { { finish(R"("chargedPoints":500)") }, { 500, 0, 500, true } },
        { { finish(R"("remainingPoints":"8")") }, { 0, 8, 0, true } },
        { { usage(R"("chargedPoints":"MIN","accruedPoints":MAX,"remainingPoints":MAX)"),
              finish("") },
            { min, max, min, true } },
        { { usage(R"("chargedPoints":MAX,"remainingPoints":10)"), finish("") },
            { max, 10, max, true } },
    };
    for (const auto &[events, figures] : cases) {
        Transcript transcript(100);
        for (const QString &event : events)
            EXPECT_EQ(apply(transcript, { event }), std::nullopt);
        EXPECT_EQ(std::tuple(transcript.used(), transcript.remaining(), transcript.ledgerCharged(),
                      transcript.finished()),
            figures)
            << events.join(" ").toStdString();
    }
}

TEST(TranscriptPlainText, JoinsSourceAndTargetOfEveryCaption)
{
    Transcript transcript;
    EXPECT_EQ(transcript.plainText(), "");
    apply(transcript,
        { R"({"type":"session.finished"})", captionEvent("asr.final", 1, "a"),
            captionEvent("translation.partial", 1, "b"), captionEvent("asr.partial", 2, "c") });
    EXPECT_TRUE(transcript.finished());
    EXPECT_EQ(transcript.plainText(), "a\nb\n\nc\n");
}
