#include "AppModelFixture.h"
#include "support/AppModelTestSeam.h"

#include "support/AudioTestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Async/OneShot.h"

#include <QJsonDocument>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

const QString timeoutText = QStringLiteral("翻译服务没有及时响应，请重试。");
const QString invalidText = QStringLiteral("翻译服务返回了无法识别的数据，请重试。");
const QString serviceErrorText = QStringLiteral("翻译连接遇到错误，已停止监听。");
const QString audioFormatText = QStringLiteral("系统音频格式无法转换，请重新选择音源。");

} // namespace

TEST_F(AppModelScenario, StopDuringPreparationCreatesNoSession)
{
    signIn();
    capture->prepareGate.emplace();
    beginStart();
    ASSERT_EQ(model->state(), State::preparing);
    model->stop();
    ASSERT_TRUE(waitForState(State::completed));
    capture->prepareGate->resolve();
    ASSERT_TRUE(waitFor([&] { return started->done; }));

    expectEnd(State::completed, std::nullopt, std::nullopt);
    EXPECT_EQ(requestCount("v1/translation/sessions"), 0);
    expectSettled(0);
}

TEST_F(AppModelScenario, StopWhileCreatingFinishesTheCreatedSessionAtOnce)
{
    signIn();
    service().fault("v1/translation/sessions", { { "delayMs", 400 } });
    beginStart();
    ASSERT_TRUE(waitFor([&] { return requestCount("v1/translation/sessions") == 1; }));
    model->stop();
    ASSERT_TRUE(waitFor([&] { return started->done; }));

    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, std::nullopt, settledNotice);
    EXPECT_EQ(
        requestCount(QStringLiteral("v1/translation/sessions/%1/finish").arg(firstSessionID())), 1);
    expectSettled(1);
}

TEST_F(AppModelScenario, ReadyDeadlineSettlesTheSessionWithTheTimeoutText)
{
    signIn();
    service().control("POST", "/control/socket", { { "withholdReady", true } });
    beginStart();
    ASSERT_TRUE(waitForState(State::connecting));
    onSocket({ { "action", "resumeReading" } }); // the socket is open on the service's side
    clock.advance(14999ms);
    TestSupport::drainEvents();
    EXPECT_EQ(model->state(), State::connecting);
    clock.advance(1ms);

    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, timeoutText, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelScenario, MalformedReadyFailsTheConnectionAndSettles)
{
    const struct {
        const char *name;
        QJsonValue sessionId; // Undefined: the created session's id
        qint64 interval;
        bool accepted;
    } cases[] = {
        { "foreign session", 999999, 1000, false },
        { "interval 0", QJsonValue::Undefined, 0, false },
        { "interval 60001", QJsonValue::Undefined, 60001, false },
        { "interval 1", QJsonValue::Undefined, 1, true },
        { "interval 60000", QJsonValue::Undefined, 60000, true },
    };
    signIn();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        service().control("POST", "/control/socket", { { "withholdReady", true } });
        beginStart();
        ASSERT_TRUE(waitForState(State::connecting));
        const qint64 id = *model->sessionID();
        onSocket({ { "action", "send" },
            { "event",
                QJsonObject { { "type", "session.ready" },
                    { "sessionId", c.sessionId.isUndefined() ? QJsonValue(id) : c.sessionId },
                    { "heartbeatIntervalMs", c.interval } } } });
        if (c.accepted) {
            ASSERT_TRUE(waitForState(State::listening));
            model->stop();
            ASSERT_TRUE(settledIn(State::completed));
            EXPECT_EQ(model->error(), std::nullopt);
        } else {
            ASSERT_TRUE(settledIn(State::completed));
            expectEnd(State::completed, invalidText, settledNotice);
        }
        ASSERT_TRUE(waitFor([&] { return started->done; }));
        service().control("POST", "/control/socket", { { "withholdReady", false } });
    }
    expectSettled(5);
}

TEST_F(AppModelScenario, ServiceEventsThatEndTheSession)
{
    const struct {
        const char *name;
        QJsonObject event;
        QString error;
    } cases[] = {
        { "error with code", { { "type", "error" }, { "code", "PROVIDER_TIMEOUT" } },
            QStringLiteral("翻译服务暂时无法处理音频，已停止监听。") },
        { "error without code", { { "type", "error" } }, serviceErrorText },
        { "fallback to a mock",
            { { "type", "provider.fallback" }, { "toProvider", "backup-MoCk-2" } },
            serviceErrorText },
        { "spoken output", { { "type", "tts.start" } }, audioFormatText },
    };
    signIn();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        startListening();
        onSocket({ { "action", "send" }, { "event", c.event } });
        ASSERT_TRUE(settledIn(State::completed));
        expectEnd(State::completed, c.error, settledNotice);
    }
    expectSettled(4);
}

