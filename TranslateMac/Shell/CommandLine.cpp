#include "CommandLine.h"

#include "JournalCommands.h"

#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateMac/Journal/CaptionJournal.h"

#include <QCommandLineParser>

#include <cstdio>

namespace TranslateMac::CommandLine {

namespace {

const QString usage = QStringLiteral(
    "Usage: quorvel-translate [options]\n"
    "       quorvel-translate --list-sessions\n"
    "       quorvel-translate --export SESSION --format FORMAT [--text TEXT] -o FILE\n"
    "Live bilingual subtitles for the sound your computer plays.\n"
    "\n"
    "Options:\n"
    "  -h, --help         Show this help and exit.\n"
    "  -v, --version      Show the version and exit.\n"
    "\n"
    "Recorded sessions, read from the caption journal (also while the application\n"
    "runs; no display or network needed):\n"
    "  --list-sessions    List the sessions, newest first, one per line without a\n"
    "                     header, the columns apart by tabs: id, start (local time,\n"
    "                     YYYY-MM-DDTHH:MM:SS), duration (H:MM:SS, \"recording\" or\n"
    "                     \"interrupted\"), direction, captions, points charged (\"-\"\n"
    "                     when not known), source.\n"
    "  --export SESSION   Export the captions of the session with this id (the\n"
    "                     list's first column).\n"
    "  --format FORMAT    txt (the plain transcript), srt, vtt or jsonl (one JSON\n"
    "                     object per caption).\n"
    "  --text TEXT        What srt and vtt cues show: source, target or both (the\n"
    "                     default); txt and jsonl always hold both.\n"
    "  -o, --output FILE  The file to write, replaced whole or not at all; - writes\n"
    "                     to standard output.\n"
    "\n"
    "Exit status: 0 done, 1 the journal could not be read or the file not written,\n"
    "2 a mistake in the arguments (an unknown session too).\n"
    "\n"
    "Qt's own options (-platform, -display, ...) work as in any Qt application.\n"
    "Starting it again while it runs brings the running window forward.\n");

const QString formatNames = QStringLiteral("txt, srt, vtt or jsonl");
const QString textNames = QStringLiteral("source, target or both");

struct Options {
    QCommandLineParser parser;
    const QCommandLineOption help { { QStringLiteral("h"), QStringLiteral("help") } };
    const QCommandLineOption version { { QStringLiteral("v"), QStringLiteral("version") } };
    const QCommandLineOption listSessions { QStringLiteral("list-sessions") };
    const QCommandLineOption exportSession { QStringLiteral("export"), QString(),
        QStringLiteral("SESSION") };
    const QCommandLineOption format { QStringLiteral("format"), QString(),
        QStringLiteral("FORMAT") };
    const QCommandLineOption text { QStringLiteral("text"), QString(), QStringLiteral("TEXT") };
    const QCommandLineOption output { { QStringLiteral("o"), QStringLiteral("output") }, QString(),
        QStringLiteral("FILE") };

    // Whether the arguments parsed without a mistake.
    bool parse(const QStringList &arguments)
    {
        // "-platform" is one option, not -p -l -a ...: Qt's own single-dash words ("-reverse",
        // "-stylesheet") must not read as -v or -h.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({ help, version, listSessions, exportSession, format, text, output });
        return parser.parse(arguments);
    }

