#include "TranslateMac/Screens/Common/Motion.h"

#include <QByteArray>
#include <QtGlobal>

namespace TranslateMac::Motion {

bool reduceMotion()
{
    const QByteArray requested = qgetenv("QUORVEL_REDUCE_MOTION");
    if (!requested.isEmpty())
        return requested != "0";
    return qgetenv("GTK_ENABLE_ANIMATIONS") == "0";
}

} // namespace TranslateMac::Motion
