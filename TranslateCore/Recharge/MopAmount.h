#pragma once

#include <QString>

namespace TranslateCore {

// An amount in hundredths of a pataca as shown to the user: 1234 reads "MOP 12.34", -5 reads
// "MOP -0.05".
QString mopAmount(qint64 fen);

} // namespace TranslateCore
