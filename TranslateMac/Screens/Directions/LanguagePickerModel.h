#pragma once

#include "TranslateMac/Directions/DirectionCatalog.h"

#include <QList>
#include <QString>

namespace TranslateMac {

// One group of the language picker with the options it shows.
struct LanguageSection {
    LanguageOption::Group group;
    QList<LanguageOption> items;

    QString title() const;
    // "N 种"
    QString countText() const;
    friend bool operator==(const LanguageSection &, const LanguageSection &) = default;
};

// The language picker's decisions: which options match the search, how they are grouped and
// how tall the popover is.
namespace LanguagePickerModel {

// The search field is offered from this many options on.
inline constexpr int searchThreshold = 9;

QString groupTitle(LanguageOption::Group group);
// The options whose name or code contains the trimmed query, ignoring case; all for an empty
// query.
QList<LanguageOption> filter(const QList<LanguageOption> &options, const QString &query);
// Chinese, dialect and foreign sections in that order, options in catalog order, empty ones
// left out.
QList<LanguageSection> sections(const QList<LanguageOption> &options);
bool showsSearch(const QList<LanguageOption> &options);
// The popover's height for the given options (all of them) and the sections currently shown.
int height(const QList<LanguageOption> &options, const QList<LanguageSection> &shown);

} // namespace LanguagePickerModel

} // namespace TranslateMac
