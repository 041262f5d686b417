#include "AppModelFixture.h"

using namespace TranslateMac;

// Rules of the model's own that hold without any window showing it.
namespace {
const QString quotePath = QStringLiteral("v1/translation/quote");
const QString updateCheckPath = QStringLiteral("v1/app-updates/check");
} // namespace

TEST_F(AppModelScenario, ChoosingADirectionAsksForItsQuote)
{
    signIn();
    const int before = requestCount(quotePath);
    model->setSelectedRoute("JA_ZH");
    ASSERT_TRUE(
        waitFor([&] { return requestCount(quotePath) == before + 1 && !model->quoteBusy(); }));
    ASSERT_TRUE(model->quote().has_value());
    EXPECT_EQ(model->quote()->pointsPerMinute, 12);
    model->swapDirection(); // 中文 → 日本語 is not offered: no new direction, no new quote
    EXPECT_EQ(requestCount(quotePath), before + 1);
}

TEST_F(AppModelScenario, SigningOutHidesTheFloatingSubtitles)
{
    signIn();
    model->setOverlayVisible(true);
    TestSupport::runTask(model->logout());
    EXPECT_FALSE(model->loggedIn());
    EXPECT_FALSE(model->overlayVisible());
}

TEST_F(AppModelScenario, TheEndOfATranslationChecksForUpdates)
{
    signIn();
    startListening();
    const int before = requestCount(updateCheckPath);
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    EXPECT_TRUE(waitFor([&] { return requestCount(updateCheckPath) == before + 1; }));
}
