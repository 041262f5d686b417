// From a server event received on the live socket to the caption painted in the workspace window
// and the floating subtitles (offscreen), beside the model-only path (event received to the
// transcript published) in the same run; and the paint time of both windows while captions
// arrive at 10 events per second with 600 captions held.
#include "BenchSupport.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/ScriptedCapture.h"
#include "support/ScriptedSocketConnection.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QJsonObject>

#include <memory>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// A signed-in model listening on a socket the benchmark plays, with both windows showing it;
// each benchmark has its own, on the program's local service.
struct Listening {
    TestSupport::IsolatedHome home;
    ManualClock clock;
    std::shared_ptr<TestSupport::ScriptedSocketConnection> socket;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<WorkspaceWindow> window;
    std::unique_ptr<AppDelegate> delegate;
    QElapsedTimer elapsed;
    Bench::PaintClock workspacePaints { elapsed };
    Bench::PaintClock floatingPaints { elapsed };
    qint64 transcriptAt = -1;
    qint64 nextSeq = 1;

    // `views`: the workspace window and the floating subtitles show the model; without them the
    // model is measured alone.
    explicit Listening(bool views, const QString &phone)
    {
        TranscriptExport seams;
        seams.copy = [](const QString &) {};
        seams.chooseSaveLocation = [](const QString &, TranscriptExport::Completion) {};
        model = std::make_unique<AppModel>(
            std::make_unique<TranslationAPI>(), std::make_unique<TestSupport::ScriptedCapture>(),
            [this](const QUrl &) {
                socket = std::make_shared<TestSupport::ScriptedSocketConnection>();
                return socket;
            },
            clock, seams);
        // Connected before any view: the model's own path ends when it publishes the
        // transcript, before the views react to it.
        QObject::connect(model.get(), &AppModel::transcriptChanged,
            [this] { transcriptAt = elapsed.nsecsElapsed(); });
        if (!TestSupport::signIn(*model, Bench::service(), phone))
            Bench::fail(QStringLiteral("sign-in failed"));
        Bench::awaitTask(model->refreshSources());
        if (views) {
            window = std::make_unique<WorkspaceWindow>(*model, new AppContentView(*model), [] {});
            delegate = std::make_unique<AppDelegate>(clock);
            window->show();
            delegate->attach(*model);
            model->setOverlayVisible(true);
        }
        // The window's first appearance refreshes sources and quote; start once they are in.
        Bench::spinUntil([] { return false; }, 100ms);
        if (!Bench::spinUntil([&] { return model->canStart(); }, 10s))
            Bench::fail(QStringLiteral("cannot start: ") + model->error().value_or(QString()));
        auto started = TestSupport::start(model->start());
        if (!Bench::spinUntil([&] { return socket != nullptr; }, 10s))
            Bench::fail(QStringLiteral("no socket: ") + model->error().value_or(QString()));
        socket->deliver({ { "type", "session.ready" }, { "sessionId", *model->sessionID() },
            { "heartbeatIntervalMs", 60000 } });
        if (!Bench::spinUntil([&] { return model->state() == ListeningState::listening; }, 10s))
            Bench::fail(QStringLiteral("not listening"));
        if (views) {
            if (!Bench::spinUntil([&] { return delegate->panel() != nullptr; }, 5s))
                Bench::fail(QStringLiteral("no floating subtitles"));
            window->installEventFilter(&workspacePaints);
            delegate->panel()->installEventFilter(&floatingPaints);
        }
        elapsed.start();
    }

    void caption(const char *type, qint64 seq, const QString &text)
    {
        socket->deliver({ { "type", type }, { "segmentSeq", seq }, { "text", text } });
    }
    // One whole caption: recognised text and translation.
    void finalCaption(qint64 seq)
    {
        caption(
            "asr.final", seq, QStringLiteral("caption number %1 of the running talk.").arg(seq));
        caption("translation.final", seq,
            QStringLiteral("这是正在进行的演讲的第 %1 句字幕。").arg(seq));
    }
    qsizetype held() const { return model->transcript().captions().size(); }
    void settle()
    {
        Bench::spinUntil([] { return false; }, 50ms);
        workspacePaints.paintMs.clear();
        floatingPaints.paintMs.clear();
    }
    void checkStillListening() const
    {
        if (model->state() != ListeningState::listening)
            Bench::fail(QStringLiteral("the session ended: ") + model->error().value_or(QString()));
    }
};

