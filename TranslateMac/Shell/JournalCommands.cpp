#include "JournalCommands.h"

#include "TranslateMac/AppModel/CaptionFileWriter.h"
#include "TranslateMac/Journal/JournalExport.h"
#include "TranslateMac/Journal/JournalFailure.h"
#include "TranslateMac/Journal/JournalReader.h"

#include <QDateTime>

namespace TranslateMac::JournalCommands {

namespace {

CommandLineAnswer unreadable(const QString &journalPath, const JournalFailure &failure)
{
    QString why;
    switch (failure.kind()) {
    case JournalFailure::Case::corrupt:
        why = QStringLiteral("is damaged or not a caption journal");
        break;
    case JournalFailure::Case::unsupportedSchema:
        why = QStringLiteral("was written by a newer version of Quorvel Translate");
        break;
    case JournalFailure::Case::unavailable:
        why = QStringLiteral("is not a regular file or cannot be reached");
        break;
    case JournalFailure::Case::database:
    case JournalFailure::Case::queueFull:
        why = QStringLiteral("cannot be read now (SQLite error %1)").arg(failure.resultCode());
        break;
    }
    return CommandLine::failure(
        QStringLiteral("the caption journal %1 %2; it was left as it is").arg(journalPath, why));
}

// Nothing when there is no journal, or no data folder to hold one.
std::optional<JournalReader> open(const QString &journalPath)
{
    if (journalPath.isEmpty())
        return std::nullopt;
    return JournalReader::openReadOnly(journalPath);
}

// A name as one column of one line: tabs and line breaks inside it would start another.
QString column(const QString &text)
{
    QString cleaned = text;
    for (QChar &c : cleaned) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph)
            c = u' ';
    }
    return cleaned;
}

QString duration(const JournalSession &session)
{
    if (session.interrupted)
        return QStringLiteral("interrupted");
    if (!session.endedAtMs)
        return QStringLiteral("recording");
    const qint64 seconds = qMax<qint64>(0, *session.endedAtMs - session.startedAtMs) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString sessionLine(const JournalSession &session)
{
    const QString started = QDateTime::fromMSecsSinceEpoch(session.startedAtMs)
                                .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const QString points
        = session.chargedPoints ? QString::number(*session.chargedPoints) : QStringLiteral("-");
    return QStringList { QString::number(session.id), started, duration(session),
        column(session.direction), QString::number(session.captionCount), points,
        column(session.sourceName) }
        .join(u'\t');
}

CommandLineAnswer listSessions(const QString &journalPath)
{
    try {
        const std::optional<JournalReader> journal = open(journalPath);
        if (!journal)
            return { 0, QString(),
                CommandLine::program + QStringLiteral(": no sessions recorded yet (")
                    + (journalPath.isEmpty() ? QStringLiteral("no data folder: HOME is not set")
                                             : QStringLiteral("no journal at ") + journalPath)
                    + QStringLiteral(")\n") };
        QString lines;
        for (const JournalSession &session : journal->sessions())
            lines += sessionLine(session) + u'\n';
        return { 0, lines, QString() };
    } catch (const JournalFailure &failure) {
        return unreadable(journalPath, failure);
    }
}

CommandLineAnswer exportSession(const QString &journalPath, const SessionExport &request)
{
    QList<JournalCaption> captions;
    try {
        const std::optional<JournalReader> journal = open(journalPath);
        if (!journal || !journal->session(request.sessionId))
            return CommandLine::mistake(
                QStringLiteral("no session %1 in the caption journal; --list-sessions shows them")
                    .arg(request.sessionId));
        captions = journal->captions(request.sessionId);
    } catch (const JournalFailure &failure) {
        return unreadable(journalPath, failure);
    }
    const QString content = exportJournalCaptions(captions, request.format, request.text);
    if (request.output == QLatin1String("-"))
        return { 0, content, QString() };
    if (const auto failure = writeExportFile(request.output, content.toUtf8()))
        return CommandLine::failure(QStringLiteral("cannot write %1: %2")
                                        .arg(request.output, exportWriteFailureText(*failure)));
    return { 0, QString(), QString() };
}

} // namespace TranslateMac::JournalCommands
