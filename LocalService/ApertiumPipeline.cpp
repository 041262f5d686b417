#include "ApertiumPipeline.h"

#include <QFile>

namespace LocalService {

namespace {

// Splits a shell-like command line on blanks, honouring single and double quotes.
QStringList words(const QString &command)
{
    QStringList out;
    QString word;
    bool inWord = false;
    QChar quote;
    for (const QChar c : command) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                out.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        out.append(word);
    return out;
}

} // namespace

std::vector<ApertiumStage> readApertiumMode(const QString &modeFile)
{
    QFile file(modeFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<ApertiumStage> stages;
    const QString text = QString::fromUtf8(file.readAll());
    for (const QString &command : text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        QStringList parts = words(command);
        if (parts.isEmpty())
            continue;
        ApertiumStage stage { parts.takeFirst(), { QStringLiteral("-z") } };
        for (const QString &part : parts) {
            // $1 is the generator's mode: plain output, unknown words unmarked. The tagger's $2
            // and any other placeholder take their defaults.
            if (part == QLatin1String("$1"))
                stage.arguments.append(QStringLiteral("-n"));
            else if (!part.startsWith(QLatin1Char('$')))
                stage.arguments.append(part);
        }
        stages.push_back(std::move(stage));
    }
    return stages;
}

QString escapeForApertium(const QString &text)
{
    static const QString reserved = QStringLiteral("\\^$/<>@*#[]{}");
    QString out;
    for (const QChar c : text) {
        if (reserved.contains(c))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QString unescapeFromApertium(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

ApertiumPipeline::ApertiumPipeline(
    std::vector<ApertiumStage> stages, int sentenceTimeoutMs, QObject *parent)
    : QObject(parent), m_stages(std::move(stages)), m_timeoutMs(sentenceTimeoutMs)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ApertiumPipeline::failCurrent);
}

ApertiumPipeline::~ApertiumPipeline()
{
    stopProcesses();
}

void ApertiumPipeline::startProcesses()
{
    for (size_t i = 0; i < m_stages.size(); ++i) {
        auto process = std::make_unique<QProcess>();
        process->setStandardErrorFile(QProcess::nullDevice());
        if (!m_processes.empty())
            m_processes.back()->setStandardOutputProcess(process.get());
        m_processes.push_back(std::move(process));
    }
    if (m_processes.empty())
        return;
    connect(m_processes.back().get(), &QProcess::readyReadStandardOutput, this,
        &ApertiumPipeline::onOutput);
    // Ends are handled from the event loop, never inside the stage's own signal (start() may
    // report a failure before it returns); those of stages already replaced are ignored.
    const int generation = m_generation;
    const auto ended = [this, generation] {
        if (generation == m_generation)
            onStageEnded();
    };
    for (size_t i = 0; i < m_processes.size(); ++i) {
        QProcess *process = m_processes[i].get();
        connect(process, &QProcess::finished, this, ended, Qt::QueuedConnection);
        connect(
            process, &QProcess::errorOccurred, this,
            [ended](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    ended();
            },
            Qt::QueuedConnection);
        process->start(m_stages[i].program, m_stages[i].arguments);
    }
}

void ApertiumPipeline::stopProcesses()
{
    // Detached first, so that the ends of the old stages do not look like a new failure.
    ++m_generation;
    for (auto &process : m_processes)
        process->disconnect(this);
    for (auto &process : m_processes) {
        process->kill();
        process->waitForFinished(1000);
    }
    m_processes.clear();
    m_output.clear();
}

void ApertiumPipeline::translate(const QString &text, Completion done)
{
    m_queue.push_back(Job { text, std::move(done) });
    if (!m_busy)
        sendNext();
}

void ApertiumPipeline::sendNext()
{
    if (m_queue.empty())
        return;
    if (m_stages.empty()) {
        complete(m_queue.front().text);
        return;
    }
    if (m_processes.empty())
        startProcesses();
    m_busy = true;
    m_output.clear();
    // A blank before the NUL: some stages wait for one after the last word before they flush.
    const QString line = escapeForApertium(m_queue.front().text.simplified());
    m_processes.front()->write(line.toUtf8() + "\n" + QByteArray(1, '\0'));
    m_deadline.start(m_timeoutMs);
}

void ApertiumPipeline::onOutput()
{
    if (m_processes.empty())
        return;
    m_output += m_processes.back()->readAllStandardOutput();
    const qsizetype end = m_output.indexOf('\0');
    if (!m_busy || end < 0)
        return;
    const QString translation
        = unescapeFromApertium(QString::fromUtf8(m_output.left(end))).simplified();
    m_output.remove(0, end + 1);
    complete(translation.isEmpty() ? m_queue.front().text : translation);
}

void ApertiumPipeline::onStageEnded()
{
    stopProcesses();
    if (m_busy)
        failCurrent();
}

void ApertiumPipeline::failCurrent()
{
    stopProcesses();
    if (m_busy)
        complete(m_queue.front().text);
}

void ApertiumPipeline::complete(QString translation)
{
    m_deadline.stop();
    m_busy = false;
    Job job = std::move(m_queue.front());
    m_queue.pop_front();
    // The next sentence goes in from the event loop, once the caller has had this one.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_busy)
                sendNext();
        },
        Qt::QueuedConnection);
    job.done(translation);
}

} // namespace LocalService
