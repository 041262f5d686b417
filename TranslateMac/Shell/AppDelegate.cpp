#include "AppDelegate.h"

#include "FloatingSubtitlePanel.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"

namespace TranslateMac {

AppDelegate::AppDelegate(TranslateCore::Clock &clock, ContentFactory content, QObject *parent)
    : QObject(parent), m_content(std::move(content)), m_quit(clock)
{
    if (!m_content)
        m_content = [](AppModel &model) { return new FloatingSubtitleView(model); };
    connect(&m_quit, &GuardedQuit::answered, this, &AppDelegate::quitAnswered);
}

AppDelegate::~AppDelegate()
{
    // The panel is a top-level window without a parent: it goes with the delegate.
    delete m_panel.data();
}

void AppDelegate::attach(AppModel &model)
{
    if (m_model)
        return;
    m_model = &model;
    m_quit.setTarget(GuardedQuit::Target::from(model));
    connect(&model, &AppModel::overlayVisibleChanged, this, &AppDelegate::overlayChanged);
    // The current value is delivered at once, like every later one, on the next turn of the
    // event loop.
    m_lastOverlay = !model.overlayVisible();
    overlayChanged();
}

void AppDelegate::overlayChanged()
{
    if (!m_model || m_model->overlayVisible() == m_lastOverlay)
        return;
    m_lastOverlay = m_model->overlayVisible();
    QMetaObject::invokeMethod(
        this, [this, visible = m_lastOverlay] { setOverlay(visible); }, Qt::QueuedConnection);
}

void AppDelegate::setOverlay(bool visible)
{
    if (!m_model)
        return;
    if (!visible) {
        if (m_panel)
            m_panel->hide();
        return;
    }
    if (!m_panel) {
        m_panel = new FloatingSubtitlePanel(m_content(*m_model));
        connect(m_panel, &FloatingSubtitlePanel::closed, this, [this] {
            if (m_model)
                m_model->setOverlayVisible(false);
        });
        Q_EMIT panelCreated(m_panel);
    }
    m_panel->present();
}

QuitReply AppDelegate::shouldTerminate()
{
    return m_quit.request();
}

QuitReply AppDelegate::shouldEnd()
{
    return m_quit.requestBounded();
}

} // namespace TranslateMac
