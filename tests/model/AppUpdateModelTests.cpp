#include "TranslateMac/Update/AppUpdateModel.h"

#include "support/TestSupport.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <gtest/gtest.h>

#include <vector>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

AppUpdateResult offering(const QString &version, qint64 build, bool forced = false)
{
    return AppUpdateResult { true, true, forced, version, build,
        QUrl("https://downloads.example.com/quorvel"), "notes" };
}

class AppUpdateModelTest : public ::testing::Test {
protected:
    AppUpdateModelTest()
    {
        AppUpdateModel::Dependencies dependencies;
        dependencies.readInstallation = [this] {
            if (installationFails)
                throw TranslationFailure::invalidResponse();
            return installation;
        };
        dependencies.fetch
            = [this](AppInstallation asked, CancellationToken) { return fetch(std::move(asked)); };
        dependencies.open = [this](const QUrl &url) {
            opened.push_back(url);
            return openSucceeds;
        };
        dependencies.now = [this] { return clock.now() - setBack; };
        model = std::make_unique<AppUpdateModel>(std::move(dependencies));
    }

    QCoro::Task<AppUpdateResult> fetch(AppInstallation asked)
    {
        asks.push_back(asked);
        if (heldAnswer) {
            const OneShot<AppUpdateResult> held = *std::exchange(heldAnswer, std::nullopt);
            co_return co_await held.wait();
        }
        if (failure)
            std::rethrow_exception(failure);
        const AppUpdateResult copy = answer; // co_return moves from what it is given
        co_return copy;
    }

    void check(bool manual) { TestSupport::runTask(model->check(manual)); }

    ManualClock clock;
    std::chrono::seconds setBack { 0 }; // the wall clock turned back by the user
    AppInstallation installation { "1.0.0", 5 };
    bool installationFails = false;
    AppUpdateResult answer = offering("1.2.0", 12);
    std::exception_ptr failure;
    std::optional<OneShot<AppUpdateResult>> heldAnswer;
    bool openSucceeds = true;
    std::vector<AppInstallation> asks;
    std::vector<QUrl> opened;
    std::unique_ptr<AppUpdateModel> model;
};

TEST_F(AppUpdateModelTest, AutomaticChecksRunAtMostEverySixHours)
{
    check(false);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0], installation);
    EXPECT_EQ(model->installation(), installation);
    EXPECT_EQ(model->result(), answer);
    clock.advance(5h);
    check(false);
    EXPECT_EQ(asks.size(), 1u);
    clock.advance(1h);
    check(false);
    EXPECT_EQ(asks.size(), 2u);
    check(true); // manual checks are never throttled
    EXPECT_EQ(asks.size(), 3u);
}

TEST_F(AppUpdateModelTest, DemandedUpdateIsCheckedAtEveryTrigger)
{
    answer = offering("1.2.0", 12, true);
    check(false);
    clock.advance(1min);
    check(false);
    EXPECT_EQ(asks.size(), 2u);
}

