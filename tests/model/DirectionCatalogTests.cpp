#include "TranslateMac/Directions/DirectionCatalog.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

namespace TranslateCore {
// Readable failures; internal so that no other test file's printer can clash with it.
[[maybe_unused]] static void PrintTo(const TranslationRoute &route, std::ostream *out)
{
    *out << route.code.toStdString() << " (" << route.name.toStdString() << ")";
}
} // namespace TranslateCore

namespace TranslateMac {
[[maybe_unused]] static void PrintTo(const LanguageOption &option, std::ostream *out)
{
    *out << option.name.toStdString() << "/" << option.code.toStdString();
}
} // namespace TranslateMac

using TranslateCore::TranslationRoute;
using namespace TranslateMac;

namespace {

using Group = LanguageOption::Group;

TranslationRoute route(const char *code, const QString &source, const QString &target,
    const char *sourceLanguage, const char *targetLanguage)
{
    return TranslationRoute { QString::fromUtf8(code), source + QStringLiteral(" → ") + target,
        QString::fromUtf8(sourceLanguage), QString::fromUtf8(targetLanguage) };
}

const QString chinese = QStringLiteral("中文");
const QString english = QStringLiteral("English");
const QString japanese = QStringLiteral("日本語");
const QString cantonese = QStringLiteral("粤语");

const TranslationRoute zhEn = route("zh-en", chinese, english, "zh-CN", "en");
const TranslationRoute zhJa = route("zh-ja", chinese, japanese, "zh-CN", "ja");
const TranslationRoute enZh = route("en-zh", english, chinese, "en", "zh-CN");
const TranslationRoute jaYue = route("ja-yue", japanese, cantonese, "ja", "yue-HK");
const TranslationRoute jaZh = route("ja-zh", japanese, chinese, "ja", "zh-CN");
const TranslationRoute jaEn = route("ja-en", japanese, english, "ja", "en");

TEST(DirectionCatalogTest, SourcesAndTargetsKeepRouteOrderAndFirstOccurrence)
{
    const DirectionCatalog catalog { { zhEn, zhJa, enZh,
        route("zh2-fr", chinese, english, "cmn", "en-GB"), jaEn } };
    EXPECT_EQ(catalog.sources(),
        (QList<LanguageOption> { { chinese, "zh-CN" }, { english, "en" }, { japanese, "ja" } }));
    EXPECT_EQ(catalog.targets(chinese),
        (QList<LanguageOption> { { english, "en" }, { japanese, "ja" } }));
    EXPECT_EQ(catalog.targets(english), (QList<LanguageOption> { { chinese, "zh-CN" } }));
    EXPECT_TRUE(catalog.targets(QStringLiteral("Français")).isEmpty());
    EXPECT_TRUE(DirectionCatalog {}.sources().isEmpty());
}

TEST(DirectionCatalogTest, RouteForAPairIsTheFirstMatch)
{
    const TranslationRoute duplicate = route("zh-en-2", chinese, english, "zh", "en");
    const DirectionCatalog catalog { { zhEn, zhJa, enZh, duplicate } };
    const std::vector<std::tuple<QString, QString, std::optional<TranslationRoute>>> cases {
        { chinese, english, zhEn },
        { english, chinese, enZh },
        { chinese, japanese, zhJa },
        { japanese, chinese, std::nullopt }, // one-way direction has no reverse
        { english, english, std::nullopt },
        { QStringLiteral("Klingon"), chinese, std::nullopt },
    };
    for (const auto &[source, target, expected] : cases) {
        SCOPED_TRACE((source + u'>' + target).toStdString());
        EXPECT_EQ(catalog.route(source, target), expected);
    }
}

TEST(DirectionCatalogTest, ChoosingASourceKeepsTheOtherLanguageOrPrefersMandarin)
{
    const DirectionCatalog catalog { { zhEn, zhJa, enZh, jaYue, jaZh, jaEn } };
    const DirectionCatalog dialectFirst { { jaYue, jaEn } };
    const TranslationRoute frDe
        = route("fr-de", QStringLiteral("Français"), QStringLiteral("Deutsch"), "fr", "de");
    struct Case {
        const char *description;
        const DirectionCatalog &catalog;
        QString source;
        std::optional<TranslationRoute> current;
        std::optional<TranslationRoute> expected;
    };
    const std::vector<Case> cases {
        { "current target offered", catalog, japanese, zhEn, jaEn },
        { "current source used when target is not offered", catalog, english, zhEn, enZh },
        { "target preferred over source", catalog, japanese, enZh, jaZh },
        { "neither offered: Mandarin target", catalog, japanese, frDe, jaZh },
        { "no current route: Mandarin after a dialect", catalog, japanese, std::nullopt, jaZh },
        { "no Mandarin: first target", dialectFirst, japanese, std::nullopt, jaYue },
        { "source without routes", catalog, QStringLiteral("Klingon"), zhEn, std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(c.catalog.routeAfterChoosing(c.source, c.current), c.expected);
    }
}

TEST(LanguageOptionTest, GroupsFollowTheLowerCasedCode)
{
    const std::vector<std::pair<const char *, Group>> cases {
        { "zh", Group::chinese },
        { "ZH-cn", Group::chinese },
        { "zh-Hant", Group::chinese },
        { "cmn-Hans", Group::chinese },
        { "zh-x-minnan", Group::dialect },
        { "ZH-X-wuu", Group::dialect },
        { "yue", Group::dialect },
        { "Yue-HK", Group::dialect },
        { "zhx", Group::foreign },
        { "en", Group::foreign },
        { "", Group::foreign },
    };
    for (const auto &[code, expected] : cases) {
        SCOPED_TRACE(code);
        const LanguageOption option { QStringLiteral("x"), QString::fromUtf8(code) };
        EXPECT_EQ(option.group(), expected);
    }
    EXPECT_EQ(
        LanguageOption::allGroups, (std::array { Group::chinese, Group::dialect, Group::foreign }));
    EXPECT_EQ(int(Group::chinese), 0);
    EXPECT_EQ(int(Group::dialect), 1);
    EXPECT_EQ(int(Group::foreign), 2);
}

} // namespace
