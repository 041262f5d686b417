#pragma once

#include <QPixmap>

class QLabel;
#include <QString>

namespace TranslateMac::Avatar {

// A round avatar with the nickname's first character on the accent colour.
QPixmap pixmap(const QString &nickname, int side);
// Shows the avatar of `nickname` in `label`, drawing it only when the nickname changed.
void show(QLabel *label, const QString &nickname, int side);

} // namespace TranslateMac::Avatar
