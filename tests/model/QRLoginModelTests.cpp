#include "TranslateMac/Account/QRLoginModel.h"

#include "support/TestSupport.h"

#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <tuple>
#include <variant>
#include <vector>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;
using Phase = QRLoginModel::Phase;
using Shown = std::pair<Phase, std::optional<QString>>;

namespace {

std::exception_ptr network(QNetworkReply::NetworkError code = QNetworkReply::ConnectionRefusedError)
{
    return std::make_exception_ptr(NetworkError(code, "down"));
}
std::exception_ptr rejected(qint64 code)
{
    return std::make_exception_ptr(TranslationFailure::rejected(code));
}

QCoro::Task<> nothing()
{
    co_return;
}

// A model over a scripted device-login service: poll answers (or failures) are served in order,
// then pending.
class QRLoginModelTest : public ::testing::Test {
protected:
    QRLoginModelTest()
    {
        model = std::make_unique<QRLoginModel>(
            QRLoginModel::Service { .create = [this](CancellationToken) { return create(); },
                .poll = [this](DeviceLoginChallenge, CancellationToken) { return poll(); },
                .cancel =
                    [this](DeviceLoginChallenge c, CancellationToken) {
                        cancelled.push_back(c.id);
                        return nothing();
                    },
                .complete =
                    [this](const Credentials &c, const DeviceLoginChallenge &,
                        const CancellationToken &) {
                        if (completeError)
                            std::rethrow_exception(completeError);
                        completed.push_back(c);
                    },
                .discard =
                    [this](Credentials c, CancellationToken) {
                        discarded.push_back(c);
                        return nothing();
                    } },
            [this] { return clock.now(); },
            [this](std::chrono::milliseconds pause, CancellationToken token) {
                pauses.push_back(std::chrono::duration_cast<std::chrono::seconds>(pause).count());
                return clock.sleep(pause, std::move(token));
            });
        again();
    }
    ~QRLoginModelTest() override
    {
        // A run still pausing ends once the model is gone; let it unwind while the fixture lives.
        model.reset();
        TestSupport::drainEvents();
        EXPECT_TRUE(finished);
    }

    QCoro::Task<DeviceLoginChallenge> create()
    {
        if (createError)
            std::rethrow_exception(createError);
        DeviceLoginChallenge issued = *challenge; // co_return moves from what it is given
        co_return issued;
    }
    QCoro::Task<DeviceLoginPoll> poll()
    {
        ++polls;
        if (heldPoll) {
            const OneShot<DeviceLoginPoll> held = *std::exchange(heldPoll, std::nullopt);
            co_return co_await held.wait();
        }
        if (answers.empty())
            co_return DeviceLoginPoll::pending();
        const auto next = answers.front();
        answers.pop_front();
        if (const auto *error = std::get_if<std::exception_ptr>(&next))
            std::rethrow_exception(*error);
        co_return std::get<DeviceLoginPoll>(next);
    }

    // A fresh service script for the next run: a challenge of `interval` s that expires after
    // `expiresIn`.
    void again(int interval = 2, std::chrono::seconds expiresIn = 10min)
    {
        challenge = DeviceLoginChallenge { QString(22, 'c'), QString(43, 's'), "ABCDEFGH",
            clock.now() + expiresIn, interval, {}, 0 };
        answers.clear();
        polls = 0;
        cancelled.clear();
        discarded.clear();
        pauses.clear();
        finished = false;
    }
    // Starts a run; `finished` and `signedIn` tell how it ended.
    void start(CancellationToken token = {})
    {
        [](QCoro::Task<bool> run, QRLoginModelTest *test) -> QCoro::Task<> {
            test->signedIn = co_await run;
            test->finished = true;
        }(model->run(std::move(token)), this);
        TestSupport::drainEvents();
    }
    void advance(std::chrono::seconds by)
    {
        clock.advance(by);
        TestSupport::drainEvents();
    }
    Shown shown() const { return { model->phase(), model->message() }; }
    void expectEndedWithTheChallengeCancelled()
    {
        ASSERT_TRUE(finished);
        EXPECT_FALSE(signedIn);
        EXPECT_EQ(model->challenge(), std::nullopt);
        EXPECT_EQ(cancelled, std::vector { challenge->id });
    }

