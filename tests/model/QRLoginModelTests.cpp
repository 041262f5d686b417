#include "TranslateMac/Account/QRLoginModel.h"

#include "support/TestSupport.h"

#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

[[maybe_unused]] static void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;
using Phase = QRLoginModel::Phase;

namespace {

// A scripted device-login service: poll answers (or failures) are served in order, then pending.
struct FakeService {
    struct Answer {
        std::optional<DeviceLoginPoll> poll;
        std::exception_ptr error;
    };
    std::optional<DeviceLoginChallenge> challenge;
    std::exception_ptr createError;
    std::deque<Answer> answers;
    std::optional<OneShot<DeviceLoginPoll>> heldPoll; // the next poll waits for this
    std::exception_ptr completeError;

    int polls = 0;
    std::vector<QString> cancelled;
    std::vector<Credentials> completed, discarded;

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
        const Answer next = answers.front();
        answers.pop_front();
        if (next.error)
            std::rethrow_exception(next.error);
        co_return *next.poll;
    }

    QRLoginModel::Service service()
    {
        QRLoginModel::Service s;
        s.create = [this](CancellationToken) { return create(); };
        s.poll = [this](DeviceLoginChallenge, CancellationToken) { return poll(); };
        s.cancel = [this](DeviceLoginChallenge c, CancellationToken) -> QCoro::Task<> {
            cancelled.push_back(c.id);
            co_return;
        };
        s.complete = [this](const Credentials &c, const DeviceLoginChallenge &,
                         const CancellationToken &) {
            if (completeError)
                std::rethrow_exception(completeError);
            completed.push_back(c);
        };
        s.discard = [this](Credentials c, CancellationToken) -> QCoro::Task<> {
            discarded.push_back(c);
            co_return;
        };
        return s;
    }
};

std::exception_ptr networkDown()
{
    return std::make_exception_ptr(
        NetworkError(QNetworkReply::ConnectionRefusedError, "Connection refused"));
}

class QRLoginModelTest : public ::testing::Test {
protected:
    QRLoginModelTest()
    {
        fake.challenge = challengeWith(2, clock.now() + 10min);
        model = std::make_unique<QRLoginModel>(
            fake.service(), [this] { return clock.now(); },
            [this](std::chrono::milliseconds pause, CancellationToken token) {
                pauses.push_back(std::chrono::duration_cast<std::chrono::seconds>(pause).count());
                return clock.sleep(pause, std::move(token));
            });
    }

    ~QRLoginModelTest() override
    {
        // A run still pausing ends once the model is gone; let it unwind while the fixture lives.
        model.reset();
        TestSupport::drainEvents();
        EXPECT_TRUE(finished);
    }

