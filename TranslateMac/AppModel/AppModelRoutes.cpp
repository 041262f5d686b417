#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Directions/DirectionCatalog.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;

namespace TranslateMac {

QCoro::Task<> AppModel::refreshQuote()
{
    QPointer<AppModel> self(this);
    const Generation generation = QUuid::createUuid();
    m_quoteGeneration = generation;
    if (!m_loggedIn || ownsSession() || m_selectedRoute.isEmpty()) {
        assign(m_quote, std::nullopt, &AppModel::quoteChanged);
        assign(m_quoteBusy, false, &AppModel::quoteBusyChanged);
        co_return;
    }
    const QString routeCode = m_selectedRoute;
    assign(m_quote, std::nullopt, &AppModel::quoteChanged);
    assign(m_quoteBusy, true, &AppModel::quoteBusyChanged);
    std::exception_ptr failure;
    try {
        const Quote answer = co_await m_api->quote(routeCode, lifetime());
        if (self && m_quoteGeneration == generation && m_selectedRoute == routeCode
            && !ownsSession()) {
            assign(m_quote, answer, &AppModel::quoteChanged);
            assign(m_wallet, answer.available, &AppModel::walletChanged);
            assign(m_quoteBusy, false, &AppModel::quoteBusyChanged);
        }
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || m_quoteGeneration != generation || ownsSession())
        co_return;
    assign(m_quoteBusy, false, &AppModel::quoteBusyChanged);
    show(failure);
}

QCoro::Task<> AppModel::refreshSources()
{
    if (ownsSession() || m_sourcesRefreshing)
        co_return;
    QPointer<AppModel> self(this);
    assign(m_sourcesRefreshing, true, &AppModel::sourcesRefreshingChanged);
    QList<AudioSource> list;
    std::exception_ptr failure;
    try {
        list = co_await m_capture->sources();
        if (list.isEmpty())
            throw TranslationFailure::sourceUnavailable();
    } catch (...) {
        failure = CaptureAccess::failure(std::current_exception());
    }
    if (!self)
        co_return;
    if (ownsSession()) {
        assign(m_sourcesRefreshing, false, &AppModel::sourcesRefreshingChanged);
        co_return;
    }
    if (!failure) {
        if (m_sourceCheckFailure && m_error == m_sourceCheckFailure)
            setError(std::nullopt); // the stale check message goes with the check
        assign(m_sourceCheckFailure, std::nullopt, &AppModel::sourceCheckFailureChanged);
        assign(m_permission, m_capture->authorizesOnStart() ? m_capture->hasPermission() : true,
            &AppModel::permissionChanged);
        assign(m_sources, list, &AppModel::sourcesChanged);
        if (!list.contains(m_selectedSource))
            setSelectedSource(AudioSource::wholeSystem());
    } else {
        assign(m_permission, false, &AppModel::permissionChanged);
        if (isFailure(failure, TranslationFailure::Case::permission)) {
            // The permission prompt tells the user, not a check failure.
            assign(m_sourceCheckFailure, std::nullopt, &AppModel::sourceCheckFailureChanged);
        } else {
            show(failure);
            assign(m_sourceCheckFailure,
                std::optional<QString>(
                    m_error.value_or(QStringLiteral("暂时无法检查系统音源，请重试。"))),
                &AppModel::sourceCheckFailureChanged);
        }
    }
    assign(m_sourcesRefreshing, false, &AppModel::sourcesRefreshingChanged);
}

void AppModel::swapDirection()
{
    const std::optional<TranslationRoute> current = route();
    if (ownsSession() || !current)
        return;
    const DirectionCatalog catalog { m_routes };
    if (const auto reverse = catalog.route(current->targetName(), current->sourceName()))
        setSelectedRoute(reverse->code);
}

void AppModel::copyTranscript()
{
    m_transcriptExport.copy(m_transcript.plainText());
}

void AppModel::exportTranscript()
{
    QPointer<AppModel> self(this);
    m_transcriptExport.chooseSaveLocation(
        QStringLiteral("Quorvel字幕.txt"), [self](std::optional<QString> path) {
            if (!self || !path)
                return;
            // The transcript as it is now, not as it was when the dialog opened.
            if (!writeTextAtomically(*path, self->m_transcript.plainText()))
                self->setError(QStringLiteral("字幕未能保存，请检查目标文件夹权限。"));
        });
}

} // namespace TranslateMac
