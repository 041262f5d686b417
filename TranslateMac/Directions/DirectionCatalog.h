#pragma once

#include "TranslateCore/Contract/TranslationRoute.h"

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>

namespace TranslateMac {

// One selectable language of the direction picker, identified by its display name.
struct LanguageOption {
    enum class Group {
        chinese = 0,
        dialect = 1,
        foreign = 2,
    };
    static constexpr std::array<Group, 3> allGroups { Group::chinese, Group::dialect,
        Group::foreign };

    QString name;
    QString code;

    QString id() const { return name; }
    // Dialects ("zh-x-…", "yue…") first, then Mandarin ("zh", "zh-…", "cmn…"), else foreign;
    // the code is compared lower-cased.
    Group group() const;

    friend bool operator==(const LanguageOption &, const LanguageOption &) = default;
};

size_t qHash(const LanguageOption &option, size_t seed = 0) noexcept;

// Turns the service's flat route list into the picker's two steps: a source language, then a
// target language offered for it. Pure: every answer is computed from `routes` in their order.
struct DirectionCatalog {
    QList<TranslateCore::TranslationRoute> routes;

    // Every route's source, first occurrence of each name (with its code) kept.
    QList<LanguageOption> sources() const;
    // The targets of the routes leaving `source`, first occurrence of each name kept.
    QList<LanguageOption> targets(const QString &source) const;
    // The first route from `source` to `target`.
    std::optional<TranslateCore::TranslationRoute> route(
        const QString &source, const QString &target) const;
    // The route to select when `source` is picked: keep the current target, else swap in the
    // current source, else prefer a Mandarin target, else the first target offered.
    std::optional<TranslateCore::TranslationRoute> routeAfterChoosing(
        const QString &source, const std::optional<TranslateCore::TranslationRoute> &current) const;

    friend bool operator==(const DirectionCatalog &, const DirectionCatalog &) = default;
};

} // namespace TranslateMac
