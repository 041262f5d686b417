// The application model on real parts (the sound server of scripts/start-audio, the local service
// over TLS): the time from a click written into a player to the frame carrying it being handed to
// the live socket, and the CPU this process spends per second of audio while listening; each
// beside the capture alone in the same run. Skips without a sound server.
#include "BenchSupport.h"
#include "PacedPlayer.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Capture/AudioCaptureFactory.h"
#include "TranslateMac/Capture/CaptureAccess.h"

#include "support/LocalServiceProcess.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Socket/LiveSocket.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <algorithm>
#include <ctime>
#include <memory>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

double processCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

float level(const QByteArray &pcm)
{
    return CapturedPacket { pcm }.level();
}

// What reached the end of the measured path: when each audio frame arrived, and how loud it was.
struct Arrivals {
    QElapsedTimer clock;
    std::vector<std::pair<qint64, float>> frames; // nanoseconds on `clock`, level

    void note(const QByteArray &pcm) { frames.emplace_back(clock.nsecsElapsed(), level(pcm)); }
    std::size_t size() const { return frames.size(); }
    bool quietSince(std::size_t from) const
    {
        return frames.size() >= from + 3
            && std::all_of(
                frames.end() - 2, frames.end(), [](const auto &f) { return f.second < 0.01f; });
    }
    std::optional<qint64> loudSince(std::size_t from) const
    {
        for (std::size_t i = from; i < frames.size(); ++i) {
            if (frames[i].second > 0.05f)
                return frames[i].first;
        }
        return std::nullopt;
    }
};

// The live socket with a look at every audio frame the writer hands it.
class ObservedSocket final : public SocketConnection {
public:
    ObservedSocket(const QUrl &url, Arrivals &arrivals)
        : m_socket(std::make_shared<LiveSocket>(url)), m_arrivals(arrivals)
    {
    }
    QCoro::Task<> send(SocketMessage message) override
    {
        if (message.kind == SocketMessage::Kind::audio)
            m_arrivals.note(message.audioPayload);
        return m_socket->send(std::move(message));
    }
    QCoro::Task<SocketMessage> receive() override { return m_socket->receive(); }
    QCoro::Task<> close() override { return m_socket->close(); }

private:
    std::shared_ptr<LiveSocket> m_socket;
    Arrivals &m_arrivals;
};

// Either the capture alone (packets read straight from its stream) or the whole model (frames
// seen at the socket), fed by `player`.
class Path {
public:
    virtual ~Path() = default;
    virtual void begin() = 0;
    virtual void end() = 0;
    Arrivals arrivals;
};

class CaptureAlone final : public Path {
public:
    void begin() override
    {
        Bench::awaitTask(m_capture->prepare(AudioSource::wholeSystem()), 35s);
        m_stream.emplace(Bench::awaitTask(m_capture->start()));
        arrivals.clock.start();
        m_reader = read(&*m_stream, &arrivals);
    }
    void end() override
    {
        Bench::awaitTask(m_capture->stop(false));
        Bench::spinUntil([&] { return m_reader.isReady(); }, 5s);
    }

private:
    static QCoro::Task<> read(PacketStream *stream, Arrivals *arrivals)
    {
        try {
            while (auto packet = co_await stream->next())
                arrivals->note(packet->pcm);
        } catch (...) {
        }
    }
    std::unique_ptr<AudioCapturing> m_capture = AudioCaptureFactory::make();
    std::optional<PacketStream> m_stream;
    QCoro::Task<> m_reader;
};

