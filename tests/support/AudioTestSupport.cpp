#include "AudioTestSupport.h"

#include "TestSupport.h"

#include "TranslateCore/Async/Cancellation.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <numbers>

namespace TestSupport {

namespace {

// Waits for `done` without a fixed sleep: polls every 50 ms while the event loop runs.
bool pollUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        spinUntil([] { return false; }, std::chrono::milliseconds(50));
    }
    return true;
}

// The value of `key = "value"` lines of `pactl list` blocks, per block.
QList<QMap<QString, QString>> pactlBlocks(const QString &kind)
{
    static const QRegularExpression header(QStringLiteral("^\\S.*#(\\d+)$"));
    static const QRegularExpression property(QStringLiteral("^\\s+([\\w.-]+) = \"(.*)\"$"));
    QList<QMap<QString, QString>> blocks;
    for (const QString &line : pactl({ QStringLiteral("list"), kind })) {
        if (const auto m = header.match(line); m.hasMatch()) {
            blocks.append({ { QStringLiteral("#"), m.captured(1) } });
        } else if (blocks.isEmpty()) {
            continue;
        } else if (const auto p = property.match(line); p.hasMatch()) {
            blocks.last().insert(p.captured(1), p.captured(2));
        }
    }
    return blocks;
}

// In a player's process before it runs: a test that dies (a crash, a time-out) takes its players
// with it, and the player gets the raised priority a desktop gives audio clients (RTKit), where
// this user may raise one, so a busy machine does not starve it into playing silence.
void asPlayerProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setpriority(PRIO_PROCESS, 0, -11);
}

} // namespace

bool inCI()
{
    return qEnvironmentVariable("CI") == QStringLiteral("true");
}

bool soundServerAvailable()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return false;
    QProcess info;
    info.start(QStringLiteral("pactl"), { QStringLiteral("info") });
    return info.waitForFinished(3000) && info.exitStatus() == QProcess::NormalExit
        && info.exitCode() == 0;
}

QString soundServerFlavour()
{
    return qEnvironmentVariable("AUDIO_TEST_BACKEND");
}

QStringList pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList pactlList(const QString &kind)
{
    return pactl({ QStringLiteral("list"), QStringLiteral("short"), kind });
}

TonePlayer::TonePlayer(Options options) : m_options(std::move(options))
{
    static int count = 0;
    m_token = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++count);
}

TonePlayer::~TonePlayer()
{
    kill();
}

