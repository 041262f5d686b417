#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace TranslateCore;
using Case = TranslationFailure::Case;

namespace {

QString captionEvent(const QString &type, qint64 seq, const QString &text)
{
    return QStringLiteral(R"({"type":"%1","segmentSeq":%2,"text":"%3"})")
        .arg(type)
        .arg(seq)
        .arg(text);
}

void apply(Transcript &transcript, const QString &text)
{
    transcript.apply(ServerEvent::fromText(text));
}

std::optional<Case> failureOf(Transcript &transcript, const QString &text)
{
    try {
        apply(transcript, text);
    } catch (const TranslationFailure &failure) {
        return failure.kind();
    }
    return std::nullopt;
}

void complete(Transcript &transcript, qint64 seq)
{
    apply(transcript, captionEvent("asr.final", seq, "s"));
    apply(transcript, captionEvent("translation.final", seq, "t"));
}

std::vector<qint64> sequences(const Transcript &transcript)
{
    std::vector<qint64> result;
    for (const Caption &caption : transcript.captions())
        result.push_back(caption.id());
    return result;
}

} // namespace

TEST(TranscriptServerEvent, ParsesObjectsWithStringTypeOnly)
{
    enum class Outcome { event, invalidResponse, parseError };
    const struct {
        const char *description;
        QString text;
        Outcome expected;
    } cases[] = {
        { "unknown type is accepted", R"({"type":"future.thing","x":1})", Outcome::event },
        { "array top level", R"([{"type":"asr.final"}])", Outcome::invalidResponse },
        { "numeric type", R"({"type":3})", Outcome::invalidResponse },
        { "null type", R"({"type":null})", Outcome::invalidResponse },
        { "number top level", "42", Outcome::invalidResponse },
        { "string top level", R"("asr.final")", Outcome::invalidResponse },
        { "missing type", R"({"segmentSeq":1})", Outcome::invalidResponse },
        { "not JSON", "hello", Outcome::parseError },
        { "truncated object", R"({"type":"asr.final")", Outcome::parseError },
        { "two values", "1,2", Outcome::parseError },
        { "empty frame", "", Outcome::parseError },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        Outcome outcome = Outcome::event;
        try {
            const ServerEvent event = ServerEvent::fromText(c.text);
            EXPECT_EQ(event.type, "future.thing");
            EXPECT_EQ(event.json.value("x").toInt(), 1);
            EXPECT_EQ(event.json.value("type").toString(), "future.thing");
        } catch (const TranslationFailure &failure) {
            EXPECT_EQ(failure.kind(), Case::invalidResponse);
            outcome = Outcome::invalidResponse;
        } catch (const JsonParseError &error) {
            EXPECT_NE(error.error().error, QJsonParseError::NoError);
            outcome = Outcome::parseError;
        }
        EXPECT_EQ(outcome, c.expected);
    }
}

