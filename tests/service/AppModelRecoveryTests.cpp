#include "AppModelFixture.h"

#include "TranslateMac/Account/QRLoginModel.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QJsonDocument>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

const QString giveUpText
    = QStringLiteral("连接没能恢复，监听已停止。已产生的用量会按后端实际结算。");
const QString restoredText = QStringLiteral("连接已恢复，中断期间的音频没有上传。");

QString attemptText(int n)
{
    return QStringLiteral("连接已中断，正在重连，第%1 次。").arg(n);
}

} // namespace

class AppModelRecovery : public AppModelScenario {
protected:
    QString ticketPath() const
    {
        return QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(id);
    }
    // Listening with one complete caption, then the service drops the socket.
    void listenThenDrop()
    {
        signIn();
        startListening();
        id = *model->sessionID();
        playCaption(1);
        onSocket({ { "action", "drop" } });
        ASSERT_TRUE(waitFor([&] { return model->notice() == attemptText(1); }));
        EXPECT_EQ(model->state(), State::reconnecting);
    }
    // A voiced stretch closed by silence: the service captions it as segment `seq`.
    void playCaption(qint64 seq)
    {
        play(1000, 15);
        play(0, 4);
        ASSERT_TRUE(waitFor([&] {
            const auto &captions = model->transcript().captions();
            return captions.size() >= seq && captions[seq - 1].complete();
        }));
    }
    qint64 receivedAudio()
    {
        return service().control("GET", "/control/socket/received")["audioBytes"].toInteger();
    }
    void stopAndSettle()
    {
        model->stop();
        ASSERT_TRUE(settledIn(State::completed));
    }

    qint64 id = 0;
};

TEST_F(AppModelRecovery, DroppedSocketRecoversAndCaptionsContinueWithoutDuplicates)
{
    listenThenDrop();
    EXPECT_FALSE(capture->capturing());
    // Audio of the outage never reaches the service.
    EXPECT_EQ(capture->push(TestSupport::pcmFrame(1000)), PushResult::closed);
    const qint64 audioBeforeRestart = receivedAudio();

    clock.advance(499ms);
    TestSupport::drainEvents();
    EXPECT_EQ(requestCount(ticketPath()), 0);
    clock.advance(1ms);
    ASSERT_TRUE(waitForState(State::listening));
    EXPECT_EQ(model->notice(), restoredText);
    EXPECT_EQ(model->sessionID(), id);
    const QJsonObject ticket = service().requestsTo(ticketPath()).value(0);
    EXPECT_EQ(QJsonDocument::fromJson(ticket["body"].toString().toUtf8())["lastReceivedSegmentSeq"]
                  .toInteger(),
        1);
    EXPECT_EQ(receivedAudio(), audioBeforeRestart);

    playCaption(2);
    QList<qint64> sequences;
    for (const Caption &caption : model->transcript().captions())
        sequences << caption.sequence;
    EXPECT_EQ(sequences, (QList<qint64> { 1, 2 }));
    stopAndSettle();
    expectEnd(State::completed, std::nullopt, QStringLiteral("已结束并完成结算。"));
    expectSettled(1);
}

TEST_F(AppModelRecovery, RefusedTicketEndsRecoveryAfterOneAttempt)
{
    for (const int code : { 3013, 3015 }) {
        SCOPED_TRACE(code);
        SetUp();
        listenThenDrop();
        service().fault(ticketPath(),
            { { "httpStatus", 400 }, { "envelope", QJsonObject { { "code", code } } } });
        clock.advance(500ms);
        ASSERT_TRUE(settledIn(State::completed));
        clock.advance(10s);
        TestSupport::drainEvents();
        EXPECT_EQ(requestCount(ticketPath()), 1);
        expectEnd(State::completed, giveUpText, settledNotice);
        expectSettled(1);
        TearDown();
    }
}

