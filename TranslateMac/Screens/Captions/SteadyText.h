#pragma once

#include <QString>
#include <QStringList>

namespace TranslateMac {

// One side of a caption as shown: the text, and how many characters from its start are
// settled (the rest may still be rewritten by the service).
struct SteadyShown {
    QString text;
    qsizetype settled = 0;
    friend bool operator==(const SteadyShown &, const SteadyShown &) = default;
};

// Keeps a caption text steady while the service rewrites it. Words the service repeated
// unchanged in two consecutive updates are settled: they never move or change again until the
// final text, which is shown as it is. Only the words after them follow each update. The last
// word of a partial text never settles: it may still be being spelled out.
class SteadyText {
public:
    // The side's next update from the service; yields what to show.
    SteadyShown update(const QString &text, bool final);
    const SteadyShown &shown() const { return m_shown; }

    // The words of a text as the rule counts them: a run of letters or digits with the spaces
    // after it, or a single character of a script written without spaces (Chinese, Japanese)
    // or punctuation. Joined, the words give back the text.
    static QStringList words(const QString &text);
    // How many words lead both lists unchanged.
    static qsizetype commonWords(const QStringList &a, const QStringList &b);
    // Words on screen that an update from `before` to `after` takes away or replaces.
    static qsizetype erasedWords(const QString &before, const QString &after);

private:
    QStringList m_previous; // the service's previous update, in words
    QStringList m_shownWords;
    qsizetype m_settledWords = 0;
    SteadyShown m_shown;
};

} // namespace TranslateMac
