#include "TranslateMac/Screens/Common/StatusPill.h"

namespace TranslateMac {

Theme::Tone statusTone(ListeningState state)
{
    switch (state) {
    case ListeningState::idle:
        return Theme::Tone::neutral;
    case ListeningState::preparing:
    case ListeningState::connecting:
    case ListeningState::listening:
    case ListeningState::stopping:
        return Theme::Tone::accent;
    case ListeningState::reconnecting:
    case ListeningState::pending:
        return Theme::Tone::warning;
    case ListeningState::completed:
        return Theme::Tone::success;
    case ListeningState::failed:
        return Theme::Tone::danger;
    }
    return Theme::Tone::neutral;
}

StatusPill::StatusPill(QWidget *parent) : QLabel(parent)
{
    setFont(Theme::font(10, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setState(ListeningState::idle);
}

void StatusPill::setOnDark(bool onDark)
{
    m_onDark = onDark;
    setState(m_state);
}

void StatusPill::setState(ListeningState state)
{
    m_state = state;
    setText(rawValue(state));
    const QColor tint = Theme::tint(statusTone(state));
    setStyleSheet(QStringLiteral("QLabel { color: %1; background: rgba(%2, %3, %4, 38);"
                                 " border-radius: 10px; padding: 3px 10px; }")
                      .arg((m_onDark ? tint.lighter(160) : tint.darker(115)).name())
                      .arg(tint.red())
                      .arg(tint.green())
                      .arg(tint.blue()));
}

} // namespace TranslateMac
