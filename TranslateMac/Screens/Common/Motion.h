#pragma once

#include <QEasingCurve>

#include <chrono>

namespace TranslateMac::Motion {

// Whether the user asked for less motion: QUORVEL_REDUCE_MOTION set to anything but "0";
// without it, GTK_ENABLE_ANIMATIONS=0 (GTK's own switch for turning animations off).
bool reduceMotion();

inline const QEasingCurve easeOut { QEasingCurve::OutCubic };

} // namespace TranslateMac::Motion
