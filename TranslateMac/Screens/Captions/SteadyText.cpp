#include "TranslateMac/Screens/Captions/SteadyText.h"

namespace TranslateMac {

namespace {

// Scripts written without spaces between words: each character is a word of its own.
bool standsAlone(QChar c)
{
    const char32_t u = c.unicode();
    return (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF)
        || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF)
        || (u >= 0x3000 && u <= 0x303F) || c.isPunct();
}

} // namespace

QStringList SteadyText::words(const QString &text)
{
    QStringList words;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype start = i;
        while (i < text.size() && text[i].isSpace()) // leading spaces belong to the first word
            ++i;
        if (i == text.size()) {
        } else if (standsAlone(text[i])) {
            ++i;
        } else {
            while (i < text.size() && !text[i].isSpace() && !standsAlone(text[i]))
                ++i;
        }
        while (i < text.size() && text[i].isSpace())
            ++i;
        words.append(text.mid(start, i - start));
    }
    return words;
}

qsizetype SteadyText::commonWords(const QStringList &a, const QStringList &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n].trimmed() == b[n].trimmed())
        ++n;
    return n;
}

qsizetype SteadyText::erasedWords(const QString &before, const QString &after)
{
    const QStringList was = words(before);
    const QStringList now = words(after);
    qsizetype kept = commonWords(was, now);
    // A word that only grew ("bow" → "bowl") at the end of what was shown is not erased.
    if (kept < was.size() && kept < now.size() && kept == was.size() - 1
        && now[kept].startsWith(was[kept].trimmed()))
        ++kept;
    return was.size() - kept;
}

SteadyShown SteadyText::update(const QString &text, bool final)
{
    const QStringList now = words(text);
    if (final) {
        m_previous = now;
        m_shownWords = now;
        m_settledWords = now.size();
        m_shown = { text, text.size() };
        return m_shown;
    }
    // Settled words stay as they were shown; the rest follows this update.
    QStringList shown = m_shownWords.mid(0, m_settledWords);
    shown += now.mid(std::min(m_settledWords, now.size()));
    const qsizetype repeated
        = std::min({ commonWords(m_previous, now), m_previous.size() - 1, now.size() - 1 });
    if (repeated > m_settledWords)
        m_settledWords = std::min(repeated, shown.size());
    m_previous = now;
    m_shownWords = shown;
    qsizetype settledLength = 0;
    for (qsizetype i = 0; i < m_settledWords; ++i)
        settledLength += shown[i].size();
    m_shown = { shown.join(QString()), settledLength };
    return m_shown;
}

} // namespace TranslateMac
