#pragma once

#include "TranslateMac/AppModel/ListeningState.h"

#include "TranslateCore/Contract/Quote.h"

#include <QString>

#include <array>
#include <optional>

namespace TranslateMac {

class AppModel;

// What the transcript pane decides from the model, kept apart from the widgets that show it.
namespace TranscriptPresenter {

// The model's values the decisions read.
struct Facts {
    ListeningState state = ListeningState::idle;
    bool ownsSession = false;
    bool canStart = false;
    bool sourcesRefreshing = false;
    std::optional<QString> sourceCheckFailure;
    bool accessConfirmed = false;
    bool routeSelected = false;
    bool quoteBusy = false;
    bool accountBusy = false;
    std::optional<TranslateCore::Quote> quote;
    float level = 0;
    qint64 remaining = 0;
    qint64 used = 0;

    static Facts of(const AppModel &model);
};

// A short text with its help text and icon.
struct Hint {
    QString text;
    QString help;
    QString icon; // symbol name; empty for none
    friend bool operator==(const Hint &, const Hint &) = default;
};

// Why a start is not possible right now; nothing when it is, or when a translation is owned.
std::optional<Hint> startHint(const Facts &facts);

// Playback is being received: a level strictly above 0.005.
bool receivingAudio(float level);
QString levelHelp(float level, ListeningState state);
// The accessible value of the level meter.
QString levelValue(float level);
// The heights of the meter's five bars, in points.
std::array<double, 5> meterBarHeights(float level);

struct Usage {
    QString remaining; // "剩余 N 积分"
    std::optional<QString> used; // "−N", while a translation is owned or once points were used
    QString usedHelp; // "本次已用 N 积分"
};
Usage usage(const Facts &facts);

// The start/stop button of the footer.
struct Action {
    enum class Kind { reconcile, start, stop };
    Kind kind;
    QString label;
    QString icon;
    QString help;
    bool enabled = true;
    QString shortcut; // portable key sequence text ("Ctrl+Return"); empty for none
};
Action action(const Facts &facts);
// Runs what the button shows now on `model`: every screen offering it forwards the click here.
void perform(AppModel &model);

// "%02d:%02d:%02d" of the elapsed seconds.
QString elapsedText(qint64 seconds);

} // namespace TranscriptPresenter

} // namespace TranslateMac
