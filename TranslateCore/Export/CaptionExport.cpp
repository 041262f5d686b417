#include "CaptionExport.h"

#include "SubtitleCues.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace TranslateCore {

namespace {

QString clockTime(qint64 ms, QLatin1Char separator)
{
    ms = std::max<qint64>(ms, 0);
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(separator)
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// Every line a cue shows, source lines first.
QStringList linesOf(const SubtitleCue &cue)
{
    return cue.sourceLines + cue.targetLines;
}

// Same rule as the transcript's own text: source, line feed, target; captions apart by a blank
// line; nothing added before the first or after the last.
QString plainText(const QList<ExportedCaption> &captions)
{
    QString text;
    for (qsizetype i = 0; i < captions.size(); ++i) {
        if (i > 0)
            text += QLatin1String("\n\n");
        text += captions[i].source;
        text += QLatin1Char('\n');
        text += captions[i].target;
    }
    return text;
}

QString timedText(const QList<ExportedCaption> &captions, ExportText choice)
{
    QString text;
    for (const SubtitleCue &cue : timedCaptions(captions, choice)) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("[%1 - %2]\n").arg(webVttTime(cue.startMs), webVttTime(cue.endMs));
        for (const QString &line : linesOf(cue))
            text += line + QLatin1Char('\n');
    }
    return text;
}

// SubRip has no escape: an arrow inside the text is shortened, so that no reader can take a line
// of text for a timing line.
QString subRipLine(QString line)
{
    while (line.contains(QLatin1String("-->")))
        line.replace(QLatin1String("-->"), QLatin1String("->"));
    return line;
}

QString subRip(const QList<ExportedCaption> &captions, ExportText choice)
{
    QString text;
    qsizetype number = 0;
    for (const SubtitleCue &cue : subtitleCues(captions, choice)) {
        if (number > 0)
            text += QLatin1Char('\n');
        text += QStringLiteral("%1\n%2 --> %3\n")
                    .arg(++number)
                    .arg(subRipTime(cue.startMs), subRipTime(cue.endMs));
        for (const QString &line : linesOf(cue))
            text += subRipLine(line) + QLatin1Char('\n');
    }
    return text;
}

// Cue text is markup in WebVTT: "&" and "<" would start an entity or a tag, and escaping ">"
// keeps "-->" (which must not appear in a cue) out of the text too.
QString webVttLine(const QString &line)
{
    QString escaped;
    escaped.reserve(line.size());
    for (QChar c : line) {
        if (c == u'&')
            escaped += QLatin1String("&amp;");
        else if (c == u'<')
            escaped += QLatin1String("&lt;");
        else if (c == u'>')
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QString webVtt(const QList<ExportedCaption> &captions, ExportText choice)
{
    QString text = QStringLiteral("WEBVTT\n");
    for (const SubtitleCue &cue : subtitleCues(captions, choice)) {
        text += QStringLiteral("\n%1 --> %2\n").arg(webVttTime(cue.startMs), webVttTime(cue.endMs));
        for (const QString &line : linesOf(cue))
            text += webVttLine(line) + QLatin1Char('\n');
    }
    return text;
}

QString jsonString(const QString &value)
{
    // A one-element array is the shortest document Qt writes a bare string into.
    const QByteArray array = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    QString string = QString::fromUtf8(array.mid(1, array.size() - 2));
    // JSON allows these raw, but line readers (Python's splitlines, for one) end a line at them.
    string.replace(QChar(0x85), QLatin1String("\\u0085"))
        .replace(QChar(0x2028), QLatin1String("\\u2028"))
        .replace(QChar(0x2029), QLatin1String("\\u2029"));
    return string;
}

// The journal's values unchanged (times included), so a script reads back exactly what was kept.
QString jsonLines(const QList<ExportedCaption> &captions)
{
    QString text;
    for (const ExportedCaption &caption : captions) {
        text += QStringLiteral(
            R"({"session":%1,"sequence":%2,"startMs":%3,"endMs":%4,"source":%5,"target":%6})")
                    .arg(caption.sessionId)
                    .arg(caption.sequence)
                    .arg(caption.startMs)
                    .arg(caption.endMs)
                    .arg(jsonString(caption.source), jsonString(caption.target));
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace

QString exportSuffix(ExportFormat format)
{
    switch (format) {
    case ExportFormat::text:
    case ExportFormat::timedText:
        return QStringLiteral("txt");
    case ExportFormat::srt:
        return QStringLiteral("srt");
    case ExportFormat::webVtt:
        return QStringLiteral("vtt");
    case ExportFormat::jsonLines:
        return QStringLiteral("jsonl");
    }
    return {};
}

QString exportCaptions(const QList<ExportedCaption> &captions, ExportFormat format, ExportText text)
{
    switch (format) {
    case ExportFormat::text:
        return plainText(exportOrder(captions));
    case ExportFormat::timedText:
        return timedText(captions, text);
    case ExportFormat::srt:
        return subRip(captions, text);
    case ExportFormat::webVtt:
        return webVtt(captions, text);
    case ExportFormat::jsonLines:
        return jsonLines(exportOrder(captions));
    }
    return {};
}

QString subRipTime(qint64 ms)
{
    return clockTime(ms, QLatin1Char(','));
}

QString webVttTime(qint64 ms)
{
    return clockTime(ms, QLatin1Char('.'));
}

} // namespace TranslateCore
