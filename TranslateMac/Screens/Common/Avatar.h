#pragma once

#include <QPixmap>
#include <QString>

namespace TranslateMac::Avatar {

// A round avatar with the nickname's first character on the accent colour.
QPixmap pixmap(const QString &nickname, int side);

} // namespace TranslateMac::Avatar