TEST_F(AppModelScenario, NoticesAndIgnoredEventsKeepListening)
{
    const struct {
        QJsonObject event;
        std::optional<QString> notice;
    } cases[] = {
        { { { "type", "balance.warning" } },
            QStringLiteral("积分即将用完，请及时在手机 App 中充值。") },
        { { { "type", "provider.reconnecting" } },
            QStringLiteral("翻译服务正在恢复，字幕可能稍有延迟。") },
        { { { "type", "provider.fallback" }, { "toProvider", "backup" } },
            QStringLiteral("翻译服务已切换到备用线路。") },
        { { { "type", "server.busy" } },
            QStringLiteral("翻译服务正在处理积压音频，请放慢播放速度。") },
        { { { "type", "provider.reconnected" } }, std::nullopt },
        { { { "type", "error" }, { "code", "TTS_PROVIDER_UNAVAILABLE" } }, std::nullopt },
    };
    signIn();
    startListening();
    for (const auto &c : cases) {
        SCOPED_TRACE(QJsonDocument(c.event).toJson().toStdString());
        onSocket({ { "action", "send" }, { "event", c.event } });
        ASSERT_TRUE(waitFor([&] { return model->notice() == c.notice; }));
        EXPECT_EQ(model->state(), State::listening);
    }
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
}

TEST_F(AppModelScenario, BinaryFrameFromTheServiceEndsTheSession)
{
    signIn();
    startListening();
    onSocket({ { "action", "send" }, { "binaryBytes", 64 } });
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, audioFormatText, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelScenario, StopUploadsFlushedAudioBeforeFinishingAndShowsTheCharge)
{
    signIn();
    const qint64 before = model->wallet();
    startListening();
    EXPECT_EQ(model->remaining(), model->transcript().remaining());
    play(1000, 15);
    play(0, 4);
    ASSERT_TRUE(waitFor([&] {
        return !model->transcript().captions().isEmpty()
            && model->transcript().captions().first().complete();
    }));
    capture->flushPackets = { TestSupport::pcmFrame(0, 800) };
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, std::nullopt, settledNotice);

    // The flushed half frame is the last audio before "input.flush" and "session.finish".
    const QJsonArray frames
        = service().control("GET", "/control/socket/received")["frames"].toArray();
    QStringList tail;
    for (qsizetype i = frames.size() - 3; i < frames.size(); ++i) {
        const QJsonObject frame = frames[i].toObject();
        tail << (frame["kind"] == "binary"
                ? QString::number(frame["size"].toInteger())
                : QJsonDocument::fromJson(frame["text"].toString().toUtf8())["type"].toString());
    }
    EXPECT_EQ(tail, QStringList({ "1600", "input.flush", "session.finish" }));
    EXPECT_EQ(model->transcript().captions().first().source, "tone 1000 Hz, 1.5 s");
    EXPECT_EQ(model->wallet(), before - 10);
    EXPECT_EQ(model->remaining(), model->wallet());
    EXPECT_EQ(
        requestCount(QStringLiteral("v1/translation/sessions/%1/finish").arg(firstSessionID())), 0);
    expectSettled(1);
}

TEST_F(AppModelScenario, MissingServerFinishIsSettledOverHttpAfterTwelveSeconds)
{
    signIn();
    service().control("POST", "/control/socket", { { "withholdFinished", true } });
    startListening();
    model->stop();
    ASSERT_TRUE(waitForFinishDeadline());
    const QString finish
        = QStringLiteral("v1/translation/sessions/%1/finish").arg(*model->sessionID());
    clock.advance(11999ms);
    TestSupport::drainEvents();
    EXPECT_EQ(requestCount(finish), 0);
    clock.advance(1ms);

    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, std::nullopt, settledNotice);
    EXPECT_EQ(requestCount(finish), 1);
    expectSettled(1);
}

