#include "MenuBarControls.h"

#include "FloatingSubtitlePanel.h"
#include "MenuRules.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QActionGroup>
#include <QMenu>
#include <QSystemTrayIcon>

namespace TranslateMac {

MenuBarControls::MenuBarControls(AppModel &model, std::function<void()> openWorkspace,
    std::function<void()> openHistory, std::function<void()> quit, QObject *parent)
    : QObject(parent), m_model(model), m_openWorkspace(std::move(openWorkspace)),
      m_menu(std::make_unique<QMenu>()), m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_menu->setTitle(MenuTexts::trayTitle);
    m_state = m_menu->addAction(QString());
    m_state->setEnabled(false);
    m_menu->addAction(MenuTexts::openWorkspace, this, [this] { m_openWorkspace(); });
    m_menu->addAction(MenuTexts::openHistory, this, std::move(openHistory));
    m_overlay = m_menu->addAction(
        QString(), this, [this] { m_model.setOverlayVisible(!m_model.overlayVisible()); });
    m_stop = m_menu->addAction(MenuTexts::stopAndSettle, this, [this] { m_model.stop(); });

    m_menu->addSeparator();
    m_clickThrough = m_menu->addAction(MenuTexts::clickThrough, this, [this](bool checked) {
        if (m_panel)
            m_panel->setClickThrough(checked);
    });
    m_clickThrough->setCheckable(true);
    m_opacity = m_menu->addMenu(MenuTexts::backgroundOpacity);
    m_opacityGroup = new QActionGroup(m_opacity);
    for (const int percent : opacitySteps) {
        QAction *step
            = m_opacity->addAction(QStringLiteral("%1%").arg(percent), this, [this, percent] {
                  if (m_panel)
                      m_panel->setBackgroundOpacity(percent);
              });
        step->setCheckable(true);
        step->setData(percent);
        m_opacityGroup->addAction(step);
    }

    m_menu->addSeparator();
    m_menu->addAction(MenuTexts::quit, this, std::move(quit));

    m_tray->setIcon(Theme::icon(QStringLiteral("captions.bubble")));
    m_tray->setToolTip(MenuTexts::trayTitle);
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                m_openWorkspace();
        });

    for (auto signal : { &AppModel::stateChanged, &AppModel::loggedInChanged,
             &AppModel::ownsSessionChanged, &AppModel::overlayVisibleChanged })
        connect(&m_model, signal, this, &MenuBarControls::refresh);
    refresh();
    refreshPanelSettings();
    m_tray->show();
}

MenuBarControls::~MenuBarControls() = default;

void MenuBarControls::setPanel(FloatingSubtitlePanel *panel)
{
    m_panel = panel;
    connect(panel, &FloatingSubtitlePanel::clickThroughChanged, this,
        &MenuBarControls::refreshPanelSettings);
    connect(panel, &FloatingSubtitlePanel::backgroundOpacityChanged, this,
        &MenuBarControls::refreshPanelSettings);
    refreshPanelSettings();
}

void MenuBarControls::refresh()
{
    const MenuPresentation menus = presentMenus(MenuInputs::from(m_model));
    m_state->setText(menus.stateLine);
    m_overlay->setText(menus.overlayTitle);
    m_overlay->setEnabled(menus.overlayEnabled);
    m_stop->setVisible(menus.stopVisible);
    m_stop->setEnabled(menus.stopEnabled);
}

void MenuBarControls::refreshPanelSettings()
{
    m_clickThrough->setEnabled(m_panel);
    m_opacity->setEnabled(m_panel);
    m_clickThrough->setChecked(m_panel && m_panel->clickThrough());
    for (QAction *step : m_opacityGroup->actions())
        step->setChecked(m_panel && step->data().toInt() == m_panel->backgroundOpacity());
}

} // namespace TranslateMac
