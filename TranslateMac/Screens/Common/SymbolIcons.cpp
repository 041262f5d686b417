#include "TranslateMac/Screens/Common/SymbolIcons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace TranslateMac::SymbolIcons {

namespace {

// Every symbol is drawn on a 64 × 64 canvas with a pen of `stroke` width; filled shapes use the
// same colour.
using Drawing = std::function<void(QPainter &)>;

QPainterPath polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// Marks inside filled shapes are cut out, so they show the surface below in any icon colour.
void cutOut(QPainter &p, qreal width)
{
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::black);
}

void arrow(QPainter &p, QPointF from, QPointF to)
{
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF head = line;
    head.setLength(14);
    head.setAngle(line.angle() + 40);
    p.drawLine(head);
    head.setAngle(line.angle() - 40);
    p.drawLine(head);
}

void bubble(QPainter &p, bool filled)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(8, 10, 48, 34), 9, 9);
    path.addPolygon(QPolygonF({ QPointF(18, 42), QPointF(16, 56), QPointF(30, 43) }));
    if (filled)
        p.fillPath(path.simplified(), p.pen().color());
    else
        p.drawPath(path.simplified());
}

void lockShape(QPainter &p, QRectF body)
{
    p.fillRect(body, p.pen().color());
    p.drawArc(QRectF(body.center().x() - body.width() * 0.3, body.top() - body.width() * 0.45,
                  body.width() * 0.6, body.width() * 0.9),
        0, 180 * 16);
}

void shield(QPainter &p)
{
    p.fillPath(polygon({ { 32, 6 }, { 54, 14 }, { 52, 36 }, { 32, 58 }, { 12, 36 }, { 10, 14 } }),
        p.pen().color());
}

