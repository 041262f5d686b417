#include "ScreenFixture.h"

#include "TranslateMac/Screens/Workspace/CaptionLag.h"
#include "TranslateMac/Screens/Workspace/LagIndicator.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"

using namespace TranslateMac;
using namespace std::chrono_literals;
using Level = CaptionLag::Level;

namespace {
class LagIndicatorTest : public ScreenTest { };
} // namespace

TEST_F(LagIndicatorTest, LagReadsOnTimeLateAndBehindAtTheBroadcastLimits)
{
    const std::pair<double, Level> cases[] = {
        { 0, Level::onTime },
        { 1.49, Level::onTime },
        { 1.5, Level::late },
        { 2.99, Level::late },
        { 3.0, Level::behind },
        { 40, Level::behind },
    };
    for (const auto &[seconds, level] : cases)
        EXPECT_EQ(CaptionLag::levelOf(seconds), level) << seconds;
    EXPECT_EQ(CaptionLag::text(0.84, 0), "字幕延迟 0.8 秒");
    EXPECT_EQ(CaptionLag::text(3.2, 2), "字幕延迟 3.2 秒 · 2 句待翻译");
}

TEST_F(LagIndicatorTest, OnlySoundNoCaptionHasAnsweredCounts)
{
    const TranslateCore::Instant t0 = clock.now();
    CaptionLag lag;
    lag.noteSound(t0, false); // silence is never late
    EXPECT_EQ(lag.seconds(t0 + 5s), 0);
    lag.noteSound(t0 + 1s, true);
    lag.noteSound(t0 + 2s, true); // still the same unanswered sound
    EXPECT_DOUBLE_EQ(lag.seconds(t0 + 3s), 2.0);
    lag.noteCaptions(t0 + 3s);
    EXPECT_EQ(lag.seconds(t0 + 4s), 0);
}

TEST_F(LagIndicatorTest, CountsTranslationsStillWaiting)
{
    using TranslateCore::Caption;
    const QList<Caption> captions {
        { 1, "done", "完成", true, true }, { 2, "heard", "", true, false },
        { 3, "partly", "部分", false, false },
        { 4, "", "", false, false }, // nothing recognised yet
    };
    EXPECT_EQ(CaptionLag::waitingTranslations(captions), 2);
}

TEST_F(LagIndicatorTest, ShowsAmberThenRedWhileSoundGoesUncaptioned)
{
    signIn();
    TranscriptPane pane(*model);
    pane.resize(860, 480);
    pane.show();
    LagIndicator &lag = pane.lagIndicator();
    EXPECT_FALSE(lag.isVisible()); // only while listening
    startListening();
    ASSERT_TRUE(waitFor([&] { return lag.isVisible(); }));
    sendCaption(5, "asr.final", "We begin.");
    ASSERT_TRUE(waitFor([&] { return model->transcript().captions().size() == 1; }));
    // The service hears the tone but is slow to say anything about it.
    service().control("POST", "/control/socket", { { "withholdCaptions", true } });
    play(440, 1);
    ASSERT_TRUE(waitFor([&] { return model->level() > 0.005; }));
    clock.advance(2s);
    ASSERT_TRUE(waitFor([&] { return lag.level() == Level::late; })) << lag.text().toStdString();
    EXPECT_TRUE(lag.text().startsWith("字幕延迟 2.0 秒")) << lag.text().toStdString();
    EXPECT_EQ(lag.waiting(), 1); // "We begin." has no translation yet
    EXPECT_TRUE(lag.text().endsWith("1 句待翻译"));
    screenshot(pane, "14-lag-amber");
    clock.advance(2s);
    ASSERT_TRUE(waitFor([&] { return lag.level() == Level::behind; }));
    screenshot(pane, "15-lag-red");
    sendCaption(5, "translation.final", "我们开始。");
    ASSERT_TRUE(waitFor([&] { return lag.lagSeconds() == 0; }));
    EXPECT_EQ(lag.level(), Level::onTime);
    EXPECT_EQ(lag.waiting(), 0);
}
