#include "TranslateMac/Capture/PulseAudio/CaptureOutput.h"

#include "TranslateMac/Capture/ApplicationMatch.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>
#include <set>

namespace TranslateMac {

namespace {

using TranslateCore::TranslationFailure;

// The server delivers about this much at a time: small enough for live subtitles, large enough
// to keep wake-ups cheap (the default would be ~2 s chunks).
constexpr pa_usec_t fragmentDuration = 20'000;
// How far one playback stream of the application may run ahead of another, silent one before
// the silent one counts as pausing.
constexpr std::size_t mixLagMilliseconds = 60;
// Record streams tried per playback stream before it is given up on.
constexpr int attemptsPerStream = 3;
// How often a quiet capture is topped up with silence.
constexpr std::chrono::milliseconds keepAlivePeriod(50);
// pipewire-pulse announces no change of the default output, so the whole system looks at it
// this often (every this many keep-alive ticks) besides following the server's events.
constexpr unsigned ticksPerDefaultCheck = 10;

void detach(pa_stream *stream)
{
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING || state == PA_STREAM_READY)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

std::exception_ptr serverFailure(pa_context *context, int fallback = PA_ERR_UNKNOWN)
{
    const int error = pa_context_errno(context);
    return std::make_exception_ptr(TapAudioFailure(-(error ? error : fallback)));
}

} // namespace

CaptureOutput::CaptureOutput(
    std::shared_ptr<PulseConnection> connection, PacketSink sink, AudioSource source)
    : m_connection(std::move(connection)), m_source(std::move(source)), m_writer(std::move(sink))
{
}

CaptureOutput::~CaptureOutput()
{
    if (*m_alive) {
        PulseConnection::Lock lock(*m_connection);
        shutdown();
        abort();
    }
}

void CaptureOutput::begin(const PulseSnapshot &snapshot, TranslateCore::OneShot<> whenStarted)
{
    m_started = std::move(whenStarted);
    const PulseSink *sink = snapshot.defaultSink();
    if (!sink && !snapshot.sinks.isEmpty() && !wholeSystem())
        sink = &snapshot.sinks.first();
    if (!sink || sink->monitorSource.isEmpty()) {
        started(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
        return;
    }
    // The sink's own rate and channels, as floating point: the server only changes the sample
    // type; resampling and the downmix to mono are the converter's.
    m_spec = { PA_SAMPLE_FLOAT32LE, sink->sampleSpec.rate, sink->sampleSpec.channels };
    m_channelMap = sink->channelMap;
    m_writer.setFormat(
        { double(m_spec.rate), m_spec.channels, TranslateCore::SampleType::float32, true });

    m_connection->setLostHandler([this, alive = m_alive] {
        if (!*alive)
            return;
        started(serverFailure(m_connection->context(), PA_ERR_CONNECTIONTERMINATED));
        end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    });
    pa_context *context = m_connection->context();
    pa_context_set_subscribe_callback(context, serverEvent, this);
    // The whole system follows the default output; an application follows its streams.
    const auto mask = wholeSystem()
        ? pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK)
        : pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT);
    pa_operation *subscription = pa_context_subscribe(context, mask, nullptr, nullptr);
    if (!subscription)
        return started(serverFailure(context));
    pa_operation_unref(subscription);
    m_writer.begin();
    keepAlive();

    if (wholeSystem()) {
        if (!recordSink(*sink))
            started(serverFailure(context));
        return;
    }
    applySnapshot(snapshot);
    started(nullptr);
}

bool CaptureOutput::recordSink(const PulseSink &sink)
{
    auto tap = std::make_unique<Tap>(
        Tap { this, PA_INVALID_INDEX, sink.monitorSource, nullptr, false, {} });
    if (!record(*tap, PA_INVALID_INDEX))
        return false;
    m_taps.emplace(PA_INVALID_INDEX, std::move(tap));
    return true;
}

