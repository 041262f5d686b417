#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace LocalService {

// One stage of an Apertium mode: a program and its arguments.
struct ApertiumStage {
    QString program;
    QStringList arguments;
};

// Reads a pair's mode file (e.g. /usr/share/apertium/modes/eng-spa.mode) into its stages, each
// set to flush at every NUL; empty when the file is missing or unreadable.
std::vector<ApertiumStage> readApertiumMode(const QString &modeFile);

// A persistent Apertium translation pipeline for one language pair: the mode's stages run as
// chained processes and sentences pass through one at a time, each ended by a NUL. A sentence
// that takes longer than the bounded wait, or a stage that exits, restarts the pipeline; the
// sentence is then answered with its own text, so a caption is never lost and never held up.
class ApertiumPipeline : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const QString &translation)>;

    ApertiumPipeline(
        std::vector<ApertiumStage> stages, int sentenceTimeoutMs, QObject *parent = nullptr);
    ~ApertiumPipeline() override;

    // Queues `text`; `done` runs on the event loop with the translation, or with `text` itself
    // when the pipeline failed on it.
    void translate(const QString &text, Completion done);

private:
    struct Job {
        QString text;
        Completion done;
    };
    void startProcesses();
    void stopProcesses();
    void sendNext();
    void onOutput();
    void onStageEnded();
    void failCurrent();
    void complete(QString translation);

    std::vector<ApertiumStage> m_stages;
    int m_timeoutMs;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    int m_generation = 0; // counts the pipelines started, so late news of old stages is ignored
    std::deque<Job> m_queue; // the front one is in the pipeline while m_busy
    bool m_busy = false;
    QByteArray m_output;
    QTimer m_deadline;
};

// Apertium's stream format reserves some characters; plain text must escape them.
QString escapeForApertium(const QString &text);
QString unescapeFromApertium(const QString &text);

} // namespace LocalService