void TonePlayer::kill()
{
    resume(); // a frozen player would never die
    for (QProcess *process : { m_player.get(), m_generator.get() }) {
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
}

QStringList TonePlayer::toneArguments() const
{
    QStringList arguments { QStringLiteral("synth"), QStringLiteral("36000"),
        QStringLiteral("sine"), QString::number(m_options.frequency) };
    if (m_options.rightFrequency)
        arguments << QStringLiteral("sine") << QString::number(*m_options.rightFrequency);
    return arguments << QStringLiteral("vol") << QString::number(m_options.volume);
}

bool TonePlayer::startPipeWirePlayer()
{
    // A minute of tone in a file of its own: pw-play reads files, not endless pipes.
    static QTemporaryDir directory;
    static int count = 0;
    m_file = directory.filePath(QStringLiteral("tone-%1.wav").arg(++count));
    QStringList synth = toneArguments();
    synth[1] = QStringLiteral("60");
    if (QProcess::execute(QStringLiteral("sox"),
            QStringList { QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-r"),
                QString::number(m_options.sampleRate), QStringLiteral("-c"),
                QString::number(m_options.channels), QStringLiteral("-b"), QStringLiteral("16"),
                m_file }
                + synth)
        != 0)
        return false;
    QString properties = QStringLiteral("{ application.name = \"%1\" quorvel.test.player = \"%2\"")
                             .arg(m_options.applicationName, m_token);
    if (!m_options.applicationID.isEmpty())
        properties += QStringLiteral(" application.id = \"%1\"").arg(m_options.applicationID);
    properties += QStringLiteral(" }");
    m_player->setChildProcessModifier(asPlayerProcess);
    m_player->setStandardOutputFile(QProcess::nullDevice());
    m_player->setStandardErrorFile(QProcess::nullDevice());
    m_player->start(QStringLiteral("pw-play"),
        { QStringLiteral("--latency=20ms"), QStringLiteral("-P"), properties, m_file });
    return m_player->waitForStarted(3000);
}

bool TonePlayer::start(std::chrono::milliseconds timeout)
{
    m_player = std::make_unique<QProcess>();
    if (m_options.kind == Kind::pipewire) {
        if (!startPipeWirePlayer())
            return false;
        return pollUntil([this] { return sinkInputIndex().has_value(); }, timeout);
    }
    m_generator = std::make_unique<QProcess>();
    const QString rate = QString::number(m_options.sampleRate);
    const QString channels = QString::number(m_options.channels);
    for (QProcess *process : { m_generator.get(), m_player.get() })
        process->setChildProcessModifier(asPlayerProcess);
    m_generator->setStandardOutputProcess(m_player.get());
    m_generator->setStandardErrorFile(QProcess::nullDevice());
    m_player->setStandardOutputFile(QProcess::nullDevice());
    QStringList playerArguments { QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
        QStringLiteral("--rate=") + rate, QStringLiteral("--channels=") + channels,
        // A media player's buffer: with a few milliseconds, a player starved of the processor for
        // a moment on a busy machine runs dry, and the output plays silence that no capture may
        // hide.
        QStringLiteral("--latency-msec=200"), QStringLiteral("--verbose"),
        QStringLiteral("--property=application.name=") + m_options.applicationName,
        QStringLiteral("--property=quorvel.test.player=") + m_token };
    if (!m_options.applicationID.isEmpty())
        playerArguments << QStringLiteral("--property=application.id=") + m_options.applicationID;
    m_player->start(QStringLiteral("pacat"), playerArguments);
    // Ten hours of tone: the player runs until it is stopped.
    m_generator->start(QStringLiteral("sox"),
        QStringList { QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-t"),
            QStringLiteral("raw"), QStringLiteral("-r"), rate, QStringLiteral("-e"),
            QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32"),
            QStringLiteral("-c"), channels, QStringLiteral("-") }
            + toneArguments());
    if (!m_player->waitForStarted(3000) || !m_generator->waitForStarted(3000))
        return false;
    return pollUntil([this] { return sinkInputIndex().has_value(); }, timeout);
}

void TonePlayer::freeze()
{
    if (m_player)
        ::kill(pid_t(m_player->processId()), SIGSTOP);
}

void TonePlayer::resume()
{
    if (m_player)
        ::kill(pid_t(m_player->processId()), SIGCONT);
}

bool TonePlayer::stop(std::chrono::milliseconds timeout)
{
    if (!m_player)
        return true;
    const QString pid = QString::number(this->pid());
    kill();
    m_player.reset();
    m_generator.reset();
    if (!m_file.isEmpty())
        QFile::remove(m_file);
    return pollUntil(
        [&] {
            const auto clients = pactlBlocks(QStringLiteral("clients"));
            return std::none_of(clients.begin(), clients.end(), [&](const auto &client) {
                return client.value(QStringLiteral("application.process.id")) == pid;
            });
        },
        timeout);
}

namespace {

constexpr int witnessRate = 48000;
constexpr int witnessChannels = 2;
constexpr std::chrono::milliseconds stretchDuration { 10 };
constexpr qsizetype witnessStretchBytes
    = witnessRate / 100 * witnessChannels * qsizetype(sizeof(float));
constexpr std::chrono::milliseconds witnessLatency { 20 };
// Stretches around the newest that give its reference level, and those after the start that
// may still rise.
constexpr std::size_t witnessReference = 50;
constexpr std::size_t witnessStartUp = 10;

} // namespace

OutputWitness::~OutputWitness()
{
    if (m_recorder) {
        m_recorder->kill();
        m_recorder->waitForFinished(3000);
    }
}

bool OutputWitness::start()
{
    m_recorder = std::make_unique<QProcess>();
    m_recorder->setChildProcessModifier(asPlayerProcess);
    m_recorder->setStandardErrorFile(QProcess::nullDevice());
    m_recorder->start(QStringLiteral("parec"),
        { QStringLiteral("--device=") + qEnvironmentVariable("AUDIO_TEST_MONITOR"),
            QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
            QStringLiteral("--rate=") + QString::number(witnessRate),
            QStringLiteral("--channels=") + QString::number(witnessChannels),
            QStringLiteral("--latency-msec=") + QString::number(witnessLatency.count()) });
    if (!m_recorder->waitForStarted(3000) || !m_recorder->waitForReadyRead(3000))
        return false;
    // What arrived first had been recorded since before now, one latency behind the output.
    m_pending = m_recorder->readAllStandardOutput();
    m_heardFrom = Clock::now() - witnessLatency
        - stretchDuration * (m_pending.size() / witnessStretchBytes);
    return true;
}

OutputWitness::Clock::time_point OutputWitness::playedAt(std::size_t stretch) const
{
    return m_heardFrom + stretchDuration * qint64(stretch);
}

bool OutputWitness::droppedOutBetween(Clock::time_point from, Clock::time_point to)
{
    if (!m_recorder)
        return false;
    const QDeadlineTimer caughtUp(500);
    while (playedAt(m_levels.size() + std::size_t(m_pending.size() / witnessStretchBytes)) < to
        && !caughtUp.hasExpired()) {
        m_recorder->waitForReadyRead(int(caughtUp.remainingTime()));
        m_pending += m_recorder->readAllStandardOutput();
    }
    qsizetype used = 0;
    for (; m_pending.size() - used >= witnessStretchBytes; used += witnessStretchBytes) {
        const auto *samples = reinterpret_cast<const float *>(m_pending.constData() + used);
        const qsizetype count = witnessStretchBytes / qsizetype(sizeof(float));
        double energy = 0;
        for (qsizetype i = 0; i < count; ++i)
            energy += double(samples[i]) * double(samples[i]);
        const double level = std::sqrt(energy / double(count));
        if (m_levels.size() > witnessStartUp) {
            std::vector<double> recent(
                m_levels.end() - qsizetype(std::min(m_levels.size(), witnessReference)),
                m_levels.end());
            std::nth_element(
                recent.begin(), recent.begin() + qsizetype(recent.size() / 2), recent.end());
            const double reference = recent[recent.size() / 2];
            if (reference > 0.01 && level < 0.8 * reference)
                m_drops.push_back(m_levels.size());
        }
        m_levels.push_back(level);
    }
    m_pending.remove(0, used);
    return std::any_of(m_drops.begin(), m_drops.end(),
        [&](std::size_t stretch) { return playedAt(stretch) >= from && playedAt(stretch) <= to; });
}

int TonePlayer::underruns()
{
    if (m_player && m_options.kind == Kind::pulse)
        m_underruns += int(m_player->readAllStandardError().count("Stream underrun"));
    return m_underruns;
}

bool TonePlayer::isRunning() const
{
    return m_player && m_player->state() == QProcess::Running;
}

qint32 TonePlayer::pid() const
{
    return m_player ? qint32(m_player->processId()) : 0;
}

std::optional<quint32> TonePlayer::sinkInputIndex() const
{
    if (!isRunning())
        return std::nullopt;
    for (const auto &input : pactlBlocks(QStringLiteral("sink-inputs"))) {
        if (input.value(QStringLiteral("quorvel.test.player")) == m_token)
            return input.value(QStringLiteral("#")).toUInt();
    }
    return std::nullopt;
}

TranslateMac::AudioSource TonePlayer::source() const
{
    const QString &identity = m_options.applicationID;
    return { pid(), m_options.applicationName,
        identity.isEmpty() ? QStringLiteral("pacat") : identity };
}

double toneAmplitude(QByteArrayView pcm, double frequency, int sampleRate)
{
    const qsizetype count = pcm.size() / 2;
    if (count == 0)
        return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / sampleRate);
    double previous = 0, beforePrevious = 0;
    for (qsizetype i = 0; i < count; ++i) {
        qint16 sample;
        std::memcpy(&sample, pcm.data() + 2 * i, sizeof sample);
        const double current = sample / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious
        - coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(0.0, power)) / count;
}

