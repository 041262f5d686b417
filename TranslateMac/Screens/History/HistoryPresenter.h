#pragma once

#include "TranslateMac/Journal/JournalRecords.h"

#include "TranslateCore/Export/CaptionExport.h"

#include <QList>
#include <QString>
#include <QTimeZone>

namespace TranslateMac::HistoryPresenter {

// What the history shows of its records, decided here so the window only lays it out. Times of
// day are read in `zone` (the system's time zone in the window).

// One past session in the list.
struct SessionEntry {
    qint64 id = 0;
    QString started; // "2025年3月14日 20:05"
    bool interrupted = false; // marked "中断"
    QString duration; // "12分05秒"; "记录中" while it is being recorded
    QString origin; // "English → 中文 · 全电脑播放音频"
    QString counts; // "42 句 · 12 积分" (the points only when known)
    friend bool operator==(const SessionEntry &, const SessionEntry &) = default;
};
SessionEntry sessionEntry(const JournalSession &session, const QTimeZone &zone);

// A caption found by a search, with its session and its time in the session.
struct HitEntry {
    qint64 sessionId = 0;
    qint64 sequence = 0;
    QString session; // "2025年3月14日 20:05 · English → 中文"
    QString time; // "00:12:34", when the caption appeared
    QString source;
    QString target;
    friend bool operator==(const HitEntry &, const HitEntry &) = default;
};
HitEntry hitEntry(const JournalSearchHit &hit, const QTimeZone &zone);

inline const QString interruptedMark = QStringLiteral("中断");

QString startedText(qint64 startedAtMs, const QTimeZone &zone);
QString durationText(const JournalSession &session);
// A reading of the session's audio clock: "00:12:34".
QString clockText(qint64 ms);
// The open session's line under its title: origin, duration and counts.
QString sessionSummary(const SessionEntry &entry);

// Headings of the list.
QString sessionsHeading(qsizetype count);
QString resultsHeading(qsizetype count, int limit);

// Whether a session's translations are written right to left (Arabic, Hebrew, …): the journal
// keeps no languages, so the first translation that has a direction tells.
bool targetsRightToLeft(const QList<JournalCaption> &captions);

// The offer at launch after an earlier run was cut off.
QString interruptedOffer(qint64 savedCaptions);

// Export: a format, and for the timed formats which languages.
struct ExportChoice {
    TranslateCore::ExportFormat format = TranslateCore::ExportFormat::text;
    TranslateCore::ExportText text = TranslateCore::ExportText::both;
    friend bool operator==(const ExportChoice &, const ExportChoice &) = default;
};
// Whether the format lets the user choose the languages (the plain text and JSON lines always
// carry both).
bool choosesLanguages(TranslateCore::ExportFormat format);
QString formatTitle(TranslateCore::ExportFormat format); // "SRT 字幕（.srt）"
QString languagesTitle(TranslateCore::ExportText text); // "双语", "仅原文", "仅译文"
// The proposed file name: the base, a mark of the languages when only one, and the suffix.
QString exportFileName(const QString &base, const ExportChoice &choice);
// File name bases: the session's start ("Quorvel字幕 2025-03-14 20.05") and a search's.
QString sessionFileBase(const JournalSession &session, const QTimeZone &zone);
inline const QString searchFileBase = QStringLiteral("Quorvel字幕搜索结果");

} // namespace TranslateMac::HistoryPresenter
