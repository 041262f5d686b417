#include "TranslateMac/Screens/Account/LoginQRCode.h"

#include <QPainter>

#include <algorithm>

namespace TranslateMac {

LoginQRCode::LoginQRCode(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("登录二维码，请使用手机Quorvel扫码"));
    setMinimumSize(160, 160);
}

void LoginQRCode::setRows(QList<QList<bool>> rows)
{
    m_rows = std::move(rows);
    update();
}

void LoginQRCode::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int side = std::min(width(), height());
    const QRectF canvas((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.fillRect(canvas, Qt::white);
    qsizetype columns = 0;
    for (const auto &row : m_rows)
        columns = std::max(columns, row.size());
    const qsizetype modules = std::max(columns, m_rows.size());
    if (modules == 0)
        return;
    const double cell = side / double(modules);
    for (qsizetype y = 0; y < m_rows.size(); ++y) {
        for (qsizetype x = 0; x < m_rows[y].size(); ++x) {
            if (m_rows[y][x])
                // Cells overlap by a hair so no light seams show between dark neighbours.
                painter.fillRect(QRectF(canvas.left() + x * cell, canvas.top() + y * cell,
                                     cell + 0.5, cell + 0.5),
                    QColor(0x11, 0x11, 0x11));
        }
    }
}

} // namespace TranslateMac