void CaptureOutput::keepAlive()
{
    m_keepAlive = m_connection->startTimer(keepAlivePeriod, [this, alive = m_alive] {
        if (!*alive)
            return;
        m_keepAlive = nullptr; // the loop freed it after firing
        // A monitor delivers its output's silence by itself; only an application's capture can
        // fall quiet (no stream, or streams that deliver nothing).
        if (!wholeSystem())
            m_writer.keepAlive();
        if (wholeSystem() && ++m_ticks % ticksPerDefaultCheck == 0)
            follow();
        keepAlive();
    });
}

bool CaptureOutput::record(Tap &tap, quint32 monitoredInput)
{
    pa_context *context = m_connection->context();
    pa_stream *stream = pa_stream_new(context, "Quorvel Translate capture", &m_spec, &m_channelMap);
    if (!stream)
        return false;
    pa_stream_set_state_callback(stream, streamStateChanged, &tap);
    pa_stream_set_read_callback(stream, streamReadable, &tap);
    pa_stream_set_moved_callback(stream, streamMoved, &tap);
    if (monitoredInput != PA_INVALID_INDEX)
        pa_stream_set_monitor_stream(stream, monitoredInput);
    pa_buffer_attr attributes;
    std::fill_n(reinterpret_cast<char *>(&attributes), sizeof attributes, char(0xff));
    attributes.fragsize = quint32(pa_usec_to_bytes(fragmentDuration, &m_spec));
    // Never let the server carry the recording elsewhere (to another device, or to a microphone)
    // when what it monitors goes away.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const QByteArray device = tap.device.toUtf8();
    if (pa_stream_connect_record(stream, device.constData(), &attributes, flags) < 0) {
        detach(stream);
        return false;
    }
    tap.stream = stream;
    return true;
}

void CaptureOutput::removeTap(quint32 sinkInput)
{
    const auto found = m_taps.find(sinkInput);
    if (found == m_taps.end())
        return;
    // What the stream recorded before it ended still belongs to the capture.
    const std::size_t channels = m_spec.channels;
    mix(found->second->pending.size() / channels, false);
    std::unique_ptr<Tap> tap = std::move(found->second);
    m_taps.erase(found);
    if (tap->stream)
        detach(tap->stream);
}

void CaptureOutput::shutdown()
{
    if (!*m_alive)
        return;
    *m_alive = false;
    m_connection->setLostHandler(nullptr);
    m_connection->freeTimer(m_keepAlive);
    pa_context_set_subscribe_callback(m_connection->context(), nullptr, nullptr);
    // The taps stay, with what they recorded but did not mix yet, for finish().
    for (auto &[index, tap] : m_taps) {
        if (tap->stream)
            detach(std::exchange(tap->stream, nullptr));
    }
}

std::exception_ptr CaptureOutput::finish()
{
    if (m_writer.isClosed())
        return nullptr;
    mix(0, true);
    return m_writer.finish(true);
}

void CaptureOutput::abort()
{
    end(nullptr);
}