class WholeModel final : public Path {
public:
    explicit WholeModel(LocalServiceProcess &service) : m_service(service) { }
    void begin() override
    {
        TranscriptExport seams;
        seams.copy = [](const QString &) {};
        seams.chooseSaveLocation = [](const QString &, TranscriptExport::Completion) {};
        m_model = std::make_unique<AppModel>(
            std::make_unique<TranslationAPI>(), AudioCaptureFactory::make(),
            [this](const QUrl &url) { return std::make_shared<ObservedSocket>(url, arrivals); },
            SystemClock::shared(), seams);
        static int accounts = 0; // a fresh account each run: codes are rationed per number
        const QString phone = QStringLiteral("1350000%1").arg(++accounts, 4, 10, QLatin1Char('0'));
        m_service.control("POST", "/control/balance", { { "phone", phone }, { "points", 100000 } });
        Bench::awaitTask(m_model->sendCode("+86", phone));
        const QString code
            = m_service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
        Bench::awaitTask(m_model->login("+86", phone, code));
        if (!m_model->canStart())
            Bench::fail("the model cannot start: " + m_model->error().value_or(QString()));
        arrivals.clock.start();
        m_model->start(); // runs on by itself
        if (!Bench::spinUntil([&] { return m_model->state() == ListeningState::listening; }, 40s))
            Bench::fail(
                "the model did not start listening: " + m_model->error().value_or(QString()));
    }
    void end() override
    {
        m_model->stop();
        Bench::spinUntil(
            [&] { return m_model->state() == ListeningState::completed && !m_model->settling(); },
            20s);
        m_model.reset();
        m_service.reset();
    }

private:
    LocalServiceProcess &m_service;
    std::unique_ptr<AppModel> m_model;
};

bool ready(benchmark::State &state)
{
    if (!CaptureAccess::soundServerReachable()) {
        state.SkipWithError("no sound server: run eval \"$(scripts/start-audio)\" first");
        return false;
    }
    return true;
}

std::unique_ptr<Path> makePath(bool model)
{
    if (model)
        return std::make_unique<WholeModel>(Bench::service());
    return std::make_unique<CaptureAlone>();
}

void BM_ClickToFrame(benchmark::State &state, bool model)
{
    if (!ready(state))
        return;
    Bench::PacedPlayer player; // a tone first: preparing waits for sound
    const std::unique_ptr<Path> path = makePath(model);
    std::vector<double> latencies;
    for (auto _ : state) {
        path->begin();
        player.setTone(false);
        Arrivals &arrivals = path->arrivals;
        for (int trial = 0; trial < 20; ++trial) {
            const std::size_t quietFrom = arrivals.size();
            Bench::spinUntil([&] { return arrivals.quietSince(quietFrom); }, 5s);
            // A varying phase against the 100 ms frames.
            Bench::spinUntil([] { return false; }, std::chrono::milliseconds(7 + trial * 13 % 100));
            player.rearm();
            const std::size_t from = arrivals.size();
            player.click();
            Bench::spinUntil([&] { return arrivals.loudSince(from).has_value(); }, 3s);
            const auto written = player.clickWrittenAt(arrivals.clock);
            if (const auto heard = arrivals.loudSince(from); written && heard)
                latencies.push_back(double(*heard - *written) / 1e6);
        }
        path->end();
    }
    Bench::reportLatency(state, latencies);
    state.counters["clicks"] = double(latencies.size());
}

void BM_CpuPerAudioSecond(benchmark::State &state, bool model)
{
    if (!ready(state))
        return;
    const Bench::ExternalTone tone; // a steady tone, like speech that never pauses
    const std::unique_ptr<Path> path = makePath(model);
    double cpuMs = 0, audioSeconds = 0;
    for (auto _ : state) {
        path->begin();
        Arrivals &arrivals = path->arrivals;
        Bench::sleepUntil([&] { return arrivals.size() >= 10; }, 5s); // settle
        const double before = processCpuMs();
        const std::size_t from = arrivals.size();
        Bench::sleepUntil([&] { return arrivals.size() >= from + 100; }, 20s); // 10 s of audio
        cpuMs += processCpuMs() - before;
        audioSeconds += double(arrivals.size() - from) / 10;
        path->end();
    }
    state.counters["cpu_ms_per_audio_s"] = audioSeconds > 0 ? cpuMs / audioSeconds : 0;
    state.counters["audio_s"] = audioSeconds;
}

} // namespace

BENCHMARK_CAPTURE(BM_ClickToFrame, capture_alone, false)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ClickToFrame, model_to_socket, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_CpuPerAudioSecond, capture_alone, false)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_CpuPerAudioSecond, model_listening, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv, { .service = true });
}