TEST_F(AppUpdateModelTest, FailedCheckKeepsTheLastAnswerAndRetriesAtTheNextTrigger)
{
    check(false);
    const Instant first = clock.now();
    clock.advance(6h);
    failure = std::make_exception_ptr(NetworkError(QNetworkReply::HostNotFoundError, "down"));
    check(false);
    EXPECT_EQ(model->error(), AppUpdateModel::checkFailedMessage);
    EXPECT_EQ(model->status(), AppUpdateModel::checkFailedMessage);
    EXPECT_EQ(model->result(), answer);
    EXPECT_EQ(model->lastCheck(), first);
    failure = nullptr;
    clock.advance(1min);
    check(false);
    EXPECT_EQ(asks.size(), 3u);
    EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(AppUpdateModelTest, UnreadableInstallationFailsWithoutAsking)
{
    installationFails = true;
    check(true);
    EXPECT_TRUE(asks.empty());
    EXPECT_EQ(model->error(), AppUpdateModel::checkFailedMessage);
    EXPECT_FALSE(model->checking());
}

TEST_F(AppUpdateModelTest, DismissedReleaseReturnsWithAManualCheck)
{
    check(false);
    EXPECT_TRUE(model->showPrompt());
    model->dismiss();
    EXPECT_EQ(model->dismissedRelease(), "1.2.0/12");
    EXPECT_FALSE(model->showPrompt());
    answer = offering("1.3.0", 13); // a newer release is offered even after a dismissal
    check(true);
    EXPECT_EQ(model->dismissedRelease(), std::nullopt);
    EXPECT_TRUE(model->showPrompt());
}

TEST_F(AppUpdateModelTest, DemandedUpdateCannotBeDismissed)
{
    answer = offering("1.2.0", 12, true);
    check(false);
    model->dismiss();
    EXPECT_EQ(model->dismissedRelease(), std::nullopt);
    EXPECT_TRUE(model->showPrompt());
}

TEST_F(AppUpdateModelTest, StatusFollowsTheCheck)
{
    EXPECT_EQ(model->status(), "查看是否有可用的新版本");
    heldAnswer = OneShot<AppUpdateResult>();
    OneShot<AppUpdateResult> held = *heldAnswer;
    bool done = false;
    [](QCoro::Task<> check, bool *out) -> QCoro::Task<> {
        co_await check;
        *out = true;
    }(model->check(false), &done);
    EXPECT_TRUE(model->checking());
    EXPECT_EQ(model->status(), "正在检查更新…");
    check(true); // a check while one is in flight returns at once, manual or not
    EXPECT_EQ(asks.size(), 1u);
    held.resolve(answer);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return done; }));
    EXPECT_EQ(model->status(), "发现新版 1.2.0");

    const struct {
        const char *description;
        AppUpdateResult answer;
        QString status;
    } cases[] = {
        { "not managed", AppUpdateResult {}, "暂未发布更新信息" },
        { "up to date", AppUpdateResult { true, false, false, "1.0.0", 5, QUrl(), "" },
            "已是最新版本" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        answer = c.answer;
        check(true);
        EXPECT_EQ(model->status(), c.status);
        EXPECT_FALSE(model->showPrompt());
    }
}

TEST_F(AppUpdateModelTest, OpeningTheReleaseChecksAgainAtTheNextTrigger)
{
    check(false);
    model->openUpdate();
    EXPECT_EQ(opened, std::vector { *answer.updateURL });
    EXPECT_EQ(model->lastCheck(), std::nullopt);
    check(false);
    EXPECT_EQ(asks.size(), 2u);

    openSucceeds = false;
    model->openUpdate();
    EXPECT_EQ(model->error(), AppUpdateModel::openFailedMessage);
}

TEST_F(AppUpdateModelTest, OpenDoesNothingWithoutADuePrompt)
{
    check(false);
    model->dismiss();
    model->openUpdate();
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(model->lastCheck().has_value());
}

TEST_F(AppUpdateModelTest, ClockSetBackDoesNotSilenceAutomaticChecks)
{
    check(false);
    setBack = 24h;
    check(false);
    EXPECT_EQ(asks.size(), 2u);
}

TEST_F(AppUpdateModelTest, ModelGoneDuringACheckIsLeftAlone)
{
    heldAnswer = OneShot<AppUpdateResult>();
    OneShot<AppUpdateResult> held = *heldAnswer;
    bool done = false;
    [](QCoro::Task<> check, bool *out) -> QCoro::Task<> {
        co_await check;
        *out = true;
    }(model->check(true), &done);
    model.reset();
    held.resolve(answer);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return done; }));
}

TEST_F(AppUpdateModelTest, PublishesChanges)
{
    std::vector<std::string> emitted;
    const auto record
        = [&](const char *name) { return [&emitted, name] { emitted.push_back(name); }; };
    QObject::connect(model.get(), &AppUpdateModel::resultChanged, record("result"));
    QObject::connect(model.get(), &AppUpdateModel::showPromptChanged, record("showPrompt"));
    QObject::connect(model.get(), &AppUpdateModel::statusChanged, record("status"));
    QObject::connect(model.get(), &AppUpdateModel::dismissedReleaseChanged, record("dismissed"));
    check(false);
    model->dismiss();
    EXPECT_EQ(emitted,
        (std::vector<std::string> {
            "status", "result", "showPrompt", "status", "dismissed", "showPrompt" }));
}

} // namespace
