#include "TranslateMac/Directions/DirectionCatalog.h"

#include <QHashFunctions>
#include <QSet>

#include <algorithm>

namespace TranslateMac {

using TranslateCore::TranslationRoute;

namespace {

QList<LanguageOption> unique(const QList<LanguageOption> &options)
{
    QList<LanguageOption> kept;
    QSet<QString> names;
    for (const LanguageOption &option : options) {
        if (!names.contains(option.name)) {
            names.insert(option.name);
            kept.append(option);
        }
    }
    return kept;
}

} // namespace

LanguageOption::Group LanguageOption::group() const
{
    const QString lowered = code.toLower();
    if (lowered.startsWith(u"zh-x-") || lowered.startsWith(u"yue"))
        return Group::dialect;
    if (lowered == u"zh" || lowered.startsWith(u"zh-") || lowered.startsWith(u"cmn"))
        return Group::chinese;
    return Group::foreign;
}

size_t qHash(const LanguageOption &option, size_t seed) noexcept
{
    return qHashMulti(seed, option.name, option.code);
}

QList<LanguageOption> DirectionCatalog::sources() const
{
    QList<LanguageOption> options;
    for (const TranslationRoute &route : routes)
        options.append(LanguageOption { route.sourceName(), route.sourceLanguage });
    return unique(options);
}

QList<LanguageOption> DirectionCatalog::targets(const QString &source) const
{
    QList<LanguageOption> options;
    for (const TranslationRoute &route : routes) {
        if (route.sourceName() == source)
            options.append(LanguageOption { route.targetName(), route.targetLanguage });
    }
    return unique(options);
}

std::optional<TranslationRoute> DirectionCatalog::route(
    const QString &source, const QString &target) const
{
    const auto found = std::find_if(routes.cbegin(), routes.cend(), [&](const TranslationRoute &r) {
        return r.sourceName() == source && r.targetName() == target;
    });
    if (found == routes.cend())
        return std::nullopt;
    return *found;
}

std::optional<TranslationRoute> DirectionCatalog::routeAfterChoosing(
    const QString &source, const std::optional<TranslationRoute> &current) const
{
    const QList<LanguageOption> offered = targets(source);
    const auto offers = [&offered](const QString &name) {
        return std::any_of(offered.cbegin(), offered.cend(),
            [&name](const LanguageOption &option) { return option.name == name; });
    };
    if (current) {
        for (const QString &candidate : { current->targetName(), current->sourceName() }) {
            if (offers(candidate))
                return route(source, candidate);
        }
    }
    if (offered.isEmpty())
        return std::nullopt;
    const auto mandarin
        = std::find_if(offered.cbegin(), offered.cend(), [](const LanguageOption &option) {
              return option.group() == LanguageOption::Group::chinese;
          });
    const LanguageOption &chosen = mandarin != offered.cend() ? *mandarin : offered.constFirst();
    return route(source, chosen.name);
}

} // namespace TranslateMac
