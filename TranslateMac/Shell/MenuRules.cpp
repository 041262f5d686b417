#include "MenuRules.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Update/AppUpdateModel.h"

namespace TranslateMac {

MenuInputs MenuInputs::from(const AppModel &model)
{
    return MenuInputs { model.state(), model.loggedIn(), model.ownsSession(),
        model.overlayVisible(), model.appUpdates().checking() };
}

MenuPresentation presentMenus(const MenuInputs &inputs)
{
    MenuPresentation menus;
    menus.stateLine = rawValue(inputs.state);
    menus.overlayTitle = inputs.overlayVisible ? MenuTexts::hideOverlay : MenuTexts::showOverlay;
    // A running translation keeps its subtitles reachable even after the sign-in has ended.
    menus.overlayEnabled = inputs.loggedIn || inputs.ownsSession;
    menus.stopVisible = inputs.ownsSession;
    menus.stopEnabled = inputs.ownsSession && inputs.state != ListeningState::stopping;
    menus.checkForUpdatesEnabled = !inputs.updateChecking && !inputs.ownsSession;
    return menus;
}

} // namespace TranslateMac
