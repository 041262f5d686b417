#include "TranslateMac/Screens/Directions/LanguagePickerModel.h"

#include <algorithm>

namespace TranslateMac {

QString LanguageSection::title() const
{
    return LanguagePickerModel::groupTitle(group);
}

QString LanguageSection::countText() const
{
    return QStringLiteral("%1 种").arg(items.size());
}

namespace LanguagePickerModel {

QString groupTitle(LanguageOption::Group group)
{
    switch (group) {
    case LanguageOption::Group::chinese:
        return QStringLiteral("中文");
    case LanguageOption::Group::dialect:
        return QStringLiteral("方言");
    case LanguageOption::Group::foreign:
        break;
    }
    return QStringLiteral("外语");
}

QList<LanguageOption> filter(const QList<LanguageOption> &options, const QString &query)
{
    const QString needle = query.trimmed();
    if (needle.isEmpty())
        return options;
    QList<LanguageOption> matches;
    for (const LanguageOption &option : options) {
        if (option.name.contains(needle, Qt::CaseInsensitive)
            || option.code.contains(needle, Qt::CaseInsensitive))
            matches.append(option);
    }
    return matches;
}

QList<LanguageSection> sections(const QList<LanguageOption> &options)
{
    QList<LanguageSection> result;
    for (LanguageOption::Group group : LanguageOption::allGroups) {
        LanguageSection section { group, {} };
        for (const LanguageOption &option : options) {
            if (option.group() == group)
                section.items.append(option);
        }
        if (!section.items.isEmpty())
            result.append(section);
    }
    return result;
}

bool showsSearch(const QList<LanguageOption> &options)
{
    return options.size() >= searchThreshold;
}

int height(const QList<LanguageOption> &options, const QList<LanguageSection> &shown)
{
    qsizetype rows = 0;
    for (const LanguageSection &section : shown)
        rows += section.items.size();
    const int headers = shown.size() > 1 ? int(shown.size()) * 26 : 0;
    const int header = showsSearch(options) ? 88 : 44;
    return headers + int(std::max<qsizetype>(rows, 1)) * 31 + header + 14;
}

} // namespace LanguagePickerModel

} // namespace TranslateMac
