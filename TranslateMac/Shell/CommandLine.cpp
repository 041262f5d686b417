#include "CommandLine.h"

#include "TranslateCore/AppUpdate/AppInstallation.h"

#include <QCommandLineParser>

#include <cstdio>

namespace TranslateMac::CommandLine {

namespace {

const QString program = QStringLiteral("quorvel-translate");

const QString usage
    = QStringLiteral("Usage: quorvel-translate [options]\n"
                     "Live bilingual subtitles for the sound your computer plays.\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help     Show this help and exit.\n"
                     "  -v, --version  Show the version and exit.\n"
                     "\n"
                     "Qt's own options (-platform, -display, ...) work as in any Qt application.\n"
                     "Starting it again while it runs brings the running window forward.\n");

struct Options {
    QCommandLineParser parser;
    const QCommandLineOption help { { QStringLiteral("h"), QStringLiteral("help") } };
    const QCommandLineOption version { { QStringLiteral("v"), QStringLiteral("version") } };

    // Whether the arguments parsed without a mistake.
    bool parse(const QStringList &arguments)
    {
        // "-platform" is one option, not -p -l -a ...: Qt's own single-dash words ("-reverse",
        // "-stylesheet") must not read as -v or -h.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        return parser.parse(arguments);
    }
};

// The unknown option as the user typed it.
QString spelling(const QString &name, const QStringList &arguments)
{
    for (const QString &argument : arguments.mid(1)) {
        if (!argument.startsWith(u'-'))
            continue;
        const qsizetype dashes = argument.startsWith(QStringLiteral("--")) ? 2 : 1;
        if (argument.mid(dashes).section(u'=', 0, 0) == name)
            return argument;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

CommandLineAnswer mistake(const QString &text)
{
    return { 2, QString(),
        program + QStringLiteral(": ") + text + QStringLiteral("\nTry '") + program
            + QStringLiteral(" --help' for more information.\n") };
}

} // namespace

std::optional<CommandLineAnswer> answerBeforeApplication(const QStringList &arguments)
{
    Options options;
    // Unknown options are not a mistake yet: the application object may know them.
    options.parse(arguments);
    if (options.parser.isSet(options.help))
        return CommandLineAnswer { 0, usage, QString() };
    if (options.parser.isSet(options.version)) {
        const QString version = TranslateCore::AppInstallation::current().displayVersion();
        return CommandLineAnswer { 0, QStringLiteral("Quorvel Translate ") + version + u'\n',
            QString() };
    }
    return std::nullopt;
}

std::optional<CommandLineAnswer> refuseLeftoverArguments(const QStringList &arguments)
{
    Options options;
    const bool parsed = options.parse(arguments);
    const QStringList unknown = options.parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return mistake(
            QStringLiteral("unknown option '%1'").arg(spelling(unknown.first(), arguments)));
    if (!parsed)
        return mistake(options.parser.errorText());
    const QStringList positional = options.parser.positionalArguments();
    if (!positional.isEmpty())
        return mistake(QStringLiteral("unexpected argument '%1'").arg(positional.first()));
    return std::nullopt;
}

CommandLineAnswer instanceNotAnswering()
{
    return { 1, QString(),
        program
            + QStringLiteral(": Quorvel Translate is already running for this user but does not "
                             "answer; end it or try again in a moment.\n") };
}

int deliver(const CommandLineAnswer &answer)
{
    std::fputs(answer.output.toLocal8Bit().constData(), stdout);
    std::fputs(answer.error.toLocal8Bit().constData(), stderr);
    std::fflush(stdout);
    return answer.exitCode;
}

} // namespace TranslateMac::CommandLine
