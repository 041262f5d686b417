#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace TranslateMac::SymbolIcons {

// An icon drawn with QPainter for a symbol name, in `colour`; used where the desktop's icon theme
// has no icon for it (and always on headless displays, which have no theme).
QIcon drawn(const QString &symbolName, const QColor &colour);

} // namespace TranslateMac::SymbolIcons