void speaker(QPainter &p)
{
    p.fillPath(polygon({ { 8, 24 }, { 18, 24 }, { 30, 12 }, { 30, 52 }, { 18, 40 }, { 8, 40 } }),
        p.pen().color());
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table {
        { "play.fill",
            [](QPainter &p) {
                p.fillPath(polygon({ { 18, 10 }, { 54, 32 }, { 18, 54 } }), p.pen().color());
            } },
        { "stop.fill",
            [](QPainter &p) {
                QPainterPath path;
                path.addRoundedRect(QRectF(14, 14, 36, 36), 6, 6);
                p.fillPath(path, p.pen().color());
            } },
        { "captions.bubble",
            [](QPainter &p) {
                // Filled with the lines cut out: legible at tray sizes on light and dark panels.
                bubble(p, true);
                cutOut(p, 5);
                p.drawLine(QPointF(18, 22), QPointF(46, 22));
                p.drawLine(QPointF(18, 32), QPointF(38, 32));
            } },
        { "character.bubble",
            [](QPainter &p) {
                bubble(p, false);
                p.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 18, QFont::Bold));
                p.drawText(QRectF(8, 10, 48, 34), Qt::AlignCenter, QStringLiteral("文"));
            } },
        { "text.bubble.fill", [](QPainter &p) { bubble(p, true); } },
        { "arrow.down.to.line",
            [](QPainter &p) {
                arrow(p, { 32, 8 }, { 32, 46 });
                p.drawLine(QPointF(12, 56), QPointF(52, 56));
            } },
        { "arrow.down",
            [](QPainter &p) {
                arrow(p, { 32, 8 }, { 32, 56 });
            } },
        { "arrow.up.right",
            [](QPainter &p) {
                arrow(p, { 14, 50 }, { 50, 14 });
            } },
        { "arrow.up.arrow.down",
            [](QPainter &p) {
                arrow(p, { 22, 56 }, { 22, 8 });
                arrow(p, { 42, 8 }, { 42, 56 });
            } },
        { "checkmark",
            [](QPainter &p) {
                p.drawPolyline(QPolygonF({ QPointF(12, 34), QPointF(26, 48), QPointF(52, 16) }));
            } },
        { "doc.on.doc",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(10, 18, 30, 38), 5, 5);
                p.drawPolyline(QPolygonF({ QPointF(22, 12), QPointF(22, 8), QPointF(54, 8),
                    QPointF(54, 46), QPointF(46, 46) }));
            } },
        { "square.and.arrow.up",
            [](QPainter &p) {
                p.drawPolyline(QPolygonF({ QPointF(22, 26), QPointF(12, 26), QPointF(12, 58),
                    QPointF(52, 58), QPointF(52, 26), QPointF(42, 26) }));
                arrow(p, { 32, 42 }, { 32, 6 });
            } },
        { "pip",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(6, 12, 52, 40), 6, 6);
                p.fillRect(QRectF(32, 32, 20, 14), p.pen().color());
            } },
        { "clock",
            [](QPainter &p) {
                p.drawEllipse(QRectF(8, 8, 48, 48));
                p.drawPolyline(QPolygonF({ QPointF(32, 18), QPointF(32, 32), QPointF(42, 38) }));
            } },
        { "globe",
            [](QPainter &p) {
                p.drawEllipse(QRectF(8, 8, 48, 48));
                p.drawEllipse(QRectF(22, 8, 20, 48));
                p.drawLine(QPointF(8, 32), QPointF(56, 32));
            } },
        { "speaker.wave.2.fill",
            [](QPainter &p) {
                speaker(p);
                p.drawArc(QRectF(26, 20, 16, 24), -60 * 16, 120 * 16);
                p.drawArc(QRectF(26, 10, 30, 44), -60 * 16, 120 * 16);
            } },
        { "mic.slash",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(24, 6, 16, 32), 8, 8);
                p.drawArc(QRectF(14, 18, 36, 30), 180 * 16, 180 * 16);
                p.drawLine(QPointF(32, 48), QPointF(32, 58));
                p.drawLine(QPointF(10, 8), QPointF(54, 56));
            } },
        { "hourglass",
            [](QPainter &p) {
                p.drawPolygon(QPolygonF(
                    { QPointF(16, 8), QPointF(48, 8), QPointF(16, 56), QPointF(48, 56) }));
            } },
        { "lock", [](QPainter &p) { lockShape(p, QRectF(14, 28, 36, 28)); } },
        { "creditcard",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(6, 14, 52, 36), 6, 6);
                p.fillRect(QRectF(6, 22, 52, 7), p.pen().color());
            } },
        { "arrow.clockwise",
            [](QPainter &p) {
                p.drawArc(QRectF(10, 10, 44, 44), 100 * 16, 300 * 16);
                p.fillPath(polygon({ { 30, 2 }, { 42, 11 }, { 30, 20 } }), p.pen().color());
            } },
        { "desktopcomputer",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(6, 10, 52, 34), 4, 4);
                p.drawLine(QPointF(32, 44), QPointF(32, 54));
                p.drawLine(QPointF(20, 56), QPointF(44, 56));
            } },
        { "checkmark.shield.fill",
            [](QPainter &p) {
                shield(p);
                cutOut(p, 5);
                p.drawPolyline(QPolygonF({ QPointF(22, 30), QPointF(29, 38), QPointF(43, 22) }));
            } },
        { "lock.shield.fill",
            [](QPainter &p) {
                shield(p);
                cutOut(p, 4);
                lockShape(p, QRectF(24, 28, 16, 14));
            } },
        { "xmark",
            [](QPainter &p) {
                p.drawLine(QPointF(16, 16), QPointF(48, 48));
                p.drawLine(QPointF(48, 16), QPointF(16, 48));
            } },
        { "xmark.circle.fill",
            [](QPainter &p) {
                p.setBrush(p.pen().color());
                p.drawEllipse(QRectF(8, 8, 48, 48));
                cutOut(p, 5);
                p.drawLine(QPointF(23, 23), QPointF(41, 41));
                p.drawLine(QPointF(41, 23), QPointF(23, 41));
            } },
        { "magnifyingglass",
            [](QPainter &p) {
                p.drawEllipse(QRectF(8, 8, 34, 34));
                p.drawLine(QPointF(37, 37), QPointF(56, 56));
            } },
        { "chevron.left",
            [](QPainter &p) {
                p.drawPolyline(QPolygonF({ QPointF(40, 10), QPointF(20, 32), QPointF(40, 54) }));
            } },
        { "waveform",
            [](QPainter &p) {
                const qreal heights[] = { 12, 28, 44, 20, 36, 16 };
                for (int i = 0; i < 6; ++i)
                    p.drawLine(QPointF(10 + i * 9, 32 - heights[i] / 2),
                        QPointF(10 + i * 9, 32 + heights[i] / 2));
            } },
        { "hand.raised",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(16, 26, 32, 32), 10, 10);
                for (int i = 0; i < 4; ++i)
                    p.drawLine(QPointF(20 + i * 8, 28), QPointF(20 + i * 8, 10 + (i % 3) * 2));
            } },
        { "rectangle.portrait.and.arrow.right",
            [](QPainter &p) {
                p.drawPolyline(QPolygonF({ QPointF(34, 16), QPointF(34, 8), QPointF(8, 8),
                    QPointF(8, 56), QPointF(34, 56), QPointF(34, 48) }));
                arrow(p, { 22, 32 }, { 58, 32 });
            } },
        { "exclamationmark.circle",
            [](QPainter &p) {
                p.drawEllipse(QRectF(8, 8, 48, 48));
                p.drawLine(QPointF(32, 18), QPointF(32, 36));
                p.drawPoint(QPointF(32, 45));
            } },
        { "info.circle",
            [](QPainter &p) {
                p.drawEllipse(QRectF(8, 8, 48, 48));
                p.drawLine(QPointF(32, 28), QPointF(32, 46));
                p.drawPoint(QPointF(32, 19));
            } },
        { "clock.arrow.circlepath",
            [](QPainter &p) {
                p.drawArc(QRectF(10, 10, 44, 44), 140 * 16, 280 * 16);
                p.drawPolyline(QPolygonF({ QPointF(32, 20), QPointF(32, 32), QPointF(41, 38) }));
                p.fillPath(polygon({ { 6, 18 }, { 18, 16 }, { 12, 28 } }), p.pen().color());
            } },
        { "trash",
            [](QPainter &p) {
                p.drawLine(QPointF(10, 18), QPointF(54, 18));
                p.drawPolyline(QPolygonF(
                    { QPointF(25, 18), QPointF(27, 9), QPointF(37, 9), QPointF(39, 18) }));
                p.drawPolyline(QPolygonF(
                    { QPointF(16, 18), QPointF(20, 56), QPointF(44, 56), QPointF(48, 18) }));
                p.drawLine(QPointF(28, 28), QPointF(28, 46));
                p.drawLine(QPointF(36, 28), QPointF(36, 46));
            } },
        { "iphone",
            [](QPainter &p) {
                p.drawRoundedRect(QRectF(18, 6, 28, 52), 6, 6);
                p.drawLine(QPointF(28, 50), QPointF(36, 50));
            } },
        { "arrow.right.circle.fill",
            [](QPainter &p) {
                p.setBrush(p.pen().color());
                p.drawEllipse(QRectF(6, 6, 52, 52));
                cutOut(p, 5);
                arrow(p, { 18, 32 }, { 46, 32 });
            } },
        { "chevron.down",
            [](QPainter &p) {
                p.drawPolyline(QPolygonF({ QPointF(12, 24), QPointF(32, 44), QPointF(52, 24) }));
            } },
        { "textformat.size.smaller",
            [](QPainter &p) {
                p.setFont(QFont(QStringLiteral("DejaVu Sans"), 22, QFont::Bold));
                p.drawText(QRectF(0, 8, 64, 52), Qt::AlignCenter, QStringLiteral("A−"));
            } },
        { "textformat.size.larger",
            [](QPainter &p) {
                p.setFont(QFont(QStringLiteral("DejaVu Sans"), 26, QFont::Bold));
                p.drawText(QRectF(0, 4, 64, 56), Qt::AlignCenter, QStringLiteral("A+"));
            } },
        { "person.crop.circle.fill",
            [](QPainter &p) {
                p.setBrush(p.pen().color());
                p.drawEllipse(QRectF(22, 10, 20, 20));
                p.drawChord(QRectF(10, 34, 44, 40), 0, 180 * 16);
            } },
    };
    return table;
}

void drawFallbackLetter(QPainter &p, const QString &symbolName)
{
    p.drawRoundedRect(QRectF(8, 8, 48, 48), 10, 10);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 22, QFont::Bold));
    p.drawText(QRectF(8, 8, 48, 48), Qt::AlignCenter, symbolName.left(1).toUpper());
}

QPixmap render(const QString &symbolName, const QColor &colour, int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);
    painter.setPen(QPen(colour, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QString name = symbolName;
    if (!drawings().contains(name) && name.endsWith(QStringLiteral(".fill")))
        name.chop(5); // "pip.fill", "mic.slash.fill": the outline drawing stands in
    if (auto drawing = drawings().constFind(name); drawing != drawings().constEnd())
        (*drawing)(painter);
    else
        drawFallbackLetter(painter, symbolName);
    return pixmap;
}

} // namespace

QIcon drawn(const QString &symbolName, const QColor &colour)
{
    QIcon icon;
    for (int side : { 16, 24, 32, 48, 64 })
        icon.addPixmap(render(symbolName, colour, side));
    return icon;
}

} // namespace TranslateMac::SymbolIcons
