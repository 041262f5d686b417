#pragma once

#include "GuardedQuit.h"

#include "TranslateCore/Async/Clock.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace TranslateMac {

class AppModel;
class FloatingSubtitlePanel;

// The application's delegate: follows the model's `overlayVisible` with the floating subtitle
// panel, turns a closed panel back into `overlayVisible` = false, and decides whether the
// application may quit while a translation runs.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Makes the floating panel's content for the model.
    using ContentFactory = std::function<QWidget *(AppModel &)>;

    explicit AppDelegate(TranslateCore::Clock &clock = TranslateCore::SystemClock::shared(),
        ContentFactory content = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Called each time the workspace content is shown; only the first call has an effect.
    void attach(AppModel &model);
    AppModel *model() const { return m_model; }
    // Shows (creating it once) or hides the floating subtitle panel; nothing before attach.
    void setOverlay(bool visible);
    FloatingSubtitlePanel *panel() const { return m_panel; }

    // The application asks to terminate; a `later` reply is answered by `quitAnswered`.
    QuitReply shouldTerminate();
    // The desktop ends the program: a bounded guarded quit that always ends in quitting.
    QuitReply shouldEnd();
    bool terminating() const { return m_quit.terminating(); }

Q_SIGNALS:
    void quitAnswered(bool quit);
    // The panel was made (first show); the tray offers its settings from then on.
    void panelCreated(TranslateMac::FloatingSubtitlePanel *panel);

private:
    void overlayChanged();

    ContentFactory m_content;
    QPointer<AppModel> m_model;
    QPointer<FloatingSubtitlePanel> m_panel;
    GuardedQuit m_quit;
    bool m_lastOverlay = false;
};

} // namespace TranslateMac
