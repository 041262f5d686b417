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
#include "support/LocalServiceProcess.h"
#include "support/ScriptedCapture.h"
#include "support/ScriptedSocketConnection.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QJsonObject>

#include <memory>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// Paints a window's pending update itself, noting when the paint ended and how long it took.
class PaintClock : public QObject {
public:
    explicit PaintClock(QElapsedTimer &clock) : m_clock(clock) { }
    qint64 lastPaintEnd = -1;
    std::vector<double> paintMs;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::UpdateRequest || m_inside)
            return false;
        m_inside = true;
        const qint64 begin = m_clock.nsecsElapsed();
        watched->event(event); // QObject::event is public; the widget paints here
        lastPaintEnd = m_clock.nsecsElapsed();
        paintMs.push_back(double(lastPaintEnd - begin) / 1e6);
        m_inside = false;
        return true;
    }

private:
    QElapsedTimer &m_clock;
    bool m_inside = false;
};

// A signed-in model listening on a socket the benchmark plays, with both windows showing it.
// One service for the whole run (the client reads its address once per process) and the two
// listening models; main() ends them before the application object goes.
std::unique_ptr<LocalServiceProcess> runningService;
struct Listening;
std::unique_ptr<Listening> withViews;
std::unique_ptr<Listening> alone;

LocalServiceProcess &sharedService()
{
    if (!runningService)
        runningService = std::make_unique<LocalServiceProcess>();
    return *runningService;
}

struct Listening {
    LocalServiceProcess &service = sharedService();
    TestSupport::IsolatedHome home;
    ManualClock clock;
    std::shared_ptr<TestSupport::ScriptedSocketConnection> socket;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<WorkspaceWindow> window;
    std::unique_ptr<AppDelegate> delegate;
    QElapsedTimer elapsed;
    PaintClock workspacePaints { elapsed };
    PaintClock floatingPaints { elapsed };
    qint64 transcriptAt = -1;
    qint64 nextSeq = 1;

    // `views`: the workspace window and the floating subtitles show the model; without them the
    // model is measured alone.
    explicit Listening(bool views, const QString &phone)
    {
        service.setFailureHandler([](const QString &why) { Bench::fail(why); });
        if (!service.isRunning())
            Bench::fail(service.failure());
        service.exportEndpoint();
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
        if (!TestSupport::signIn(*model, service, phone))
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
    void settle()
    {
        Bench::spinUntil([] { return false; }, 50ms);
        workspacePaints.paintMs.clear();
        floatingPaints.paintMs.clear();
    }
};

Listening &listening()
{
    if (!withViews)
        withViews = std::make_unique<Listening>(true, QStringLiteral("13900000009"));
    return *withViews;
}

Listening &listeningAlone()
{
    if (!alone)
        alone = std::make_unique<Listening>(false, QStringLiteral("13900000008"));
    return *alone;
}

double msSince(qint64 from, qint64 to)
{
    return double(to - from) / 1e6;
}

void BM_ServerEventToCaption(benchmark::State &state)
{
    Listening &l = listening();
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
    std::sort(modelMs.begin(), modelMs.end());
    state.counters["model_median_ms"] = modelMs[modelMs.size() / 2];
    state.counters["model_p90_ms"] = modelMs[modelMs.size() * 9 / 10];
    Bench::reportLatency(state, paintedMs);
}

void BM_ServerEventToModelAlone(benchmark::State &state)
{
    Listening &l = listeningAlone();
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
    Bench::reportLatency(state, modelMs);
}

void BM_PaintWhileCaptionsArrive(benchmark::State &state)
{
    Listening &l = listening();
    // Fill the transcript to 600 captions, a few per turn of the event loop.
    while (l.model->transcript().captions().size() < 600) {
        l.finalCaption(l.nextSeq++);
        if (l.nextSeq % 20 == 0)
            Bench::spinUntil([] { return false; }, 1ms);
    }
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
    std::vector<double> paints = l.workspacePaints.paintMs;
    paints.insert(paints.end(), l.floatingPaints.paintMs.begin(), l.floatingPaints.paintMs.end());
    state.counters["captions_held"] = double(l.model->transcript().captions().size());
    state.counters["workspace_paints"] = double(l.workspacePaints.paintMs.size());
    state.counters["floating_paints"] = double(l.floatingPaints.paintMs.size());
    std::vector<double> workspace = l.workspacePaints.paintMs;
    std::sort(workspace.begin(), workspace.end());
    if (!workspace.empty())
        state.counters["workspace_p90_ms"] = workspace[workspace.size() * 9 / 10];
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
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    withViews.reset();
    alone.reset();
    runningService.reset();
    return 0;
}
