#include "Capitalisation.h"

#include <QSet>
#include <QStringList>

namespace LocalService {

namespace {

const QSet<QString> &properWords()
{
    static const QSet<QString> words { "i", "i'm", "i'll", "i've", "i'd", "monday", "tuesday",
        "wednesday", "thursday", "friday", "saturday", "sunday", "january", "february", "april",
        "june", "july", "august", "september", "october", "november", "december" };
    return words;
}

// Months that are also verbs are capitalised only in a date.
const QSet<QString> &ambiguousMonths()
{
    static const QSet<QString> words { "may", "march" };
    return words;
}

const QSet<QString> &dateWords()
{
    static const QSet<QString> words { "in", "of", "since", "until", "till", "by", "next", "last",
        "early", "late", "mid", "this", "every", "during", "before", "after" };
    return words;
}

QString capitalised(const QString &word)
{
    return word.isEmpty() ? word : word.left(1).toUpper() + word.mid(1);
}

} // namespace

QString capitaliseEnglish(const QString &text)
{
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString lower = words[i].toLower();
        const bool inDate = i > 0 && dateWords().contains(words[i - 1].toLower());
        if (i == 0 || properWords().contains(lower)
            || (inDate && ambiguousMonths().contains(lower)))
            words[i] = capitalised(words[i]);
    }
    return words.join(QLatin1Char(' '));
}

} // namespace LocalService