QByteArray joinedPCM(const QList<TranslateMac::CapturedPacket> &packets, qsizetype from)
{
    QByteArray pcm;
    for (qsizetype i = std::max<qsizetype>(0, from); i < packets.size(); ++i)
        pcm += packets[i].pcm;
    return pcm;
}

bool endsWithTone(const QList<TranslateMac::CapturedPacket> &packets, double frequency,
    qsizetype count, double amplitude)
{
    return packets.size() >= count
        && toneAmplitude(joinedPCM(packets, packets.size() - count), frequency) >= amplitude;
}

PacketRead readPacketsUntil(TranslateMac::PacketStream &stream,
    const std::function<bool(const QList<TranslateMac::CapturedPacket> &)> &predicate,
    std::chrono::milliseconds timeout)
{
    PacketRead result;
    bool finished = false;
    TranslateCore::CancellationSource deadline;
    auto reader = [](TranslateMac::PacketStream &stream, PacketRead &result, const auto &predicate,
                      TranslateCore::CancellationToken token, bool &finished) -> QCoro::Task<> {
        try {
            while (!(result.satisfied = predicate(result.packets))) {
                std::optional<TranslateMac::CapturedPacket> packet = co_await stream.next(token);
                if (!packet) {
                    result.ended = true;
                    break;
                }
                result.packets.append(std::move(*packet));
            }
        } catch (const TranslateCore::CancellationError &) {
        } catch (...) {
            result.ended = true;
            result.error = std::current_exception();
        }
        finished = true;
    }(stream, result, predicate, deadline.token(), finished);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] { deadline.cancel(); });
    timer.start(timeout);
    spinUntil([&] { return finished; }, timeout + std::chrono::seconds(5));
    return result;
}

PacketRead readUntilEnd(TranslateMac::PacketStream &stream, std::chrono::milliseconds timeout)
{
    return readPacketsUntil(
        stream, [](const auto &) { return false; }, timeout);
}

TonePlayer::Options tone(double frequency, const QString &identity, double volume)
{
    TonePlayer::Options options;
    options.frequency = frequency;
    options.applicationName = QStringLiteral("Tone ") + identity;
    options.applicationID = identity;
    options.volume = volume;
    return options;
}

bool soundServerIsPipeWire()
{
    return soundServerFlavour() == QStringLiteral("pipewire");
}

std::function<bool(const QList<TranslateMac::CapturedPacket> &)> hears(
    double frequency, qsizetype count)
{
    return [=](const QList<TranslateMac::CapturedPacket> &read) {
        return endsWithTone(read, frequency, count);
    };
}

} // namespace TestSupport