    static DeviceLoginChallenge challengeWith(int interval, Instant expiresAt)
    {
        return DeviceLoginChallenge { QString(22, 'c'), QString(43, 's'), "ABCDEFGH", expiresAt,
            interval, {}, 0 };
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

    ManualClock clock;
    FakeService fake;
    std::vector<long> pauses;
    std::unique_ptr<QRLoginModel> model;
    bool finished = false;
    bool signedIn = false;
    const Credentials credentials { "access", "refresh" };
};

TEST_F(QRLoginModelTest, SignsInAfterApprovalAndCancelsTheUsedChallenge)
{
    fake.answers = { { DeviceLoginPoll::pending(3), {} }, { DeviceLoginPoll::pending(), {} },
        { DeviceLoginPoll::authorized(credentials), {} } };
    start();
    EXPECT_EQ(model->phase(), Phase::waiting);
    EXPECT_EQ(model->challenge(), fake.challenge);
    EXPECT_EQ(fake.polls, 0); // the first poll comes one interval after the code is shown
    advance(2s);
    advance(3s); // pending with interval 3
    advance(2s); // pending without one: the challenge's interval again
    ASSERT_TRUE(finished);
    EXPECT_TRUE(signedIn);
    EXPECT_EQ(pauses, (std::vector<long> { 2, 3, 2 }));
    EXPECT_EQ(model->phase(), Phase::completed);
    EXPECT_EQ(model->challenge(), std::nullopt);
    EXPECT_FALSE(model->isRunning());
    EXPECT_EQ(fake.completed, std::vector { credentials });
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
    EXPECT_TRUE(fake.discarded.empty());
}

TEST_F(QRLoginModelTest, TransientFailuresDoubleThePauseUpToFifteenSeconds)
{
    fake.answers = { { {}, networkDown() },
        { {}, std::make_exception_ptr(TranslationFailure::rejected(503)) },
        { {}, std::make_exception_ptr(TranslationFailure::rejected(5001)) } };
    start();
    advance(2s);
    EXPECT_EQ(model->phase(), Phase::recovering);
    EXPECT_EQ(model->message(), QRLoginModel::retryMessage);
    advance(4s);
    advance(8s);
    advance(15s); // answered pending: back to waiting, pause reset to the interval
    EXPECT_EQ(pauses, (std::vector<long> { 2, 4, 8, 15, 2 }));
    EXPECT_EQ(model->phase(), Phase::waiting);
    EXPECT_EQ(model->message(), std::nullopt);
    EXPECT_FALSE(finished);
}

TEST_F(QRLoginModelTest, RetryPauseNeverDropsBelowALongInterval)
{
    fake.challenge = challengeWith(15, clock.now() + 10min);
    fake.answers = { { {}, networkDown() }, { {}, networkDown() } };
    start();
    advance(15s);
    advance(15s);
    EXPECT_EQ(pauses, (std::vector<long> { 15, 15, 15 }));
}

TEST_F(QRLoginModelTest, PastExpiryEndsWithoutPollingAndStillCancelsTheChallenge)
{
    fake.challenge = challengeWith(2, clock.now());
    start();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(signedIn);
    EXPECT_EQ(model->phase(), Phase::expired);
    EXPECT_EQ(model->challenge(), std::nullopt);
    EXPECT_EQ(fake.polls, 0);
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
}

TEST_F(QRLoginModelTest, ExpiryDuringThePauseEndsBeforeThePoll)
{
    fake.challenge = challengeWith(5, clock.now() + 4s);
    start();
    advance(5s);
    ASSERT_TRUE(finished);
    EXPECT_EQ(model->phase(), Phase::expired);
    EXPECT_EQ(fake.polls, 0);
}

TEST_F(QRLoginModelTest, FinalAnswersEndTheRun)
{
    const struct {
        const char *description;
        DeviceLoginPoll answer;
        Phase phase;
    } cases[] = {
        { "refused on the phone", DeviceLoginPoll::rejected(), Phase::rejected },
        { "challenge used up", DeviceLoginPoll::expired(), Phase::expired },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        fake.answers = { { c.answer, {} } };
        fake.cancelled.clear();
        finished = false;
        start();
        advance(2s);
        ASSERT_TRUE(finished);
        EXPECT_FALSE(signedIn);
        EXPECT_EQ(model->phase(), c.phase);
        EXPECT_EQ(model->challenge(), std::nullopt);
        EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
    }
}

TEST_F(QRLoginModelTest, CancelDuringAnAuthorizedPollDiscardsTheCredentials)
{
    OneShot<DeviceLoginPoll> poll;
    fake.heldPoll = poll;
    start();
    advance(2s);
    ASSERT_EQ(fake.polls, 1);
    model->cancel();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->challenge(), std::nullopt);
    EXPECT_FALSE(model->isRunning());
    poll.resolve(DeviceLoginPoll::authorized(credentials));
    TestSupport::drainEvents();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(signedIn);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_TRUE(fake.completed.empty());
    EXPECT_EQ(fake.discarded, std::vector { credentials });
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
}

TEST_F(QRLoginModelTest, ModelGoneDuringAPollSendsNothingMore)
{
    OneShot<DeviceLoginPoll> poll;
    fake.heldPoll = poll;
    start();
    advance(2s);
    model.reset(); // its client goes with it: no clean-up call may reach the service any more
    poll.resolve(DeviceLoginPoll::authorized(credentials));
    TestSupport::drainEvents();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(fake.completed.empty());
    EXPECT_TRUE(fake.discarded.empty());
    EXPECT_TRUE(fake.cancelled.empty());
}

TEST_F(QRLoginModelTest, SignInChangedMeanwhileRefusesAndDiscardsTheCredentials)
{
    fake.completeError = std::make_exception_ptr(CancellationError());
    fake.answers = { { DeviceLoginPoll::authorized(credentials), {} } };
    start();
    advance(2s);
    ASSERT_TRUE(finished);
    EXPECT_FALSE(signedIn);
    EXPECT_EQ(model->phase(), Phase::failed);
    EXPECT_EQ(model->message(), QRLoginModel::fallbackFailureMessage);
    EXPECT_EQ(fake.discarded, std::vector { credentials });
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
}