TEST(TranscriptCaptions, ValidatesSegmentSeqAndTextBeforeChangingAnything)
{
    const struct {
        const char *description;
        QString event;
        std::optional<qint64> accepted; // the caption created, or nullopt for invalidResponse
    } cases[] = {
        { "zero", R"({"type":"asr.partial","segmentSeq":0,"text":"x"})", std::nullopt },
        { "negative", R"({"type":"asr.partial","segmentSeq":-1,"text":"x"})", std::nullopt },
        { "letters", R"({"type":"asr.partial","segmentSeq":"abc","text":"x"})", std::nullopt },
        { "fraction", R"({"type":"asr.partial","segmentSeq":1.5,"text":"x"})", std::nullopt },
        { "Boolean", R"({"type":"asr.partial","segmentSeq":true,"text":"x"})", std::nullopt },
        { "missing", R"({"type":"asr.partial","text":"x"})", std::nullopt },
        { "numeric text", R"({"type":"asr.partial","segmentSeq":7,"text":5})", std::nullopt },
        { "missing text", R"({"type":"translation.final","segmentSeq":7})", std::nullopt },
        { "digit string", R"({"type":"asr.partial","segmentSeq":"7","text":"x"})", 7 },
        { "whole double", R"({"type":"asr.partial","segmentSeq":8.0,"text":"x"})", 8 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        Transcript transcript(5);
        complete(transcript, 1);
        const Transcript before = transcript;
        const auto failure = failureOf(transcript, c.event);
        if (c.accepted) {
            EXPECT_EQ(failure, std::nullopt);
            EXPECT_EQ(sequences(transcript), (std::vector<qint64> { 1, *c.accepted }));
        } else {
            EXPECT_EQ(failure, Case::invalidResponse);
            EXPECT_EQ(transcript, before);
        }
    }
}

TEST(TranscriptCaptions, KeepsOutOfOrderSegmentsSorted)
{
    Transcript transcript;
    apply(transcript, captionEvent("translation.final", 5, "five"));
    apply(transcript, captionEvent("asr.partial", 3, "three"));
    apply(transcript, captionEvent("asr.partial", 9, "nine"));
    apply(transcript, captionEvent("asr.final", 4, "four"));
    EXPECT_EQ(sequences(transcript), (std::vector<qint64> { 3, 4, 5, 9 }));
    EXPECT_EQ(
        transcript.captions()[2], (Caption { 5, QString(), QStringLiteral("five"), false, true }));
    EXPECT_EQ(transcript.replayCursor(), 0);
}

TEST(TranscriptCaptions, BlankTextsAndLatePartialsNeverReplaceText)
{
    Transcript transcript;
    apply(transcript, captionEvent("asr.partial", 1, "  "));
    EXPECT_EQ(transcript.captions().at(0), (Caption { 1, {}, {}, false, false }));
    apply(transcript, captionEvent("asr.final", 1, ""));
    EXPECT_EQ(transcript.captions().at(0), (Caption { 1, {}, {}, true, false }));

    apply(transcript, captionEvent("translation.partial", 1, " hello "));
    apply(transcript, captionEvent("translation.partial", 1, R"(\n\t )"));
    EXPECT_EQ(transcript.captions().at(0).target, " hello ");
    apply(transcript, captionEvent("translation.final", 1, "hi"));
    apply(transcript, captionEvent("translation.partial", 1, "late"));
    EXPECT_EQ(transcript.captions().at(0).target, "hi");
    apply(transcript, captionEvent("translation.final", 1, "corrected"));
    apply(transcript, captionEvent("translation.final", 1, " "));
    EXPECT_EQ(transcript.captions().at(0), (Caption { 1, {}, "corrected", true, true }));
}

TEST(TranscriptCaptions, CursorAdvancesOverCompleteRunAndStopsAtGap)
{
    Transcript transcript;
    apply(transcript, captionEvent("asr.final", 1, "a"));
    complete(transcript, 2);
    complete(transcript, 3);
    complete(transcript, 5);
    EXPECT_EQ(transcript.replayCursor(), 0);
    apply(transcript, captionEvent("translation.final", 1, "b"));
    EXPECT_EQ(transcript.replayCursor(), 3);
    complete(transcript, 4);
    EXPECT_EQ(transcript.replayCursor(), 5);
}

TEST(TranscriptCaptions, PrunesBehindCursorOnlyFrom301Captions)
{
    // 350 captions complete out of order except the first: nothing moves until it completes.
    Transcript transcript;
    for (qint64 seq = 2; seq <= 350; ++seq)
        complete(transcript, seq);
    apply(transcript, captionEvent("asr.final", 1, "s"));
    EXPECT_EQ(transcript.captions().size(), 350);
    EXPECT_EQ(transcript.replayCursor(), 0);
    apply(transcript, captionEvent("translation.final", 1, "t"));
    EXPECT_EQ(transcript.replayCursor(), 350);
    EXPECT_EQ(transcript.captions().size(), 300);
    EXPECT_EQ(transcript.captions().front().sequence, 51);

    // A repeat of a pruned segment behind the cursor is ignored without error.
    const Transcript before = transcript;
    apply(transcript, captionEvent("asr.partial", 2, "again"));
    EXPECT_EQ(transcript, before);

    // 301 captions with the cursor at 200 keep everything.
    Transcript open;
    for (qint64 seq = 1; seq <= 200; ++seq)
        complete(open, seq);
    for (qint64 seq = 201; seq <= 301; ++seq)
        apply(open, captionEvent("asr.partial", seq, "x"));
    EXPECT_EQ(open.replayCursor(), 200);
    EXPECT_EQ(open.captions().size(), 301);
    EXPECT_EQ(open.captions().front().sequence, 1);
}

TEST(TranscriptCaptions, FailsWithQueueFullAt601OpenCaptionsKeepingTheUpdate)
{
    Transcript transcript;
    for (qint64 seq = 1; seq <= 600; ++seq)
        apply(transcript, captionEvent("asr.partial", seq, "x"));
    EXPECT_EQ(failureOf(transcript, captionEvent("asr.partial", 601, "last")), Case::queueFull);
    ASSERT_EQ(transcript.captions().size(), 601);
    EXPECT_EQ(transcript.captions().back(), (Caption { 601, "last", {}, false, false }));
}

TEST(TranscriptPoints, UsageAndFinishFigures)
{
    const QString max = "9223372036854775807";
    const QString min = "-9223372036854775808";
    const struct {
        const char *description;
        QStringList events;
        qint64 used, remaining, ledgerCharged;
        bool finished;
    } cases[] = {
        { "remaining as digit string", { R"({"type":"usage.update","remainingPoints":"12"})" }, 0,
            12, 0, false },
        { "available plus reserved",
            { R"({"type":"usage.update","availablePoints":10,"reservedPoints":5})" }, 0, 15, 0,
            false },
        { "available alone keeps remaining",
            { R"({"type":"usage.update","availablePoints":10,"chargedPoints":4})" }, 4, 100, 4,
            false },
        { "accrued and charged",
            { R"({"type":"usage.update","chargedPoints":7,"accruedPoints":9,"remainingPoints":true})" },
            9, 100, 7, false },
        { "absent charged keeps the ledger",
            { R"({"type":"usage.update","chargedPoints":7})", R"({"type":"usage.update"})" }, 7,
            100, 7, false },
        { "available plus reserved saturates",
            { QString(R"({"type":"usage.update","availablePoints":%1,"reservedPoints":%1})")
                    .arg(max) },
            0, std::numeric_limits<qint64>::max(), 0, false },
        { "negative sum saturates",
            { QString(R"({"type":"usage.update","availablePoints":"%1","reservedPoints":-1})")
                    .arg(min) },
            0, std::numeric_limits<qint64>::min(), 0, false },
        { "finish from previous figures",
            { R"({"type":"usage.update","chargedPoints":30,"accruedPoints":40})",
                R"({"type":"session.finished"})" },
            30, 110, 30, true },
        { "finish never leaves negative remaining",
            { R"({"type":"session.finished","chargedPoints":500})" }, 500, 0, 500, true },
        { "finish with remaining", { R"({"type":"session.finished","remainingPoints":"8"})" }, 0, 8,
            0, true },
        { "finish arithmetic saturates",
            { QString(
                  R"({"type":"usage.update","chargedPoints":"%1","accruedPoints":%2,"remainingPoints":%2})")
                    .arg(min, max),
                R"({"type":"session.finished"})" },
            std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
            std::numeric_limits<qint64>::min(), true },
        { "finish arithmetic is exact inside the range",
            { QString(R"({"type":"usage.update","chargedPoints":%1,"remainingPoints":10})")
                    .arg(max),
                R"({"type":"session.finished"})" },
            std::numeric_limits<qint64>::max(), 10, std::numeric_limits<qint64>::max(), true },
        { "unknown type changes nothing", { R"({"type":"balance.warning","remainingPoints":1})" },
            0, 100, 0, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        Transcript transcript(100);
        for (const QString &event : c.events)
            apply(transcript, event);
        EXPECT_EQ(transcript.used(), c.used);
        EXPECT_EQ(transcript.remaining(), c.remaining);
        EXPECT_EQ(transcript.ledgerCharged(), c.ledgerCharged);
        EXPECT_EQ(transcript.finished(), c.finished);
        EXPECT_TRUE(transcript.captions().isEmpty());
    }
}

TEST(TranscriptPlainText, JoinsSourceAndTargetOfEveryCaption)
{
    Transcript transcript;
    EXPECT_EQ(transcript.plainText(), "");
    apply(transcript, R"({"type":"session.finished"})");
    apply(transcript, captionEvent("asr.final", 1, "a"));
    apply(transcript, captionEvent("translation.partial", 1, "b"));
    apply(transcript, captionEvent("asr.partial", 2, "c"));
    EXPECT_TRUE(transcript.finished());
    EXPECT_EQ(transcript.plainText(), "a\nb\n\nc\n");
}