void CaptureOutput::follow()
{
    if (!*m_alive || m_writer.isClosed())
        return;
    if (m_refreshing) {
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    if (!wholeSystem())
        return collectSnapshot();
    m_connection->freshDefaultSink([this, alive = m_alive](QString name) {
        if (!*alive)
            return;
        m_defaultSinkName = name;
        collectSnapshot();
    });
}

void CaptureOutput::collectSnapshot()
{
    m_connection->collectSnapshot(
        [this, alive = m_alive](PulseSnapshot snapshot) {
            if (!*alive)
                return;
            m_refreshing = false;
            if (wholeSystem()) {
                if (!m_defaultSinkName.isEmpty())
                    snapshot.defaultSinkName = m_defaultSinkName;
                followDefaultSink(snapshot);
            } else {
                applySnapshot(snapshot);
            }
            if (std::exchange(m_refreshAgain, false))
                follow();
        },
        [this, alive = m_alive](int) {
            // A broken connection is reported by the lost handler.
            if (*alive)
                m_refreshing = false;
        });
}

void CaptureOutput::applySnapshot(const PulseSnapshot &snapshot)
{
    if (m_writer.isClosed())
        return;
    std::set<quint32> clients;
    for (const SoundServerClient &client : snapshot.clients) {
        if (client.belongsTo(m_source))
            clients.insert(client.index);
    }
    // The application has no connection to the server left: it has quit.
    if (clients.empty())
        return end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));

    std::map<quint32, int> attempts;
    for (const PulseSinkInput &input : snapshot.sinkInputs) {
        if (!clients.contains(input.client) && !input.application.belongsTo(m_source))
            continue;
        int &tried = attempts[input.index] = m_attempts[input.index];
        if (m_taps.contains(input.index) || tried >= attemptsPerStream)
            continue;
        const PulseSink *sink = snapshot.sink(input.sink);
        if (!sink || sink->monitorSource.isEmpty())
            continue;
        ++tried;
        auto tap = std::make_unique<Tap>(
            Tap { this, input.index, sink->monitorSource, nullptr, false, {} });
        if (record(*tap, input.index))
            m_taps.emplace(input.index, std::move(tap));
    }
    m_attempts = std::move(attempts);
}

void CaptureOutput::followDefaultSink(const PulseSnapshot &snapshot)
{
    if (m_writer.isClosed())
        return;
    const PulseSink *sink = snapshot.defaultSink();
    const auto current = m_taps.find(PA_INVALID_INDEX);
    if (current != m_taps.end() && sink && current->second->device == sink->monitorSource)
        return;
    // The server stopped our recording of the output that is still the default: it ends.
    if (current == m_taps.end() && sink && sink->monitorSource == m_stoppedDevice)
        return end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    // The user hears another output now (or ours went away): record that one instead. What the
    // old recording held is converted first, so the audio stays in order.
    removeTap(PA_INVALID_INDEX);
    if (!sink || sink->monitorSource.isEmpty())
        return end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    m_spec = { PA_SAMPLE_FLOAT32LE, sink->sampleSpec.rate, sink->sampleSpec.channels };
    m_channelMap = sink->channelMap;
    m_writer.setFormat(
        { double(m_spec.rate), m_spec.channels, TranslateCore::SampleType::float32, true });
    if (!recordSink(*sink))
        end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
}

void CaptureOutput::mix(std::size_t atLeast, bool everything)
{
    const std::size_t channels = m_spec.channels;
    std::size_t fewest = SIZE_MAX, most = 0;
    for (const auto &[index, tap] : m_taps) {
        if (!tap->recording)
            continue;
        fewest = std::min(fewest, tap->pending.size() / channels);
        most = std::max(most, tap->pending.size() / channels);
    }
    if (most == 0)
        return;
    const std::size_t lag = std::size_t(m_spec.rate) * mixLagMilliseconds / 1000;
    std::size_t frames = everything ? most : std::max(fewest, most > lag ? most - lag : 0);
    frames = std::min(most, std::max(frames, atLeast));
    if (frames == 0)
        return;
    m_mixed.assign(frames * channels, 0.0f);
    for (auto &[index, tap] : m_taps) {
        const std::size_t available = std::min(tap->pending.size(), frames * channels);
        for (std::size_t i = 0; i < available; ++i)
            m_mixed[i] += tap->pending[i];
        tap->pending.erase(tap->pending.begin(), tap->pending.begin() + qsizetype(available));
    }
    m_writer.write(m_mixed.data(), frames);
}

void CaptureOutput::end(std::exception_ptr error)
{
    if (error)
        m_writer.fail(std::move(error));
    else
        m_writer.finish(false);
}

