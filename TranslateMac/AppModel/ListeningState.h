#pragma once

#include <QString>

#include <array>
#include <optional>

namespace TranslateMac {

// Where a translation stands. The raw values are the status texts the screens show verbatim.
enum class ListeningState {
    idle,
    preparing,
    connecting,
    listening,
    reconnecting,
    stopping,
    pending,
    completed,
    failed,
};

inline constexpr std::array<ListeningState, 9> allListeningStates { ListeningState::idle,
    ListeningState::preparing, ListeningState::connecting, ListeningState::listening,
    ListeningState::reconnecting, ListeningState::stopping, ListeningState::pending,
    ListeningState::completed, ListeningState::failed };

QString rawValue(ListeningState state);
// The state whose status text is `rawValue`; nothing for any other text.
std::optional<ListeningState> listeningStateFromRawValue(const QString &rawValue);

} // namespace TranslateMac