TEST_F(AppModelScenario, UnconfirmedSettlementIsPendingUntilConfirmedOnce)
{
    signIn();
    service().control("POST", "/control/socket", { { "withholdFinished", true } });
    service().control("POST", "/control/finish-status", { { "status", "SETTLING" } });
    startListening();
    const qint64 id = *model->sessionID();
    const QString finish = QStringLiteral("v1/translation/sessions/%1/finish").arg(id);
    model->stop();
    ASSERT_TRUE(waitForFinishDeadline());
    clock.advance(12s);
    ASSERT_TRUE(waitForState(State::pending));
    EXPECT_EQ(model->error(), pendingError);
    EXPECT_EQ(model->sessionID(), id);
    EXPECT_TRUE(model->ownsSession());
    EXPECT_FALSE(model->canStart());

    service().control("POST", "/control/finish-status", { { "status", "" } });
    auto first = TestSupport::start(model->reconcileFinish());
    auto second = TestSupport::start(model->reconcileFinish());
    ASSERT_TRUE(settledIn(State::completed));
    ASSERT_TRUE(waitFor([&] { return first->done && second->done; }));
    EXPECT_EQ(requestCount(finish), 2); // the pending answer and one confirmation
    expectEnd(State::completed, std::nullopt, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelScenario, FailedFinishRequestLeavesPendingAndTheRetrySettles)
{
    signIn();
    startListening();
    const QString finish
        = QStringLiteral("v1/translation/sessions/%1/finish").arg(*model->sessionID());
    service().fault(
        finish, { { "httpStatus", 500 }, { "envelope", QJsonObject { { "code", 500 } } } });
    onSocket({ { "action", "send" }, { "event", QJsonObject { { "type", "error" } } } });
    ASSERT_TRUE(waitForState(State::pending));
    EXPECT_EQ(model->error(), pendingError);
    EXPECT_EQ(finishedSessions(), 0);

    TestSupport::runTask(model->reconcileFinish());
    ASSERT_TRUE(settledIn(State::completed));
    expectEnd(State::completed, std::nullopt, settledNotice);
    expectSettled(1);
}

TEST_F(AppModelScenario, WalletFailureAfterTheEndIsANotice)
{
    signIn();
    startListening();
    service().fault("v1/points/wallet",
        { { "httpStatus", 500 }, { "envelope", QJsonObject { { "code", 500 } } } });
    model->stop();
    ASSERT_TRUE(waitFor(
        [&] { return model->notice() == QStringLiteral("翻译已结束，账户余额暂未刷新。"); }));
    expectEnd(State::completed, std::nullopt, QStringLiteral("翻译已结束，账户余额暂未刷新。"));
    expectSettled(1);
}

TEST_F(AppModelScenario, ServiceRefusesASecondRunningSessionOfTheSameAccount)
{
    signIn();
    service().control("POST", "/control/socket", { { "withholdReady", true } });
    beginStart();
    ASSERT_TRUE(waitForState(State::connecting));
    std::exception_ptr refusal;
    try {
        TestSupport::runTask(
            TranslateMac::AppModelTestSeam::api(*model).create("EN_ZH", false, "another-key"));
    } catch (...) {
        refusal = std::current_exception();
    }
    EXPECT_EQ(TestSupport::failureIn(refusal), TranslationFailure::rejected(3011));
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
}

TEST_F(AppModelScenario, HostileCreatedBalanceSaturatesInsteadOfOverflowing)
{
    signIn();
    const qint64 id = 777777;
    const QJsonObject created { { "sessionId", id },
        { "wsUrl",
            QStringLiteral("wss://127.0.0.1:%1/api/ws/v1/translation/%2?ticket=t")
                .arg(service().port())
                .arg(id) },
        { "wsTicket", "t" }, { "availablePoints", std::numeric_limits<qint64>::max() },
        { "reservedPoints", 10 },
        { "inputAudio",
            QJsonObject {
                { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 }, { "channels", 1 } } } };
    service().fault("v1/translation/sessions",
        { { "envelope", QJsonObject { { "code", 0 }, { "data", created } } } });
    QList<qint64> balances;
    QObject::connect(model.get(), &AppModel::transcriptChanged, model.get(),
        [&] { balances.append(model->transcript().remaining()); });
    beginStart();
    ASSERT_TRUE(waitFor([&] { return started->done; }));
    EXPECT_TRUE(balances.contains(std::numeric_limits<qint64>::max()));
    // The service never heard of that session: it cannot be confirmed, and it stays held.
    EXPECT_EQ(model->state(), State::pending);
    EXPECT_EQ(model->sessionID(), id);
}
