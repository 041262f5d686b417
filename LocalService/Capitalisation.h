#pragma once

#include <QString>

namespace LocalService {

// Speech recognisers write lower case; the translator takes an uncapitalised word for a common
// noun or leaves it untranslated. This restores the capitals English writing needs: the sentence
// start, the pronoun "I" (and its contractions), weekdays and months ("may" and "march" only after
// a word that announces a date, since they are mostly verbs).
QString capitaliseEnglish(const QString &text);

} // namespace LocalService