void CaptureOutput::started(std::exception_ptr error)
{
    if (!m_started)
        return;
    TranslateCore::OneShot<> shot = std::move(*m_started);
    m_started.reset();
    if (error)
        m_connection->deliverFailure(shot, std::move(error));
    else
        m_connection->deliver(shot);
}

void CaptureOutput::streamStateChanged(pa_stream *stream, void *data)
{
    auto *tap = static_cast<Tap *>(data);
    CaptureOutput *self = tap->owner;
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
        // Only a sink's monitor is ever recorded, never a microphone.
        const char *device = pa_stream_get_device_name(stream);
        if (!device || QString::fromUtf8(device) != tap->device) {
            if (self->wholeSystem()) {
                self->started(std::make_exception_ptr(TapAudioFailure(-PA_ERR_NOENTITY)));
                self->end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
            }
            self->removeTap(tap->sinkInput);
            return;
        }
        tap->recording = true;
        if (self->wholeSystem())
            self->started(nullptr);
        break;
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        if (self->wholeSystem() && self->m_started) {
            // Failing before it ever ran is a start-up failure.
            self->started(serverFailure(self->m_connection->context()));
            self->end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
            self->removeTap(tap->sinkInput);
        } else {
            // The output went away (the capture follows the new default), the server stopped
            // the recording (the capture ends), or the application's stream ended or moved
            // (the capture looks again at what it plays).
            if (self->wholeSystem())
                self->m_stoppedDevice = tap->device;
            self->removeTap(tap->sinkInput);
            self->follow();
        }
        break;
    default:
        break;
    }
}

void CaptureOutput::streamReadable(pa_stream *stream, std::size_t, void *data)
{
    auto *tap = static_cast<Tap *>(data);
    CaptureOutput *self = tap->owner;
    const std::size_t frameBytes = pa_frame_size(&self->m_spec);
    while (pa_stream_readable_size(stream) > 0) {
        const void *samples = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &samples, &bytes) < 0 || bytes == 0)
            break;
        const std::size_t frames = bytes / frameBytes;
        if (tap->recording && !self->m_writer.isClosed()) {
            // A hole (lost audio) is kept as silence so the frames stay contiguous in time.
            std::vector<float> zeros;
            const float *floats = static_cast<const float *>(samples);
            if (!floats) {
                zeros.assign(frames * self->m_spec.channels, 0.0f);
                floats = zeros.data();
            }
            if (self->wholeSystem()) {
                self->m_writer.write(floats, frames);
            } else {
                tap->pending.insert(
                    tap->pending.end(), floats, floats + frames * self->m_spec.channels);
                self->mix(0, false);
            }
        }
        pa_stream_drop(stream);
    }
}

void CaptureOutput::streamMoved(pa_stream *, void *data)
{
    // Cannot happen with PA_STREAM_DONT_MOVE; if a server moves a recording anyway, what it
    // records now is not what was chosen.
    auto *tap = static_cast<Tap *>(data);
    CaptureOutput *self = tap->owner;
    if (self->wholeSystem())
        self->end(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    self->removeTap(tap->sinkInput);
    if (!self->wholeSystem())
        self->follow();
}

void CaptureOutput::serverEvent(
    pa_context *, pa_subscription_event_type_t type, quint32, void *data)
{
    auto *self = static_cast<CaptureOutput *>(data);
    const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // pipewire-pulse announces a new stream before it has a sink and names the sink in a later
    // change: both matter. A changed server is a new default output; a removed sink may have
    // been the one recorded.
    const bool streamEvent = facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT
        && (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_CHANGE);
    const bool clientGone
        = facility == PA_SUBSCRIPTION_EVENT_CLIENT && kind == PA_SUBSCRIPTION_EVENT_REMOVE;
    const bool outputEvent = facility == PA_SUBSCRIPTION_EVENT_SERVER
        || (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_REMOVE);
    if (streamEvent || clientGone || outputEvent)
        self->follow();
}

} // namespace TranslateMac
