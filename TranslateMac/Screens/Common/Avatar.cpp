#include "TranslateMac/Screens/Common/Avatar.h"

#include "TranslateMac/Screens/Common/Theme.h"

#include <QLabel>
#include <QPainter>

namespace TranslateMac::Avatar {

QPixmap pixmap(const QString &nickname, int side)
{
    const qreal ratio = 2; // sharp on high-density screens
    QPixmap image(int(side * ratio), int(side * ratio));
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::accent());
    painter.drawEllipse(QRectF(0, 0, side, side));
    painter.setPen(Qt::white);
    painter.setFont(Theme::font(side * 0.36, QFont::DemiBold));
    const QString initial = nickname.isEmpty() ? QStringLiteral("Q") : nickname.left(1).toUpper();
    painter.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, initial);
    return image;
}

void show(QLabel *label, const QString &nickname, int side)
{
    const QVariant drawnFor = label->property("avatarFor");
    if (drawnFor.isValid() && drawnFor.toString() == nickname)
        return;
    label->setPixmap(pixmap(nickname, side));
    label->setProperty("avatarFor", nickname);
}

} // namespace TranslateMac::Avatar
