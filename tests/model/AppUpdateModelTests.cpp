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
        model = std::make_unique<AppUpdateModel>(std::move(dependencies), wallClock);
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
    // Starts a check whose answer waits for the returned promise; `done` is set when it ends.
    OneShot<AppUpdateResult> checkHeld(bool manual)
    {
        const OneShot<AppUpdateResult> held;
        heldAnswer = held;
        [](QCoro::Task<> check, bool *out) -> QCoro::Task<> {
            co_await check;
            *out = true;
        }(model->check(manual), &done);
        return held;
    }

    // The model's clock: virtual time, which the user may also turn back.
    class SettableClock final : public Clock {
    public:
        explicit SettableClock(ManualClock &base) : m_base(base) { }
        Instant now() const override { return m_base.now() - setBack; }
        QCoro::Task<> sleep(std::chrono::milliseconds duration, CancellationToken token) override
        {
            return m_base.sleep(duration, std::move(token));
        }
        std::chrono::seconds setBack { 0 };

    private:
        ManualClock &m_base;
    };

    ManualClock clock;
    SettableClock wallClock { clock };
    AppInstallation installation { "1.0.0", 5 };
    bool installationFails = false;
    AppUpdateResult answer = offering("1.2.0", 12);
    std::exception_ptr failure;
    std::optional<OneShot<AppUpdateResult>> heldAnswer;
    bool openSucceeds = true;
    std::vector<AppInstallation> asks;
    std::vector<QUrl> opened;
    std::unique_ptr<AppUpdateModel> model;
    bool done = false;
};

TEST_F(AppUpdateModelTest, AutomaticChecksRunAtMostEverySixHoursUnlessDemanded)
{
    check(false);
    ASSERT_EQ(asks, std::vector { installation });
    EXPECT_EQ(model->result(), answer);
    clock.advance(5h);
    check(false);
    EXPECT_EQ(asks.size(), 1u);
    clock.advance(1h);
    check(false);
    EXPECT_EQ(asks.size(), 2u);
    check(true); // manual checks are never throttled
    EXPECT_EQ(asks.size(), 3u);
    wallClock.setBack = 24h; // the wall clock turned back does not silence them either
    check(false);
    EXPECT_EQ(asks.size(), 4u);
    answer = offering("1.2.0", 12, true); // a demanded update is checked at every trigger
    check(true);
    check(false);
    EXPECT_EQ(asks.size(), 6u);
}

TEST_F(AppUpdateModelTest, FailedCheckKeepsTheLastAnswerAndRetriesAtTheNextTrigger)
{
    check(false);
    const Instant first = clock.now();
    for (const std::exception_ptr &error :
        { std::make_exception_ptr(NetworkError(QNetworkReply::HostNotFoundError, "down")),
            std::make_exception_ptr(TranslationFailure::invalidResponse()) /* contradicting */ }) {
        clock.advance(6h);
        failure = error;
        check(false);
        EXPECT_EQ(model->status(), AppUpdateModel::checkFailedMessage);
        EXPECT_EQ(model->result(), answer);
        EXPECT_EQ(model->lastCheck(), first);
    }
    failure = nullptr;
    clock.advance(1min);
    check(false);
    EXPECT_EQ(asks.size(), 4u);
    EXPECT_EQ(model->error(), std::nullopt);
    installationFails = true; // an unreadable installation fails without asking
    check(true);
    EXPECT_EQ(asks.size(), 4u);
    EXPECT_EQ(model->error(), AppUpdateModel::checkFailedMessage);
    EXPECT_FALSE(model->checking());
}

TEST_F(AppUpdateModelTest, DismissedReleaseReturnsWithANewerOneButADemandedOneStays)
{
    check(false);
    model->dismiss();
    EXPECT_EQ(model->dismissedRelease(), "1.2.0/12");
    EXPECT_FALSE(model->showPrompt());
    model->openUpdate(); // nothing to open without a due prompt
    EXPECT_TRUE(opened.empty());
    answer = offering("1.3.0", 13);
    check(true);
    EXPECT_EQ(model->dismissedRelease(), std::nullopt);
    EXPECT_TRUE(model->showPrompt());
    answer = offering("1.3.0", 13, true);
    check(true);
    model->dismiss();
    EXPECT_EQ(model->dismissedRelease(), std::nullopt);
    EXPECT_TRUE(model->showPrompt());
}

TEST_F(AppUpdateModelTest, StatusFollowsTheCheck)
{
    OneShot<AppUpdateResult> held = checkHeld(false);
    EXPECT_TRUE(model->checking());
    EXPECT_EQ(model->status(), "正在检查更新…");
    check(true); // a check while one is in flight returns at once, manual or not
    EXPECT_EQ(asks.size(), 1u);
    held.resolve(answer);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return done; }));
    EXPECT_EQ(model->status(), "发现新版 1.2.0");

    for (const auto &[reply, status] : { std::pair { AppUpdateResult {}, "暂未发布更新信息" },
             std::pair { AppUpdateResult { true, false, false, "1.0.0", 5, QUrl(), "" },
                 "已是最新版本" } }) {
        answer = reply;
        check(true);
        EXPECT_EQ(model->status(), status);
        EXPECT_FALSE(model->showPrompt());
    }
}

TEST_F(AppUpdateModelTest, OpeningTheReleaseChecksAgainAtTheNextTrigger)
{
    check(false);
    model->openUpdate();
    EXPECT_EQ(opened, std::vector { *answer.updateURL });
    check(false);
    EXPECT_EQ(asks.size(), 2u);
    openSucceeds = false;
    model->openUpdate();
    EXPECT_EQ(model->error(), AppUpdateModel::openFailedMessage);
}

TEST_F(AppUpdateModelTest, ModelGoneDuringACheckIsLeftAlone)
{
    OneShot<AppUpdateResult> held = checkHeld(true);
    model.reset();
    held.resolve(answer);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return done; }));
}

TEST_F(AppUpdateModelTest, PublishesChanges)
{
    std::vector<std::string> emitted;
    for (const auto &[signal, name] : { std::pair { &AppUpdateModel::resultChanged, "result" },
             { &AppUpdateModel::showPromptChanged, "showPrompt" },
             { &AppUpdateModel::statusChanged, "status" },
             { &AppUpdateModel::dismissedReleaseChanged, "dismissed" } })
        QObject::connect(model.get(), signal, [&emitted, name] { emitted.push_back(name); });
    check(false);
    model->dismiss();
    EXPECT_EQ(emitted,
        (std::vector<std::string> {
            "status", "result", "showPrompt", "status", "dismissed", "showPrompt" }));
}

} // namespace