TEST_F(AppModelRecovery, ExhaustedRecoveryTriesThreeTimesWithGrowingPauses)
{
    listenThenDrop();
    service().fault(ticketPath(),
        { { "count", 3 }, { "httpStatus", 503 }, { "envelope", QJsonObject { { "code", 503 } } } });
    const struct {
        std::chrono::milliseconds pause;
        QString notice;
    } attempts[]
        = { { 500ms, attemptText(2) }, { 1000ms, attemptText(3) }, { 2000ms, giveUpText } };
    int n = 0;
    for (const auto &attempt : attempts) {
        ++n;
        clock.advance(attempt.pause - 1ms);
        TestSupport::drainEvents();
        EXPECT_EQ(requestCount(ticketPath()), n - 1);
        clock.advance(1ms);
        ASSERT_TRUE(waitFor([&] { return requestCount(ticketPath()) == n; }));
        if (n < 3) {
            ASSERT_TRUE(waitFor([&] { return model->notice() == attempt.notice; }));
        }
    }
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, giveUpText, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelRecovery, SignedOutDuringRecoveryIsPendingUntilTheUserSignsInAgain)
{
    listenThenDrop();
    service().control("POST", "/control/expire-access-tokens");
    service().fault("v1/auth/refresh",
        { { "httpStatus", 401 }, { "envelope", QJsonObject { { "code", 1003 } } } });
    clock.advance(500ms);
    ASSERT_TRUE(waitForState(State::pending));
    EXPECT_EQ(model->error(), signInToSettleError);
    EXPECT_EQ(requestCount(ticketPath()), 1);
    // The client dropped the sign-in: the model says so, so the user can sign in again.
    EXPECT_FALSE(model->loggedIn());
    EXPECT_TRUE(model->ownsSession());

    auto qr = TestSupport::start(model->runQRLogin());
    approveQRSignIn();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] {
        clock.advance(1s);
        return qr->done;
    }));
    EXPECT_TRUE(model->loggedIn());
    TestSupport::runTask(model->reconcileFinish());
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, std::nullopt, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelRecovery, ExpiredAccessTokensDuringASessionNeverSignOut)
{
    listenThenDrop();
    service().control("POST", "/control/expire-access-tokens");
    clock.advance(500ms);
    ASSERT_TRUE(waitForState(State::listening));
    service().control("POST", "/control/expire-access-tokens");
    stopAndSettle();
    EXPECT_TRUE(model->loggedIn());
    EXPECT_GE(requestCount("v1/auth/refresh"), 1);
    EXPECT_TRUE(model->quote().has_value());
    expectEnd(State::completed, std::nullopt, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelRecovery, MissedHeartbeatsStartOneRecovery)
{
    signIn();
    startListening();
    onSocket({ { "action", "stopReading" } }); // pings go unanswered
    for (int tick = 1; tick <= 3; ++tick) {
        clock.advance(15s);
        TestSupport::drainEvents();
        EXPECT_EQ(model->state(), State::listening) << tick;
    }
    clock.advance(15s); // 60 s since the last pong: more than three intervals
    ASSERT_TRUE(waitForState(State::reconnecting));
    EXPECT_EQ(model->notice(), attemptText(1));
    clock.advance(500ms);
    ASSERT_TRUE(waitForState(State::listening));
    EXPECT_EQ(model->notice(), restoredText);
    EXPECT_EQ(requestCount(
                  QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(*model->sessionID())),
        1);
    stopAndSettle();
    expectSettled(1);
}

TEST_F(AppModelRecovery, UploadBacklogEndsTheSessionWithTheQueueText)
{
    signIn();
    startListening();
    onSocket({ { "action", "stopReading" } });
    const QByteArray frame = TestSupport::pcmFrame(1000);
    // One frame per turn of the event loop, as a real capture delivers them: the backlog builds
    // up only because the network no longer takes the audio.
    int offered = 0;
    ASSERT_TRUE(waitFor([&] {
        if (capture->push(frame) == PushResult::ok)
            ++offered;
        return model->state() != State::listening;
    }));
    EXPECT_GT(offered, 30);
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, QStringLiteral("上传速度跟不上播放速度，监听已停止，请检查网络。"),
        settledNotice);
    expectSettled(1);
}

TEST_F(AppModelRecovery, BalanceRunningOutEndsAndSettlesTheSession)
{
    signIn();
    startListening();
    service().control("POST", "/control/balance", { { "phone", phone }, { "points", 5 } });
    play(0, 600); // one minute of audio is charged
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, QStringLiteral("积分已用完，翻译已结束。"), settledNotice);
    EXPECT_EQ(model->wallet(), 0);
    EXPECT_EQ(sessions().first()["status"], "BALANCE_EXHAUSTED");
    expectSettled(1);
}

TEST_F(AppModelRecovery, CaptionsTheSocketNeverDeliveredArriveWithTheSettlement)
{
    signIn();
    startListening();
    id = *model->sessionID();
    play(1000, 15); // a segment still open when the connection breaks
    ASSERT_TRUE(waitFor([&] { return !model->transcript().captions().isEmpty(); }));
    EXPECT_FALSE(model->transcript().captions().first().complete());
    service().fault(
        ticketPath(), { { "httpStatus", 400 }, { "envelope", QJsonObject { { "code", 3013 } } } });
    onSocket({ { "action", "drop" } });
    ASSERT_TRUE(waitForState(State::reconnecting));
    clock.advance(500ms);
    ASSERT_TRUE(settledIn(State::completed));

    const Caption caption = model->transcript().captions().first();
    EXPECT_TRUE(caption.complete());
    EXPECT_EQ(caption.source, "tone 1000 Hz, 1.5 s");
    EXPECT_EQ(caption.target, "1000 赫兹音调，1.5 秒");
    EXPECT_TRUE(model->transcript().finished());
    EXPECT_EQ(model->transcript().ledgerCharged(), sessions().first()["chargedPoints"].toInteger());
    expectSettled(1);
}
