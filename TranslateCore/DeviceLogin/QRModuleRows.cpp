#include "QRModuleRows.h"

#include <QJsonArray>
#include <QTextBoundaryFinder>

namespace TranslateCore {

namespace {

// Counts grapheme clusters rather than UTF-16 units, so a digit carrying a combining mark is one
// (invalid) character instead of two.
bool isModuleRow(const QString &row, qsizetype side)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, row);
    qsizetype count = 0;
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        const QStringView character = QStringView(row).sliced(start, end - start);
        if (character != u"0" && character != u"1")
            return false;
        if (++count > side)
            return false;
        start = end;
    }
    return count == side;
}

} // namespace

std::optional<QStringList> readQRModuleRows(
    const QJsonValue &value, qsizetype minSide, qsizetype maxSide)
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    const qsizetype side = array.size();
    if (side < minSide || side > maxSide)
        return std::nullopt;
    QStringList rows;
    rows.reserve(side);
    for (const QJsonValue &entry : array) {
        if (!entry.isString())
            return std::nullopt;
        QString row = entry.toString();
        if (!isModuleRow(row, side))
            return std::nullopt;
        rows.append(std::move(row));
    }
    return rows;
}

} // namespace TranslateCore
