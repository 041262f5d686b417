#pragma once

#include "TranslateCore/Subtitles/Caption.h"

#include <QColor>
#include <QString>

namespace TranslateMac::CaptionText {

// The cursor that trails a caption text still being recognised or translated.
inline const QString cursor = QStringLiteral(" ▏");

// What a caption block shows: the text (or its placeholder while empty) and whether the
// trailing cursor follows it.
struct Block {
    QString text;
    bool placeholder = false;
    bool cursor = false;
    // How many characters from the start are settled (the rest may still be rewritten); all
    // of them when negative.
    qsizetype settled = -1;
    friend bool operator==(const Block &, const Block &) = default;
};

// The block as shown: its text, then the cursor when it has one.
QString plain(const Block &block);
// The block as rich text: the escaped text (a placeholder in `placeholderColour` when that is
// valid; the unsettled tail in `changingColour` when that is valid) and the cursor in
// `cursorColour`.
QString html(const Block &block, const QColor &cursorColour, const QColor &placeholderColour = {},
    const QColor &changingColour = {});

// The workspace row's "原文" block: the source text, or "正在识别" while empty.
Block source(const TranslateCore::Caption &caption, bool latest);
// The workspace row's "译文" block: the target text, or "正在翻译" while empty.
Block target(const TranslateCore::Caption &caption, bool latest);
// The floating window's line: the target text, or "等待译文" while empty; the cursor only on the
// latest line of a translation still running.
Block floatingTarget(const TranslateCore::Caption &caption, bool latest, bool owningSession);

} // namespace TranslateMac::CaptionText
