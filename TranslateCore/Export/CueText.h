#pragma once

#include <QString>
#include <QStringList>

namespace TranslateCore::CueText {

// Widths are counted in eighths of a Latin character: a wide (CJK) character counts 21, so one
// line of `lineBudget` holds about 42 Latin or 16 CJK characters.
constexpr int narrowWidth = 8;
constexpr int wideWidth = 21;
constexpr int lineBudget = 336;
// A subtitle cue shows at most this many lines of each language.
constexpr int linesPerLanguage = 2;

// The width of `text` in the units above; combining marks take no room.
int width(const QString &text);

// One line of readable text: control characters and unpaired surrogates dropped, line breaks,
// tabs and other white space folded into single spaces, no white space at either end. Nothing in
// the result can end a cue line or start a new one.
QString singleLine(const QString &text);

// Breaks a single line into lines no wider than `budget`, at the places Unicode allows a line
// break (between words, between CJK characters); a word wider than a line is cut between
// characters. An empty text gives no lines.
QStringList wrap(const QString &text, int budget = lineBudget);

// Like `wrap`, but a text that needs exactly two lines gets two lines of about equal width (the
// narrowest wrap that still takes two lines), as subtitles are easiest to read.
QStringList balancedWrap(const QString &text);

// `first` followed by `second`, with a space between them unless both touch CJK characters.
QString joined(const QString &first, const QString &second);

} // namespace TranslateCore::CueText
