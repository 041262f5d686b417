#include "TranslateMac/Screens/Update/AppUpdatePanel.h"

namespace TranslateMac {

AppUpdatePanel::AppUpdatePanel(AppUpdateModel &updates, QWidget *parent)
    : QWidget(parent), m_updates(updates)
{
}

} // namespace TranslateMac
