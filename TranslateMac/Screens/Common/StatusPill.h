#pragma once

#include "TranslateMac/AppModel/ListeningState.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QLabel>

namespace TranslateMac {

// The tint of a listening state: idle neutral; working states accent; trouble warning; the end
// success or danger.
Theme::Tone statusTone(ListeningState state);

// The listening state's text on a tinted capsule.
class StatusPill : public QLabel {
    Q_OBJECT

public:
    explicit StatusPill(QWidget *parent = nullptr);
    void setState(ListeningState state);
    // Light text for dark surfaces (the floating window).
    void setOnDark(bool onDark);
    ListeningState state() const { return m_state; }

private:
    ListeningState m_state = ListeningState::idle;
    bool m_onDark = false;
};

} // namespace TranslateMac
