#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QDateTime>
#include <QStringList>

namespace TranslateMac::HistoryPresenter {

using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

namespace {

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString countsText(const JournalSession &session)
{
    QString counts = QStringLiteral("%1 句").arg(session.captionCount);
    if (session.chargedPoints)
        counts += QStringLiteral(" · %1 积分").arg(*session.chargedPoints);
    return counts;
}

} // namespace

QString startedText(qint64 startedAtMs, const QTimeZone &zone)
{
    return QDateTime::fromMSecsSinceEpoch(startedAtMs, zone)
        .toString(QStringLiteral("yyyy年M月d日 HH:mm"));
}

QString durationText(const JournalSession &session)
{
    if (!session.endedAtMs)
        return session.interrupted ? QStringLiteral("—") : QStringLiteral("记录中");
    const qint64 seconds = std::max<qint64>(0, (*session.endedAtMs - session.startedAtMs) / 1000);
    if (seconds < 60)
        return QStringLiteral("%1秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1分%2秒").arg(seconds / 60).arg(twoDigits(seconds % 60));
    return QStringLiteral("%1小时%2分").arg(seconds / 3600).arg(twoDigits(seconds / 60 % 60));
}

QString clockText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(twoDigits(seconds / 3600), twoDigits(seconds / 60 % 60), twoDigits(seconds % 60));
}

SessionEntry sessionEntry(const JournalSession &session, const QTimeZone &zone)
{
    return { session.id, startedText(session.startedAtMs, zone), session.interrupted,
        durationText(session), session.direction + QStringLiteral(" · ") + session.sourceName,
        countsText(session) };
}

HitEntry hitEntry(const JournalSearchHit &hit, const QTimeZone &zone)
{
    return { hit.caption.sessionId, hit.caption.sequence,
        startedText(hit.sessionStartedAtMs, zone) + QStringLiteral(" · ") + hit.direction,
        clockText(hit.caption.appearedMs), hit.caption.source, hit.caption.target };
}

QString sessionSummary(const SessionEntry &entry)
{
    return QStringList { entry.origin, entry.duration, entry.counts }.join(QStringLiteral(" · "));
}

QString sessionsHeading(qsizetype count)
{
    if (count == 0)
        return QStringLiteral("还没有字幕记录");
    return QStringLiteral("共 %1 次翻译").arg(count);
}

QString resultsHeading(qsizetype count, int limit)
{
    if (count == 0)
        return QStringLiteral("没有找到字幕");
    if (count >= limit)
        return QStringLiteral("显示最新的 %1 句字幕").arg(count);
    return QStringLiteral("找到 %1 句字幕").arg(count);
}

bool targetsRightToLeft(const QList<JournalCaption> &captions)
{
    for (const JournalCaption &caption : captions) {
        for (const QChar c : caption.target) {
            switch (c.direction()) {
            case QChar::DirR:
            case QChar::DirAL:
                return true;
            case QChar::DirL:
                return false;
            default:
                break;
            }
        }
    }
    return false;
}

QString interruptedOffer(qint64 savedCaptions)
{
    return QStringLiteral("上次的翻译意外中断，已保存 %1 句字幕。").arg(savedCaptions);
}

bool choosesLanguages(ExportFormat format)
{
    return format == ExportFormat::timedText || format == ExportFormat::srt
        || format == ExportFormat::webVtt;
}

QString formatTitle(ExportFormat format)
{
    switch (format) {
    case ExportFormat::text:
        return QStringLiteral("纯文本（.txt）");
    case ExportFormat::timedText:
        return QStringLiteral("带时间的文本（.txt）");
    case ExportFormat::srt:
        return QStringLiteral("SRT 字幕（.srt）");
    case ExportFormat::webVtt:
        return QStringLiteral("WebVTT 字幕（.vtt）");
    case ExportFormat::jsonLines:
        return QStringLiteral("JSON Lines（.jsonl）");
    }
    return {};
}

QString languagesTitle(ExportText text)
{
    switch (text) {
    case ExportText::both:
        return QStringLiteral("双语");
    case ExportText::source:
        return QStringLiteral("仅原文");
    case ExportText::target:
        return QStringLiteral("仅译文");
    }
    return {};
}

QString exportFileName(const QString &base, const ExportChoice &choice)
{
    QStringList marks;
    if (choice.format == ExportFormat::timedText)
        marks << QStringLiteral("带时间");
    if (choosesLanguages(choice.format) && choice.text != ExportText::both)
        marks << languagesTitle(choice.text);
    QString name = base;
    if (!marks.isEmpty())
        name += u'（' + marks.join(u'，') + u'）';
    return name + u'.' + TranslateCore::exportSuffix(choice.format);
}

QString sessionFileBase(const JournalSession &session, const QTimeZone &zone)
{
    return QStringLiteral("Quorvel字幕 ")
        + QDateTime::fromMSecsSinceEpoch(session.startedAtMs, zone)
              .toString(QStringLiteral("yyyy-MM-dd HH.mm"));
}

} // namespace TranslateMac::HistoryPresenter
