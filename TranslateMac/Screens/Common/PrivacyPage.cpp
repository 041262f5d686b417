#include "TranslateMac/Screens/Common/PrivacyPage.h"

#include "TranslateCore/Contract/ProductionEndpoint.h"

#include <QDesktopServices>

namespace TranslateMac::PrivacyPage {

QUrl address()
{
    return QUrl(QString::fromLatin1(TranslateCore::ProductionEndpoint::productionOrigin)
        + QStringLiteral("/privacy"));
}

void open()
{
    QDesktopServices::openUrl(address());
}

} // namespace TranslateMac::PrivacyPage
