// How much text a reader sees erased while the service rewrites partial captions: words taken
// off the screen per final word, with the service's texts shown as they arrive ("before") and
// held steady by the caption list ("after"), on the partial-rewrite stream the local service's
// English recogniser produces for the real LibriVox recordings of pocketsphinx-testdata. Also
// the time the list takes per event for it.
#include "BenchSupport.h"

#include "SpeechRecogniser.h"

#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Captions/SteadyText.h"

#include "support/SpeechTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

using namespace TranslateMac;

namespace {

constexpr int frameBytes = 3200; // 100 ms

struct Event {
    qint64 sequence;
    bool final;
    QString text;
};

// The recogniser's partials and finals for every recording, in order, as the service sends them.
const std::vector<Event> &recordedStream()
{
    static std::vector<Event> events = [] {
        std::vector<Event> out;
        const QString dir = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox");
        auto recogniser = LocalService::SpeechRecogniser::create({}, 1);
        if (!recogniser)
            Bench::fail(QStringLiteral("the speech models did not load"));
        auto keep = [&](const std::vector<LocalService::Caption> &captions) {
            for (const LocalService::Caption &c : captions)
                out.push_back({ c.segmentSeq, c.final, c.sourceText });
        };
        for (const QString &wav : QDir(dir).entryList({ QStringLiteral("*.wav") }, QDir::Files)) {
            const QByteArray pcm = SpeechTestSupport::silence(500)
                + SpeechTestSupport::wavSamples(dir + "/" + wav) + SpeechTestSupport::silence(1500);
            for (qsizetype at = 0; at < pcm.size(); at += frameBytes)
                keep(recogniser->feed(pcm.mid(at, frameBytes)));
            keep(recogniser->flush());
        }
        if (out.empty())
            Bench::fail(QStringLiteral("no recordings under ") + dir);
        return out;
    }();
    return events;
}

class NoRow : public CaptionRowView {
public:
    void showCaption(const ShownCaption &, bool) override { }
};

qsizetype wordCount(const QString &text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size();
}

void BM_ErasurePerFinalWord(benchmark::State &state)
{
    const std::vector<Event> &events = recordedStream();
    double before = 0, after = 0, finalWords = 0, partials = 0;
    std::vector<double> perEventMs;
    for (auto _ : state) {
        before = after = finalWords = partials = 0;
        FollowingCaptions list({}, [] { return new NoRow; });
        QList<TranslateCore::Caption> captions;
        QHash<qint64, QString> raw, steady;
        QElapsedTimer timer;
        for (const Event &event : events) {
            if (captions.isEmpty() || captions.last().sequence != event.sequence)
                captions.append({ event.sequence, QString(), QString(), false, false });
            TranslateCore::Caption &caption = captions.last();
            caption.source = event.text;
            caption.sourceFinal = event.final;
            caption.target = event.text; // the translation line follows the same rule
            caption.targetFinal = event.final;
            timer.start();
            list.setCaptions(captions);
            perEventMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            const QString shown = list.shownCaption(event.sequence)->source;
            before += double(SteadyText::erasedWords(raw.value(event.sequence), event.text));
            after += double(SteadyText::erasedWords(steady.value(event.sequence), shown));
            raw[event.sequence] = event.text;
            steady[event.sequence] = shown;
            if (event.final)
                finalWords += double(wordCount(event.text));
            else
                ++partials;
        }
    }
    state.counters["events"] = double(events.size());
    state.counters["partials"] = partials;
    state.counters["final_words"] = finalWords;
    state.counters["erasure_before"] = finalWords > 0 ? before / finalWords : 0;
    state.counters["erasure_after"] = finalWords > 0 ? after / finalWords : 0;
    Bench::reportLatency(state, perEventMs);
}

} // namespace

BENCHMARK(BM_ErasurePerFinalWord)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv, { .widgets = true });
}
