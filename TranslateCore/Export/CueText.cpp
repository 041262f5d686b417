#include "CueText.h"

#include <QTextBoundaryFinder>

namespace TranslateCore::CueText {

namespace {

// East Asian wide and full-width characters: the CJK scripts and their punctuation, Hangul,
// full-width forms and the emoji blocks, which players draw at about twice a Latin letter.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E)
        || (c >= 0x3041 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
        || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6)
        || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF)
        || (c >= 0x20000 && c <= 0x3FFFD);
}

int codePointWidth(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        return isWide(c) ? wideWidth : narrowWidth;
    }
}

// Breaks that end a line or a paragraph in some reader; they become spaces.
bool isLineBreak(char32_t c)
{
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028
        || c == 0x2029;
}

template <typename Visit> void forEachCodePoint(QStringView text, Visit visit)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
        } else if (!c.isSurrogate()) {
            visit(char32_t(c.unicode()));
        }
        // An unpaired surrogate is no character at all and is skipped.
    }
}

char32_t firstCodePoint(QStringView text)
{
    char32_t first = 0;
    forEachCodePoint(text.left(2), [&](char32_t c) {
        if (!first)
            first = c;
    });
    return first;
}

char32_t lastCodePoint(QStringView text)
{
    char32_t last = 0;
    forEachCodePoint(text.right(2), [&](char32_t c) { last = c; });
    return last;
}

} // namespace

int width(const QString &text)
{
    int total = 0;
    forEachCodePoint(text, [&](char32_t c) { total += codePointWidth(c); });
    return total;
}

QString singleLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    bool spacePending = false;
    forEachCodePoint(text, [&](char32_t c) {
        if (isLineBreak(c) || QChar::isSpace(c)) {
            spacePending = !line.isEmpty();
            return;
        }
        if (QChar::category(c) == QChar::Other_Control || QChar::isNonCharacter(c))
            return;
        if (spacePending)
            line += QLatin1Char(' ');
        spacePending = false;
        line += QStringView(QChar::fromUcs4(c));
    });
    return line;
}

QStringList wrap(const QString &text, int budget)
{
    QStringList lines;
    QString line;
    int lineWidth = 0;
    QString spaces; // white space after the line's last word, kept only if another word follows
    const auto endLine = [&] {
        if (!line.isEmpty())
            lines.append(line);
        line.clear();
        lineWidth = 0;
        spaces.clear();
    };
    const auto append = [&](QStringView piece, int pieceWidth) {
        if (!line.isEmpty()) {
            line += spaces;
            lineWidth += width(spaces);
        }
        line += piece;
        lineWidth += pieceWidth;
        spaces.clear();
    };

    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype to = breaks.toNextBoundary();
        if (to <= from)
            to = text.size();
        const QStringView segment = QStringView(text).mid(from, to - from);
        qsizetype wordEnd = segment.size();
        while (wordEnd > 0 && segment[wordEnd - 1].isSpace())
            --wordEnd;
        const QStringView word = segment.left(wordEnd);
        const int wordWidth = width(word.toString());
        if (!line.isEmpty() && lineWidth + width(spaces) + wordWidth > budget)
            endLine();
        if (wordWidth <= budget) {
            if (!word.isEmpty())
                append(word, wordWidth);
        } else {
            // A word wider than a whole line (a long link, text without spaces) is cut between
            // characters, never inside one.
            const QString longWord = word.toString();
            QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, longWord);
            qsizetype start = 0;
            while (start < longWord.size()) {
                qsizetype end = characters.toNextBoundary();
                if (end <= start)
                    end = longWord.size();
                const QStringView character = QStringView(longWord).mid(start, end - start);
                const int characterWidth = width(character.toString());
                if (!line.isEmpty() && lineWidth + characterWidth > budget)
                    endLine();
                append(character, characterWidth);
                start = end;
            }
        }
        if (!line.isEmpty())
            spaces = segment.mid(wordEnd).toString();
        from = to;
    }
    endLine();
    return lines;
}

QStringList balancedWrap(const QString &text)
{
    QStringList lines = wrap(text);
    if (lines.size() != 2)
        return lines;
    int narrowest = (width(text) + 1) / 2;
    int widest = lineBudget;
    while (narrowest < widest) {
        const int budget = (narrowest + widest) / 2;
        if (wrap(text, budget).size() == 2)
            widest = budget;
        else
            narrowest = budget + 1;
    }
    return wrap(text, widest);
}

QString joined(const QString &first, const QString &second)
{
    if (first.isEmpty())
        return second;
    if (second.isEmpty())
        return first;
    if (isWide(lastCodePoint(first)) && isWide(firstCodePoint(second)))
        return first + second;
    return first + QLatin1Char(' ') + second;
}

} // namespace TranslateCore::CueText