    // Whether an option that only goes with --export was given.
    bool exportDetailGiven() const
    {
        return parser.isSet(format) || parser.isSet(text) || parser.isSet(output);
    }
    // Whether any option of the journal commands was given: then nothing else may be.
    bool journalCommandGiven() const
    {
        return parser.isSet(listSessions) || parser.isSet(exportSession) || exportDetailGiven();
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

// A mistake among the arguments as a whole: an unknown option, a missing value, a stray word.
std::optional<CommandLineAnswer> refuseUnparsed(
    const Options &options, bool parsed, const QStringList &arguments)
{
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

std::optional<TranslateCore::ExportFormat> formatNamed(const QString &name)
{
    using TranslateCore::ExportFormat;
    for (const ExportFormat format :
        { ExportFormat::text, ExportFormat::srt, ExportFormat::webVtt, ExportFormat::jsonLines }) {
        if (TranslateCore::exportSuffix(format) == name)
            return format;
    }
    return std::nullopt;
}

std::optional<TranslateCore::ExportText> textNamed(const QString &name)
{
    using TranslateCore::ExportText;
    if (name == QLatin1String("source"))
        return ExportText::source;
    if (name == QLatin1String("target"))
        return ExportText::target;
    if (name == QLatin1String("both"))
        return ExportText::both;
    return std::nullopt;
}

CommandLineAnswer answerExport(const Options &options)
{
    using TranslateCore::ExportFormat;
    const QString id = options.parser.value(options.exportSession);
    bool isNumber = false;
    const qint64 sessionId = id.toLongLong(&isNumber);
    if (!isNumber || sessionId <= 0)
        return mistake(
            QStringLiteral("'%1' is not a session id; --list-sessions shows them").arg(id));
    if (!options.parser.isSet(options.format))
        return mistake(QStringLiteral("--export needs --format (%1)").arg(formatNames));
    const QString formatName = options.parser.value(options.format);
    const std::optional<ExportFormat> format = formatNamed(formatName);
    if (!format)
        return mistake(QStringLiteral("unknown format '%1' (%2)").arg(formatName, formatNames));
    const QString textName = options.parser.isSet(options.text) ? options.parser.value(options.text)
                                                                : QStringLiteral("both");
    const std::optional<TranslateCore::ExportText> text = textNamed(textName);
    if (!text)
        return mistake(QStringLiteral("unknown text '%1' (%2)").arg(textName, textNames));
    const bool cues = *format == ExportFormat::srt || *format == ExportFormat::webVtt;
    if (!cues && *text != TranslateCore::ExportText::both)
        return mistake(QStringLiteral("--text %1 goes with srt and vtt; %2 always holds both texts")
                           .arg(textName, formatName));
    const QString output = options.parser.value(options.output);
    if (output.isEmpty())
        return mistake(QStringLiteral("--export needs -o FILE (- for standard output)"));
    return JournalCommands::exportSession(
        CaptionJournal::defaultPath(), { sessionId, *format, *text, output });
}

CommandLineAnswer answerJournalCommand(
    const Options &options, bool parsed, const QStringList &arguments)
{
    if (const auto refused = refuseUnparsed(options, parsed, arguments))
        return *refused;
    const bool listing = options.parser.isSet(options.listSessions);
    const bool exporting = options.parser.isSet(options.exportSession);
    if (listing && exporting)
        return mistake(QStringLiteral("--list-sessions and --export go one at a time"));
    if (exporting)
        return answerExport(options);
    if (options.exportDetailGiven())
        return mistake(QStringLiteral("--format, --text and -o go with --export"));
    return JournalCommands::listSessions(CaptionJournal::defaultPath());
}

} // namespace

const QString program = QStringLiteral("quorvel-translate");

CommandLineAnswer mistake(const QString &text)
{
    return { 2, QString(),
        program + QStringLiteral(": ") + text + QStringLiteral("\nTry '") + program
            + QStringLiteral(" --help' for more information.\n") };
}

CommandLineAnswer failure(const QString &text)
{
    return { 1, QString(), program + QStringLiteral(": ") + text + u'\n' };
}

std::optional<CommandLineAnswer> answerBeforeApplication(const QStringList &arguments)
{
    Options options;
    // Unknown options are not a mistake yet: the application object may know them.
    const bool parsed = options.parse(arguments);
    if (options.parser.isSet(options.help))
        return CommandLineAnswer { 0, usage, QString() };
    if (options.parser.isSet(options.version)) {
        const QString version = TranslateCore::AppInstallation::current().displayVersion();
        return CommandLineAnswer { 0, QStringLiteral("Quorvel Translate ") + version + u'\n',
            QString() };
    }
    if (options.journalCommandGiven())
        return answerJournalCommand(options, parsed, arguments);
    return std::nullopt;
}

std::optional<CommandLineAnswer> refuseLeftoverArguments(const QStringList &arguments)
{
    Options options;
    const bool parsed = options.parse(arguments);
    return refuseUnparsed(options, parsed, arguments);
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
    // Written by size: an exported caption may hold a NUL, which would end a C string.
    const QByteArray output = answer.output.toUtf8();
    const bool written
        = std::fwrite(output.constData(), 1, size_t(output.size()), stdout) == size_t(output.size())
        && std::fflush(stdout) == 0;
    const QByteArray error = answer.error.toUtf8();
    std::fwrite(error.constData(), 1, size_t(error.size()), stderr);
    if (!written) {
        std::fputs("quorvel-translate: the output could not be written whole\n", stderr);
        return answer.exitCode == 0 ? 1 : answer.exitCode;
    }
    return answer.exitCode;
}

} // namespace TranslateMac::CommandLine
