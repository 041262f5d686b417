// Cost of one live caption event on the client: decoding the frame and applying it to a
// transcript holding a full window of captions, against decoding the JSON alone.
#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include <QJsonDocument>
#include <QList>
#include <QString>

#include <benchmark/benchmark.h>

using namespace TranslateCore;

namespace {

constexpr qint64 heldSegments = 300;
constexpr qint64 streamedSegments = 2000;

const char *const sourceWords[] = { "so", "the", "next", "thing", "we", "want", "to", "look", "at",
    "is", "how", "the", "model", "handles", "longer", "inputs", "in", "practice" };
const char *const targetWords[] = { "所以", "我们", "接下来", "要", "看", "的", "是", "模型",
    "如何", "处理", "更长", "的", "输入" };

template <std::size_t N>
QString words(const char *const (&list)[N], qint64 seed, int count, const char *separator)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::fromUtf8(list[(seed * 7 + i * 3) % N]);
    return parts.join(QString::fromUtf8(separator));
}

QString captionEvent(const char *type, qint64 seq, const QString &text)
{
    return QStringLiteral(
        R"({"type":"%1","segmentSeq":%2,"text":"%3","startMs":%4,"endMs":%5,"language":"%6"})")
        .arg(QLatin1String(type))
        .arg(seq)
        .arg(text)
        .arg(seq * 1800)
        .arg(seq * 1800 + 1650)
        .arg(QLatin1String(type[0] == 'a' ? "en" : "zh"));
}

// The frames of one segment as the service sends them: growing partials, then finals.
void appendSegment(QStringList &events, qint64 seq)
{
    events << captionEvent("asr.partial", seq, words(sourceWords, seq, 4, " "))
           << captionEvent("asr.partial", seq, words(sourceWords, seq, 8, " "))
           << captionEvent("asr.final", seq, words(sourceWords, seq, 11, " ") + '.')
           << captionEvent("translation.partial", seq, words(targetWords, seq, 5, ""))
           << captionEvent("translation.final", seq, words(targetWords, seq, 9, "") + "。");
    if (seq % 4 == 0)
        events << QStringLiteral(R"({"type":"usage.update","chargedPoints":%1,"accruedPoints":%2,)"
                                 R"("availablePoints":%3,"reservedPoints":40})")
                      .arg(seq / 4)
                      .arg(seq / 4 + 2)
                      .arg(100000 - seq / 4);
}

struct Stream {
    Transcript prepared { 100000 };
    QStringList texts;
    QList<QByteArray> bytes;
};

const Stream &stream()
{
    static const Stream s = [] {
        Stream result;
        QStringList warmUp;
        for (qint64 seq = 1; seq <= heldSegments; ++seq)
            appendSegment(warmUp, seq);
        for (const QString &text : warmUp)
            result.prepared.apply(ServerEvent::fromText(text));
        for (qint64 seq = heldSegments + 1; seq <= heldSegments + streamedSegments; ++seq)
            appendSegment(result.texts, seq);
        for (const QString &text : result.texts)
            result.bytes << text.toUtf8();
        return result;
    }();
    return s;
}

void EventPath_ParseAndApply(benchmark::State &state)
{
    const Stream &s = stream();
    qsizetype held = 0;
    for (auto _ : state) {
        // Each pass replays the same segments onto a fresh copy of the full window.
        Transcript transcript = s.prepared;
        for (const QString &text : s.texts)
            transcript.apply(ServerEvent::fromText(text));
        held = transcript.captions().size();
        benchmark::DoNotOptimize(transcript);
    }
    state.SetItemsProcessed(state.iterations() * s.texts.size());
    state.counters["captionsHeld"] = double(held);
}

void EventPath_JsonOnly(benchmark::State &state)
{
    const Stream &s = stream();
    for (auto _ : state) {
        for (const QByteArray &bytes : s.bytes) {
            QJsonDocument document = QJsonDocument::fromJson(bytes);
            benchmark::DoNotOptimize(document);
        }
    }
    state.SetItemsProcessed(state.iterations() * s.bytes.size());
}

} // namespace

BENCHMARK(EventPath_ParseAndApply)->Unit(benchmark::kMillisecond);
BENCHMARK(EventPath_JsonOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