double msSince(qint64 from, qint64 to)
{
    return double(to - from) / 1e6;
}

void BM_ServerEventToCaption(benchmark::State &state)
{
    Listening l(true, QStringLiteral("13900000009"));
    l.settle();
    std::vector<double> modelMs;
    std::vector<double> paintedMs;
    for (auto _ : state) {
        const qint64 seq = l.nextSeq++;
        const qint64 sent = l.elapsed.nsecsElapsed();
        l.transcriptAt = -1;
        l.caption("asr.partial", seq, QStringLiteral("a partial caption %1").arg(seq));
        const bool painted = Bench::spinUntil(
            [&] {
                return l.transcriptAt > sent && l.workspacePaints.lastPaintEnd > l.transcriptAt
                    && l.floatingPaints.lastPaintEnd > l.transcriptAt;
            },
            5s);
        if (!painted)
            Bench::fail(
                QStringLiteral("the caption was not painted: model %1, workspace %2, floating %3")
                    .arg(l.transcriptAt > sent)
                    .arg(l.workspacePaints.lastPaintEnd > l.transcriptAt)
                    .arg(l.floatingPaints.lastPaintEnd > l.transcriptAt));
        const qint64 end = std::max(l.workspacePaints.lastPaintEnd, l.floatingPaints.lastPaintEnd);
        modelMs.push_back(msSince(sent, l.transcriptAt));
        paintedMs.push_back(msSince(sent, end));
        state.SetIterationTime(double(end - sent) / 1e9);
    }
    l.checkStillListening();
    state.counters["captions_held"] = double(l.held());
    Bench::reportLatency(state, modelMs, "model_");
    Bench::reportLatency(state, paintedMs);
}

void BM_ServerEventToModelAlone(benchmark::State &state)
{
    Listening l(false, QStringLiteral("13900000008"));
    std::vector<double> modelMs;
    for (auto _ : state) {
        const qint64 seq = l.nextSeq++;
        const qint64 sent = l.elapsed.nsecsElapsed();
        l.caption("asr.partial", seq, QStringLiteral("a partial caption %1").arg(seq));
        if (!Bench::spinUntil([&] { return l.transcriptAt > sent; }, 5s))
            Bench::fail(QStringLiteral("the transcript did not change"));
        modelMs.push_back(msSince(sent, l.transcriptAt));
        state.SetIterationTime(double(l.transcriptAt - sent) / 1e9);
    }
    l.checkStillListening();
    Bench::reportLatency(state, modelMs);
}

void BM_PaintWhileCaptionsArrive(benchmark::State &state)
{
    Listening l(true, QStringLiteral("13900000007"));
    // The first caption never completes, so none behind it is let go and the list holds every
    // caption: 574 now, 600 after the events below (the model holds at most 600 this way).
    l.caption("asr.partial", l.nextSeq++, QStringLiteral("the caption that stays open"));
    while (l.nextSeq <= 574) {
        l.finalCaption(l.nextSeq++);
        if (l.nextSeq % 20 == 0)
            Bench::spinUntil([] { return false; }, 1ms);
    }
    if (!Bench::spinUntil([&] { return l.held() == 574; }, 30s))
        Bench::fail(QStringLiteral("the list holds %1 captions").arg(l.held()));
    Bench::spinUntil([] { return false; }, 1s); // the last arrivals' motion ends
    l.settle();
    for (auto _ : state) {
        // Ten events a second for five seconds: finals of new captions and partials between.
        for (int i = 0; i < 50; ++i) {
            if (i % 2 == 0)
                l.finalCaption(l.nextSeq++);
            else
                l.caption("asr.partial", l.nextSeq, QStringLiteral("the next caption is coming"));
            Bench::spinUntil([] { return false; }, 100ms);
        }
    }
    l.checkStillListening();
    std::vector<double> paints = l.workspacePaints.paintMs;
    paints.insert(paints.end(), l.floatingPaints.paintMs.begin(), l.floatingPaints.paintMs.end());
    state.counters["captions_held"] = double(l.held());
    state.counters["workspace_paints"] = double(l.workspacePaints.paintMs.size());
    state.counters["floating_paints"] = double(l.floatingPaints.paintMs.size());
    Bench::reportLatency(state, l.workspacePaints.paintMs, "workspace_");
    Bench::reportLatency(state, paints);
}

} // namespace

BENCHMARK(BM_ServerEventToCaption)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerEventToModelAlone)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintWhileCaptionsArrive)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv, { .widgets = true, .service = true });
}
