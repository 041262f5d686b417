#pragma once

namespace TranslateMac::HistorySettings {

// The local history's own settings, kept across launches. They are independent of "云端历史",
// which only tells the service whether to keep its own copy.

// Whether new sessions are recorded in the journal on this computer (on by default).
bool keepsLocalHistory();
void setKeepsLocalHistory(bool keep);

// How many of the newest sessions the journal keeps (100 by default, at least 1).
inline constexpr int defaultRetainedSessions = 100;
int retainedSessions();
void setRetainedSessions(int count);

} // namespace TranslateMac::HistorySettings