    ManualClock clock;
    std::optional<DeviceLoginChallenge> challenge;
    std::exception_ptr createError, completeError;
    std::deque<std::variant<DeviceLoginPoll, std::exception_ptr>> answers;
    std::optional<OneShot<DeviceLoginPoll>> heldPoll; // the next poll waits for this
    int polls = 0;
    std::vector<QString> cancelled;
    std::vector<Credentials> completed, discarded;
    std::vector<long> pauses;
    std::unique_ptr<QRLoginModel> model;
    bool finished = false;
    bool signedIn = false;
    const Credentials credentials { "access", "refresh" };
};

TEST_F(QRLoginModelTest, SignsInAfterApprovalAndCancelsTheUsedChallenge)
{
    answers = { DeviceLoginPoll::pending(3), DeviceLoginPoll::pending(),
        DeviceLoginPoll::authorized(credentials) };
    start();
    EXPECT_EQ(model->phase(), Phase::waiting);
    EXPECT_EQ(model->challenge(), challenge);
    EXPECT_EQ(polls, 0); // the first poll comes one interval after the code is shown
    advance(2s);
    advance(3s); // pending with interval 3
    advance(2s); // pending without one: the challenge's interval again
    ASSERT_TRUE(finished);
    EXPECT_TRUE(signedIn);
    EXPECT_EQ(pauses, (std::vector<long> { 2, 3, 2 }));
    EXPECT_EQ(model->phase(), Phase::completed);
    EXPECT_EQ(completed, std::vector { credentials });
    EXPECT_EQ(cancelled, std::vector { challenge->id });
    EXPECT_TRUE(discarded.empty());
}

TEST_F(QRLoginModelTest, TransientFailuresDoubleThePauseUpToFifteenSecondsNotBelowTheInterval)
{
    for (const std::vector<long> &expected :
        { std::vector<long> { 2, 4, 8, 15, 2 }, std::vector<long> { 15, 15, 15, 15, 15 } }) {
        SCOPED_TRACE(expected[0]);
        again(expected[0]);
        answers = { network(), rejected(503), rejected(5001) };
        start();
        advance(std::chrono::seconds(expected[0]));
        EXPECT_EQ(shown(), Shown(Phase::recovering, QRLoginModel::retryMessage));
        for (std::size_t i = 1; i + 1 < expected.size(); ++i)
            advance(std::chrono::seconds(expected[i])); // the last answer is pending
        EXPECT_EQ(pauses, expected);
        EXPECT_EQ(shown(), Shown(Phase::waiting, std::nullopt));
        model->cancel();
        TestSupport::drainEvents();
    }
}

TEST_F(QRLoginModelTest, ExpiryOrAFinalAnswerEndsTheRunAndCancelsTheChallenge)
{
    const std::tuple<int, std::chrono::seconds, std::optional<DeviceLoginPoll>, Phase> cases[] = {
        { 2, 0s, std::nullopt, Phase::expired }, // expired before the first poll
        { 2, 10min, DeviceLoginPoll::rejected(), Phase::rejected },
        { 2, 10min, DeviceLoginPoll::expired(), Phase::expired },
    };
    for (const auto &[interval, expiresIn, answer, phase] : cases) {
        SCOPED_TRACE(int(phase) * 100 + interval);
        again(interval, expiresIn);
        if (answer)
            answers.push_back(*answer);
        start();
        advance(std::chrono::seconds(interval));
        expectEndedWithTheChallengeCancelled();
        EXPECT_EQ(model->phase(), phase);
        EXPECT_EQ(polls, answer ? 1 : 0);
    }
}

TEST_F(QRLoginModelTest, ApprovedCredentialsThatCannotBeUsedAreRevoked)
{
    for (const bool byCancel : { true, false }) {
        SCOPED_TRACE(byCancel ? "cancelled during the poll" : "sign-in changed meanwhile");
        again();
        OneShot<DeviceLoginPoll> poll;
        if (byCancel)
            heldPoll = poll;
        completeError = byCancel ? nullptr : std::make_exception_ptr(CancellationError());
        answers = { DeviceLoginPoll::authorized(credentials) };
        start();
        advance(2s);
        if (byCancel) {
            model->cancel();
            EXPECT_FALSE(model->isRunning());
            poll.resolve(DeviceLoginPoll::authorized(credentials));
            TestSupport::drainEvents();
        } else {
            EXPECT_EQ(model->message(), QRLoginModel::fallbackFailureMessage);
        }
        expectEndedWithTheChallengeCancelled();
        EXPECT_EQ(model->phase(), byCancel ? Phase::idle : Phase::failed);
        EXPECT_TRUE(completed.empty());
        EXPECT_EQ(discarded, std::vector { credentials });
    }
}

TEST_F(QRLoginModelTest, ModelGoneDuringAPollSendsNothingMore)
{
    OneShot<DeviceLoginPoll> poll;
    heldPoll = poll;
    start();
    advance(2s);
    model.reset(); // its client goes with it: no clean-up call may reach the service any more
    poll.resolve(DeviceLoginPoll::authorized(credentials));
    TestSupport::drainEvents();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(completed.empty() && discarded.empty() && cancelled.empty());
}

TEST_F(QRLoginModelTest, CancelOrCallerCancellationEndsThePause)
{
    for (const bool byCaller : { false, true }) {
        SCOPED_TRACE(byCaller ? "caller" : "cancel()");
        CancellationSource caller;
        again();
        start(caller.token());
        byCaller ? caller.cancel() : model->cancel();
        TestSupport::drainEvents();
        expectEndedWithTheChallengeCancelled();
        EXPECT_EQ(clock.sleeperCount(), 0u);
        EXPECT_EQ(polls, 0);
    }
}

TEST_F(QRLoginModelTest, FailuresShowTheirMessage)
{
    const auto failure = [](auto error) { return std::make_exception_ptr(error); };
    const std::tuple<std::exception_ptr, bool, QString> cases[] = {
        // failure, at creation, message
        { failure(DeviceLoginFailure::upgradeRequired()), true,
            "扫码登录服务尚未升级，请先使用验证码登录。" },
        { network(), true, "网络请求失败，请检查网络后重试。" }, // creation is not retried
        { failure(TranslationFailure::invalidResponse()), false,
            TranslationFailure::invalidResponse().errorDescription() },
    };
    for (const auto &[error, atCreation, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        again();
        createError = atCreation ? error : nullptr;
        answers = { error };
        start();
        if (!atCreation)
            advance(2s);
        ASSERT_TRUE(finished);
        EXPECT_EQ(shown(), Shown(Phase::failed, message));
        EXPECT_EQ(polls, atCreation ? 0 : 1);
    }
}

TEST(QRLoginModelTransience, OnlyNetworkInterruptionsAndServerErrorsAreRetried)
{
    const std::pair<std::exception_ptr, bool> cases[] = {
        { network(QNetworkReply::ConnectionRefusedError), true },
        { network(QNetworkReply::OperationCanceledError), true },
        { network(QNetworkReply::ProtocolUnknownError), false },
        { rejected(500), true },
        { rejected(599), true },
        { rejected(5000), true },
        { rejected(5001), true },
        { rejected(5002), false },
        { std::make_exception_ptr(TranslationFailure::signedOut()), false },
        { std::make_exception_ptr(CancellationError()), false },
    };
    int row = 0;
    for (const auto &[error, transient] : cases) {
        SCOPED_TRACE(row++);
        EXPECT_EQ(QRLoginModel::isTransient(error), transient);
    }
}

} // namespace
