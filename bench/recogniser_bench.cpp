// The local service's recognisers and translator in process: real-time factor (CPU seconds per
// audio second), first partial after the speech starts and final after it ends (in audio time,
// plus the CPU the frame took), memory of one speech stream, word error rate, and the time one
// sentence takes through a warm Apertium pipeline. The general English model runs on speech
// synthesised by espeak-ng and on the real recordings of pocketsphinx-testdata, beside the tone
// recogniser on the same audio.
#include "BenchSupport.h"

#include "ApertiumPipeline.h"
#include "AudioSegmenter.h"
#include "Capitalisation.h"
#include "SpeechRecogniser.h"

#include "support/SpeechTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <ctime>
#include <memory>

using namespace LocalService;

namespace {

constexpr int frameBytes = 3200; // 100 ms

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

struct Utterance {
    QByteArray pcm; // silence, speech, silence
    qint64 speechStartMs = 0;
    qint64 speechEndMs = 0;
    QString reference; // lower-case words; empty where none is known
};

// Where the voice starts and ends: the first and last 10 ms window above a quiet level.
std::pair<qint64, qint64> voicedSpan(const QByteArray &pcm)
{
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    const qsizetype windows = pcm.size() / 320;
    qint64 first = -1;
    qint64 last = 0;
    for (qsizetype w = 0; w < windows; ++w) {
        double energy = 0;
        for (int i = 0; i < 160; ++i)
            energy += double(samples[w * 160 + i]) * samples[w * 160 + i];
        if (std::sqrt(energy / 160) > 300) {
            if (first < 0)
                first = w * 10;
            last = w * 10 + 10;
        }
    }
    return { qMax<qint64>(first, 0), last };
}

Utterance padded(const QByteArray &speech, const QString &reference)
{
    const QByteArray lead = SpeechTestSupport::silence(500);
    Utterance u { lead + speech + SpeechTestSupport::silence(1500), 0, 0, reference };
    const auto [start, end] = voicedSpan(speech);
    u.speechStartMs = 500 + start;
    u.speechEndMs = 500 + end;
    return u;
}

const QStringList synthesisedSentences { "the weather is nice today", "i am going home on friday",
    "where is the train station", "he was not an ill disposed young man",
    "the meeting is on tuesday" };

std::vector<Utterance> synthesised()
{
    static std::vector<Utterance> corpus = [] {
        QTemporaryDir folder;
        std::vector<Utterance> out;
        for (const QString &text : synthesisedSentences)
            out.push_back(padded(SpeechTestSupport::spoken(text, folder.path()), text));
        return out;
    }();
    return corpus;
}

std::vector<Utterance> recordings()
{
    static std::vector<Utterance> corpus = [] {
        const QString dir = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox");
        QFile transcription(dir + QStringLiteral("/transcription"));
        std::vector<Utterance> out;
        if (!transcription.open(QIODevice::ReadOnly))
            return out;
        static const QRegularExpression line(QStringLiteral("^<s> (.*) </s> \\((.*)\\)$"));
        for (const QByteArray &raw : transcription.readAll().split('\n')) {
            const auto match = line.match(QString::fromUtf8(raw).trimmed());
            if (match.hasMatch())
                out.push_back(
                    padded(SpeechTestSupport::wavSamples(dir + "/" + match.captured(2) + ".wav"),
                        match.captured(1)));
        }
        return out;
    }();
    return corpus;
}

// Word-level edit distance between `hypothesis` and `reference`.
int wordErrors(const QString &hypothesis, const QString &reference)
{
    const QStringList h = hypothesis.split(' ', Qt::SkipEmptyParts);
    const QStringList r = reference.split(' ', Qt::SkipEmptyParts);
    std::vector<int> row(size_t(h.size() + 1));
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= r.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= h.size(); ++j) {
            const int up = row[size_t(j)];
            row[size_t(j)] = std::min(
                { up + 1, row[size_t(j - 1)] + 1, diagonal + (r[i - 1] == h[j - 1] ? 0 : 1) });
            diagonal = up;
        }
    }
    return row.back();
}

struct Run {
    double audioMs = 0;
    double cpuMs = 0;
    std::vector<double> firstPartialMs;
    std::vector<double> finalMs;
    int errors = 0;
    int referenceWords = 0;
};

