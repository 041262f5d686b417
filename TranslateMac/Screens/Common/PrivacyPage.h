#pragma once

#include <QUrl>

namespace TranslateMac::PrivacyPage {

// The privacy policy on the service's public site.
QUrl address();
// Opens it in the default browser.
void open();

} // namespace TranslateMac::PrivacyPage
