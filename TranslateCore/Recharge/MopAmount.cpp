#include "MopAmount.h"

namespace TranslateCore {

QString mopAmount(qint64 fen)
{
    // Split the magnitude, not the signed value: truncating division would leave the sign on the
    // hundredths alone ("0.-5"), and negating the 64-bit minimum would overflow.
    const quint64 magnitude
        = fen < 0 ? static_cast<quint64>(-(fen + 1)) + 1 : static_cast<quint64>(fen);
    return QString::asprintf("MOP %s%llu.%02llu", fen < 0 ? "-" : "",
        static_cast<unsigned long long>(magnitude / 100),
        static_cast<unsigned long long>(magnitude % 100));
}

} // namespace TranslateCore