// Feeds one utterance in 100 ms frames and notes when (in audio time plus the frame's CPU time)
// the first caption came after the voice started and the last final after it ended; the finals
// together are the recognised text.
void recognise(Recogniser &recogniser, const Utterance &u, Run &run, bool scoreWords)
{
    std::optional<double> partial;
    std::optional<double> final;
    QStringList text;
    for (qsizetype at = 0; at < u.pcm.size(); at += frameBytes) {
        const double before = threadCpuMs();
        const std::vector<Caption> captions = recogniser.feed(u.pcm.mid(at, frameBytes));
        const double spent = threadCpuMs() - before;
        run.cpuMs += spent;
        const double audioAt = double(qMin<qsizetype>(at + frameBytes, u.pcm.size())) / 32.0;
        for (const Caption &caption : captions) {
            if (!partial)
                partial = audioAt + spent - double(u.speechStartMs);
            if (caption.final) {
                final = audioAt + spent - double(u.speechEndMs);
                text.append(caption.sourceText);
            }
        }
    }
    for (const Caption &caption : recogniser.flush()) {
        if (caption.final)
            text.append(caption.sourceText);
    }
    run.audioMs += double(u.pcm.size()) / 32.0;
    if (partial)
        run.firstPartialMs.push_back(*partial);
    if (final)
        run.finalMs.push_back(*final);
    if (scoreWords) {
        run.errors += wordErrors(text.join(' ').toLower(), u.reference);
        run.referenceWords += int(u.reference.split(' ', Qt::SkipEmptyParts).size());
    }
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void report(benchmark::State &state, const Run &run, bool words)
{
    state.counters["rtf"] = run.cpuMs / run.audioMs;
    state.counters["first_partial_ms"] = median(run.firstPartialMs);
    state.counters["final_after_end_ms"] = median(run.finalMs);
    state.counters["max_final_after_end_ms"]
        = run.finalMs.empty() ? -1 : *std::max_element(run.finalMs.begin(), run.finalMs.end());
    if (words)
        state.counters["wer"] = double(run.errors) / qMax(1, run.referenceWords);
}

enum class Corpus { synthesised, synthesisedWithGrammar, recordings };

std::vector<Utterance> corpus(Corpus which)
{
    return which == Corpus::recordings ? recordings() : synthesised();
}

// The general model, or for the grammar case one that allows exactly the synthesised sentences.
SpeechModel model(Corpus which, const QTemporaryDir &folder)
{
    SpeechModel model;
    if (which == Corpus::synthesisedWithGrammar) {
        model.grammar = folder.filePath(QStringLiteral("sentences.gram"));
        SpeechTestSupport::writeGrammar(synthesisedSentences, model.grammar);
    }
    return model;
}

void BM_SpeechRecogniser(benchmark::State &state, Corpus which)
{
    const std::vector<Utterance> utterances = corpus(which);
    if (utterances.empty())
        Bench::fail(QStringLiteral("no audio (espeak-ng, sox, pocketsphinx-testdata)"));
    const QTemporaryDir folder;
    for (auto _ : state) {
        Run run;
        const double before = residentMb();
        QElapsedTimer loading;
        loading.start();
        auto recogniser = SpeechRecogniser::create(model(which, folder), 1);
        state.counters["load_ms"] = double(loading.nsecsElapsed()) / 1e6;
        if (!recogniser)
            Bench::fail(QStringLiteral("the speech models did not load"));
        state.counters["stream_rss_mb"] = residentMb() - before;
        for (const Utterance &u : utterances)
            recognise(*recogniser, u, run, true);
        report(state, run, true);
    }
}

void BM_ToneRecogniser(benchmark::State &state, Corpus which)
{
    const std::vector<Utterance> utterances = corpus(which);
    for (auto _ : state) {
        Run run;
        AudioSegmenter recogniser(1);
        for (const Utterance &u : utterances)
            recognise(recogniser, u, run, false);
        report(state, run, false);
    }
}

void BM_ApertiumSentence(benchmark::State &state, const char *pair)
{
    ApertiumPipeline pipeline(
        readApertiumMode(
            QStringLiteral("/usr/share/apertium/modes/%1.mode").arg(QLatin1String(pair))),
        3000);
    const auto translate = [&](const QString &text) {
        bool done = false;
        pipeline.translate(capitaliseEnglish(text), [&](const QString &) { done = true; });
        if (!Bench::spinUntil([&] { return done; }, std::chrono::seconds(10)))
            Bench::fail(QStringLiteral("no translation"));
    };
    QElapsedTimer clock;
    clock.start();
    translate(synthesisedSentences.first()); // starts the pipeline
    state.counters["first_sentence_ms"] = double(clock.nsecsElapsed()) / 1e6;
    std::vector<double> samples;
    for (auto _ : state) {
        for (const Utterance &u : recordings()) {
            clock.restart();
            translate(u.reference);
            samples.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    Bench::reportLatency(state, samples);
}

} // namespace

BENCHMARK_CAPTURE(BM_SpeechRecogniser, synthesised, Corpus::synthesised)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SpeechRecogniser, synthesised_grammar, Corpus::synthesisedWithGrammar)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToneRecogniser, synthesised, Corpus::synthesised)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SpeechRecogniser, recordings, Corpus::recordings)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToneRecogniser, recordings, Corpus::recordings)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ApertiumSentence, eng_spa, "eng-spa")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ApertiumSentence, eng_cat, "eng-cat")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv);
}
