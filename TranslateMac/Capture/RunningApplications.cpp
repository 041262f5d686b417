#include "RunningApplications.h"

#include "TranslateMac/Capture/ApplicationMatch.h"

#include <QCollator>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace TranslateMac::RunningApplications {

namespace {

bool listable(const SoundServerClient &client, qint64 ownPid)
{
    return client.pid && *client.pid != ownPid && !client.name.trimmed().isEmpty()
        && !(client.binary && ApplicationMatch::isSoundServerService(*client.binary));
}

void sortByName(QList<AudioSource> &applications)
{
    // The C locale's collation compares code points and knows no numeric mode; fall back to a
    // real language's ordering there.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(
        applications.begin(), applications.end(), [&](const AudioSource &a, const AudioSource &b) {
            return collator.compare(a.name, b.name) < 0;
        });
}

} // namespace

QList<AudioSource> sources(const QList<SoundServerClient> &clients, qint64 ownPid)
{
    QList<SoundServerClient> listed;
    for (const SoundServerClient &client : clients) {
        if (listable(client, ownPid))
            listed.append(client);
    }
    // The shortest identities first, so an application is kept and its helpers join it,
    // whichever connected first.
    QList<qsizetype> order(listed.size());
    std::iota(order.begin(), order.end(), 0);
    const auto identityOf = [&](qsizetype i) { return listed[i].identity().value_or(QString()); };
    std::stable_sort(order.begin(), order.end(),
        [&](qsizetype a, qsizetype b) { return identityOf(a).size() < identityOf(b).size(); });
    QSet<qint32> pids;
    QStringList identities;
    QSet<qsizetype> kept;
    for (const qsizetype i : order) {
        const QString identity = identityOf(i);
        const bool joinsAnother
            = std::any_of(identities.begin(), identities.end(), [&](const QString &other) {
                  return ApplicationMatch::isHelperIdentity(identity, other);
              });
        if (pids.contains(*listed[i].pid) || joinsAnother)
            continue;
        pids.insert(*listed[i].pid);
        if (!identity.isEmpty())
            identities.append(identity);
        kept.insert(i);
    }
    QList<AudioSource> applications;
    for (qsizetype i = 0; i < listed.size(); ++i) {
        if (kept.contains(i))
            applications.append({ listed[i].pid, listed[i].name, listed[i].identity() });
    }
    sortByName(applications);
    applications.prepend(AudioSource::wholeSystem());
    return applications;
}

} // namespace TranslateMac::RunningApplications
