#include "AppRelease.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QRegularExpression>

namespace TranslateCore {

AppRelease AppRelease::validated(const QString &version, qint64 build)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("(0|[1-9][0-9]{0,8})\\.(0|[1-9][0-9]{0,8})\\.(0|[1-9][0-9]{0,8})")));
    const QRegularExpressionMatch match = pattern.match(version);
    if (!match.hasMatch() || build < 0 || build > maximumBuild)
        throw TranslationFailure::invalidResponse();
    AppRelease release;
    for (int i = 0; i < 3; ++i)
        release.parts[i] = match.capturedView(i + 1).toLongLong();
    release.build = build;
    return release;
}

} // namespace TranslateCore
