#include "QRMatrix.h"

#include <qrencode.h>

#include <memory>

namespace LocalService {

QJsonArray qrRows(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(utf8.constData(), 3, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    QJsonArray rows;
    if (!code)
        return rows;
    for (int y = 0; y < code->width; ++y) {
        QString row(code->width, QLatin1Char('0'));
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1)
                row[x] = QLatin1Char('1');
        }
        rows.append(row);
    }
    return rows;
}

} // namespace LocalService
