#include "Transcript.h"

#include "ServerEvent.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace TranslateCore {

namespace {

// Points figures come from the service unchecked; sums and differences are computed exactly in
// 128 bits and clamped, so a hostile figure cannot overflow.
__extension__ typedef __int128 WidePoints;

qint64 clampedPoints(WidePoints value)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    if (value < lowest)
        return lowest;
    if (value > highest)
        return highest;
    return static_cast<qint64>(value);
}

std::optional<qint64> member(const QJsonObject &json, const char *key)
{
    return integer(json.value(QLatin1String(key)));
}

// Blank means nothing but white space and line breaks, as QString::trimmed would strip; checked
// without building the trimmed copy.
bool isBlank(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

auto firstAtOrAfter(const QList<Caption> &captions, qint64 sequence)
{
    return std::lower_bound(captions.cbegin(), captions.cend(), sequence,
        [](const Caption &caption, qint64 s) { return caption.sequence < s; });
}

} // namespace

void Transcript::apply(const ServerEvent &event)
{
    const QString &type = event.type;
    if (type == QLatin1String("asr.partial"))
        applyCaption(event, true, false);
    else if (type == QLatin1String("asr.final"))
        applyCaption(event, true, true);
    else if (type == QLatin1String("translation.partial"))
        applyCaption(event, false, false);
    else if (type == QLatin1String("translation.final"))
        applyCaption(event, false, true);
    else if (type == QLatin1String("usage.update"))
        applyUsage(event);
    else if (type == QLatin1String("session.finished"))
        applyFinish(event);
}

void Transcript::applyCaption(const ServerEvent &event, bool source, bool final)
{
    // Everything that can be rejected is checked before the list is touched.
    const std::optional<qint64> sequence = member(event.json, "segmentSeq");
    if (!sequence || *sequence <= 0)
        throw TranslationFailure::invalidResponse();
    const qint64 seq = *sequence;
    const QJsonValue textValue = event.json.value(QLatin1String("text"));
    if (!textValue.isString())
        throw TranslationFailure::invalidResponse();

    const auto found = firstAtOrAfter(m_captions, seq);
    qsizetype index = found - m_captions.cbegin();
    if (found == m_captions.cend() || found->sequence != seq) {
        // A segment at or behind the cursor was already complete and may have been pruned since.
        if (seq <= m_replayCursor)
            return;
        // Inserting at the sorted position keeps the list ordered without re-sorting it.
        m_captions.insert(index, Caption { seq, {}, {}, false, false });
    }

    Caption &caption = m_captions[index];
    bool &sideFinal = source ? caption.sourceFinal : caption.targetFinal;
    // A late partial never overwrites a final text.
    if (sideFinal && !final)
        return;
    const QString text = textValue.toString();
    if (!isBlank(text))
        (source ? caption.source : caption.target) = text;
    if (final)
        sideFinal = true;

    for (qsizetype i = firstAtOrAfter(m_captions, m_replayCursor + 1) - m_captions.cbegin();
         i < m_captions.size() && m_captions[i].sequence == m_replayCursor + 1
         && m_captions[i].complete();
         ++i)
        ++m_replayCursor;

    if (m_captions.size() >= pruningThreshold) {
        const auto keptFrom
            = std::upper_bound(m_captions.cbegin(), m_captions.cend(), m_replayCursor - keptWindow,
                [](qint64 s, const Caption &caption) { return s < caption.sequence; });
        m_captions.erase(m_captions.cbegin(), keptFrom);
    }

    if (m_captions.size() >= hardCeiling)
        throw TranslationFailure::queueFull();
}

void Transcript::applyUsage(const ServerEvent &event)
{
    const qint64 charged = member(event.json, "chargedPoints").value_or(m_ledgerCharged);
    m_ledgerCharged = charged;
    m_used = member(event.json, "accruedPoints").value_or(charged);
    if (const auto remaining = member(event.json, "remainingPoints")) {
        m_remaining = *remaining;
        return;
    }
    const auto available = member(event.json, "availablePoints");
    const auto reserved = member(event.json, "reservedPoints");
    if (available && reserved)
        m_remaining = clampedPoints(WidePoints(*available) + *reserved);
}

void Transcript::applyFinish(const ServerEvent &event)
{
    const qint64 charged = member(event.json, "chargedPoints").value_or(m_ledgerCharged);
    if (const auto remaining = member(event.json, "remainingPoints"))
        m_remaining = *remaining;
    else
        m_remaining = std::max<qint64>(
            0, clampedPoints(WidePoints(m_used) + m_remaining - WidePoints(charged)));
    m_used = charged;
    m_ledgerCharged = charged;
    m_finished = true;
}

QString Transcript::plainText() const
{
    qsizetype length = 0;
    for (const Caption &caption : m_captions)
        length += caption.source.size() + caption.target.size() + 3;
    QString text;
    text.reserve(length);
    for (const Caption &caption : m_captions) {
        if (&caption != &m_captions.front())
            text += QLatin1String("\n\n");
        text += caption.source;
        text += QLatin1Char('\n');
        text += caption.target;
    }
    return text;
}

} // namespace TranslateCore
