#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace TranslateMac {

// What the program answers on the command line instead of starting: the exit code and the texts
// for standard output and standard error.
struct CommandLineAnswer {
    int exitCode = 0;
    QString output;
    QString error;

    friend bool operator==(const CommandLineAnswer &, const CommandLineAnswer &) = default;
};

namespace CommandLine {

extern const QString program; // "quorvel-translate", the name messages begin with

// Before the application object exists, so that none opens a window, a display connection or the
// network: "--help"/"-h", "--version"/"-v", and the caption journal's "--list-sessions" and
// "--export" (JournalCommands). Other options may still be Qt's own (-platform, -display, ...)
// and are left for later, except beside a journal command. Nothing when the program should go on.
std::optional<CommandLineAnswer> answerBeforeApplication(const QStringList &arguments);

// After the application object took its own options out: anything left is a mistake (exit 2).
std::optional<CommandLineAnswer> refuseLeftoverArguments(const QStringList &arguments);

// A second launch whose running instance did not acknowledge the hand-over.
CommandLineAnswer instanceNotAnswering();

// A mistake in the arguments: exit status 2, the text and a hint to --help on standard error.
CommandLineAnswer mistake(const QString &text);
// Something the command could not do: exit status 1 and the text on standard error.
CommandLineAnswer failure(const QString &text);

// Writes the answer's texts (UTF-8) and returns its exit code; 1 when the output could not be
// written whole.
int deliver(const CommandLineAnswer &answer);

} // namespace CommandLine

} // namespace TranslateMac
