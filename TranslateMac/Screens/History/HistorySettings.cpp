#include "TranslateMac/Screens/History/HistorySettings.h"

#include "TranslateMac/Screens/Common/UserDefaults.h"

#include <algorithm>

namespace TranslateMac::HistorySettings {

namespace {
constexpr const char *keepKey = "history/keepLocal";
constexpr const char *retainedKey = "history/retainedSessions";
} // namespace

bool keepsLocalHistory()
{
    return UserDefaults::value(keepKey, true).toBool();
}

void setKeepsLocalHistory(bool keep)
{
    UserDefaults::setValue(keepKey, keep);
}

int retainedSessions()
{
    bool valid = false;
    const int count = UserDefaults::value(retainedKey, defaultRetainedSessions).toInt(&valid);
    return valid ? std::max(count, 1) : defaultRetainedSessions;
}

void setRetainedSessions(int count)
{
    UserDefaults::setValue(retainedKey, std::max(count, 1));
}

} // namespace TranslateMac::HistorySettings