TEST_F(QRLoginModelTest, CancelEndsThePauseAndANewRunStartsOver)
{
    start();
    model->cancel();
    TestSupport::drainEvents();
    ASSERT_TRUE(finished);
    EXPECT_EQ(clock.sleeperCount(), 0u);
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
    finished = false;
    start();
    EXPECT_EQ(model->phase(), Phase::waiting);
    EXPECT_TRUE(model->challenge().has_value());
}

TEST_F(QRLoginModelTest, SecondRunWhileOneIsInProgressChangesNothing)
{
    start();
    bool second = true;
    [](QCoro::Task<bool> run, bool *out) -> QCoro::Task<> { *out = co_await run; }(
                                             model->run(), &second);
    TestSupport::drainEvents();
    EXPECT_FALSE(second);
    EXPECT_EQ(model->phase(), Phase::waiting);
    EXPECT_FALSE(finished);
    EXPECT_EQ(clock.sleeperCount(), 1u);
}

TEST_F(QRLoginModelTest, CallerCancellationStopsTheRun)
{
    CancellationSource caller;
    start(caller.token());
    caller.cancel();
    TestSupport::drainEvents();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(model->isRunning());
    EXPECT_EQ(model->challenge(), std::nullopt);
    EXPECT_EQ(fake.polls, 0);
    EXPECT_EQ(fake.cancelled, std::vector { fake.challenge->id });
}

TEST_F(QRLoginModelTest, FailuresShowTheirMessage)
{
    const struct {
        const char *description;
        std::exception_ptr createError;
        std::exception_ptr pollError;
        QString message;
    } cases[] = {
        { "service without desktop QR login",
            std::make_exception_ptr(DeviceLoginFailure::upgradeRequired()), {},
            "扫码登录服务尚未升级，请先使用验证码登录。" },
        { "creation is not retried", networkDown(), {}, "网络请求失败，请检查网络后重试。" },
        { "no description", std::make_exception_ptr(std::runtime_error("x")), {},
            QRLoginModel::fallbackFailureMessage },
        { "malformed poll answer", {},
            std::make_exception_ptr(TranslationFailure::invalidResponse()),
            TranslationFailure::invalidResponse().errorDescription() },
        { "signed out is not transient", {},
            std::make_exception_ptr(TranslationFailure::signedOut()),
            TranslationFailure::signedOut().errorDescription() },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        fake.createError = c.createError;
        fake.answers = { { {}, c.pollError } };
        fake.polls = 0;
        finished = false;
        start();
        if (!c.createError)
            advance(2s);
        ASSERT_TRUE(finished);
        EXPECT_EQ(model->phase(), Phase::failed);
        EXPECT_EQ(model->message(), c.message);
        EXPECT_EQ(model->challenge(), std::nullopt);
        EXPECT_EQ(fake.polls, c.createError ? 0 : 1);
    }
}

TEST(QRLoginModelTransience, OnlyNetworkInterruptionsAndServerErrorsAreRetried)
{
    const auto rejected
        = [](qint64 code) { return std::make_exception_ptr(TranslationFailure::rejected(code)); };
    const auto network = [](QNetworkReply::NetworkError code) {
        return std::make_exception_ptr(NetworkError(code, {}));
    };
    const struct {
        const char *description;
        std::exception_ptr error;
        bool transient;
    } cases[] = {
        { "connection refused", network(QNetworkReply::ConnectionRefusedError), true },
        { "request timed out", network(QNetworkReply::OperationCanceledError), true },
        { "TLS failure", network(QNetworkReply::SslHandshakeFailedError), true },
        { "unsupported address", network(QNetworkReply::ProtocolUnknownError), false },
        { "HTTP 500", rejected(500), true },
        { "HTTP 599", rejected(599), true },
        { "service busy 5000", rejected(5000), true },
        { "service busy 5001", rejected(5001), true },
        { "HTTP 499", rejected(499), false },
        { "HTTP 600", rejected(600), false },
        { "code 5002", rejected(5002), false },
        { "time-out", std::make_exception_ptr(TranslationFailure::timeout()), false },
        { "signed out", std::make_exception_ptr(TranslationFailure::signedOut()), false },
        { "cancelled", std::make_exception_ptr(CancellationError()), false },
        { "upgrade required", std::make_exception_ptr(DeviceLoginFailure::upgradeRequired()),
            false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(QRLoginModel::isTransient(c.error), c.transient);
    }
}

} // namespace
