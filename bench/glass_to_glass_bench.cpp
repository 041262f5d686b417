// Glass to glass: from a tone played into the sound server by another process to its caption
// painted in the workspace window and the floating subtitles (offscreen), through the real
// application (capture backend, local service with the tone recogniser over TLS), beside its
// parts in the same run: capture (sound playing → its frame reaches the model, which hands it to
// the socket writer at once), service (frame → caption event received) and event → paint.
// Needs a sound server: eval "$(scripts/start-audio)" first.
#include "BenchSupport.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

double ms(qint64 from, qint64 to)
{
    return double(to - from) / 1e6;
}

void BM_ToneToCaptionPainted(benchmark::State &state)
{
    if (!TestSupport::soundServerAvailable())
        Bench::fail(QStringLiteral("no sound server: run eval \"$(scripts/start-audio)\" first"));
    TestSupport::ApplicationSurroundings surroundings;
    if (!surroundings.isReady())
        Bench::fail(surroundings.failure());
    QuorvelTranslateMacApp app;
    AppModel &model = app.model();
    if (!TestSupport::signIn(model, surroundings.service(), QStringLiteral("13900000007")))
        Bench::fail(QStringLiteral("sign-in failed"));
    model.setOverlayVisible(true);
    if (!Bench::spinUntil([&] { return app.delegate().panel() && model.canStart(); }, 15s))
        Bench::fail(QStringLiteral("cannot start: ") + model.error().value_or(QString()));

    QElapsedTimer clock;
    clock.start();
    Bench::PaintClock workspace(clock), floating(clock);
    app.window().installEventFilter(&workspace);
    app.delegate().panel()->installEventFilter(&floating);
    qint64 heardAt = -1, eventAt = -1;
    QObject::connect(&model, &AppModel::levelChanged, [&] {
        if (heardAt < 0 && model.level() > 0.005f)
            heardAt = clock.nsecsElapsed();
    });
    qint64 lastSequence = 0;
    QObject::connect(&model, &AppModel::transcriptChanged, [&] {
        const auto &captions = model.transcript().captions();
        if (eventAt < 0 && !captions.isEmpty() && captions.last().sequence != lastSequence)
            eventAt = clock.nsecsElapsed();
    });

    // Listening starts once something plays (the probe); then the tone stops and its segment
    // closes before the measured rounds.
    {
        TestSupport::TonePlayer warmUp(TestSupport::tone(1000, "org.quorvel.bench-tone"));
        warmUp.start();
        model.start();
        if (!Bench::spinUntil([&] { return model.state() == ListeningState::listening; }, 40s))
            Bench::fail(QStringLiteral("not listening: ") + model.error().value_or(QString()));
        Bench::spinUntil([] { return false; }, 2s);
        warmUp.stop();
    }
    std::vector<double> total, capture, service, paint;
    for (auto _ : state) {
        // Silence until the open segment is final and the level has fallen.
        Bench::spinUntil(
            [&] {
                const auto &captions = model.transcript().captions();
                return model.level() <= 0.005f
                    && (captions.isEmpty() || captions.last().sourceFinal);
            },
            10s);
        Bench::spinUntil([] { return false; }, 300ms);
        lastSequence = model.transcript().captions().isEmpty()
            ? 0
            : model.transcript().captions().last().sequence;
        heardAt = eventAt = -1;
        TestSupport::TonePlayer player(TestSupport::tone(1000, "org.quorvel.bench-tone"));
        if (!player.start())
            Bench::fail(QStringLiteral("the tone player did not start"));
        const qint64 playedAt = clock.nsecsElapsed(); // its stream exists on the server
        const bool painted = Bench::spinUntil(
            [&] {
                return eventAt > 0 && workspace.lastPaintEnd > eventAt
                    && floating.lastPaintEnd > eventAt;
            },
            15s);
        if (!painted)
            Bench::fail(QStringLiteral("no caption painted for the tone"));
        const qint64 paintedAt = std::max(workspace.lastPaintEnd, floating.lastPaintEnd);
        total.push_back(ms(playedAt, paintedAt));
        capture.push_back(ms(playedAt, heardAt));
        service.push_back(ms(heardAt, eventAt));
        paint.push_back(ms(eventAt, paintedAt));
        state.SetIterationTime(double(paintedAt - playedAt) / 1e9);
        player.stop();
    }
    model.stop();
    Bench::spinUntil([&] { return !model.ownsSession() && !model.settling(); }, 20s);
    Bench::reportLatency(state, capture, "capture_");
    Bench::reportLatency(state, service, "service_");
    Bench::reportLatency(state, paint, "paint_");
    Bench::reportLatency(state, total);
}

} // namespace

BENCHMARK(BM_ToneToCaptionPainted)->Iterations(12)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(
        argc, argv, { .widgets = true, .prepare = QuorvelTranslateMacApp::prepareProcess });
}
