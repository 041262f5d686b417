#pragma once

#include <QJsonArray>
#include <QString>

namespace LocalService {

// The QR code of `text` as rows of "0"/"1" characters (1 = dark module), version 3 at least so
// that the matrix is 29 modules wide or more. Empty when the text does not fit a QR code.
QJsonArray qrRows(const QString &text);

} // namespace LocalService
