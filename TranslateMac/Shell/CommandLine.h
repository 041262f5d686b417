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

// Before the application object exists, so that neither opens a window, a display connection
// or the network: "--help"/"-h" and "--version"/"-v". Other options may still be Qt's own
// (-platform, -display, ...) and are left for later. Nothing when the program should go on.
std::optional<CommandLineAnswer> answerBeforeApplication(const QStringList &arguments);

// After the application object took its own options out: anything left is a mistake (exit 2).
std::optional<CommandLineAnswer> refuseLeftoverArguments(const QStringList &arguments);

// A second launch whose running instance did not acknowledge the hand-over.
CommandLineAnswer instanceNotAnswering();

// Writes the answer's texts and returns its exit code.
int deliver(const CommandLineAnswer &answer);

} // namespace CommandLine

} // namespace TranslateMac
