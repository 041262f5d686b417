#include "AppModelFixture.h"
#include "support/AppModelTestSeam.h"

#include "support/ScriptedSocketConnection.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

// The session lives on the local service; its live socket is played by the test.
class AppModelScriptedSocket : public AppModelScenario {
protected:
    AppModel::SocketFactory socketFactory() override
    {
        return [this](const QUrl &) {
            sockets.append(std::make_shared<TestSupport::ScriptedSocketConnection>());
            return sockets.last();
        };
    }
    // Waits for socket `n` (from 1) and reports ready on it.
    void readyOn(int n, qint64 intervalMs = 1000)
    {
        ASSERT_TRUE(waitFor([&] { return sockets.size() >= n; }));
        sockets[n - 1]->deliver({ { "type", "session.ready" }, { "sessionId", *model->sessionID() },
            { "heartbeatIntervalMs", intervalMs } });
    }
    void caption(int n, qint64 seq, const QString &source, const QString &target)
    {
        sockets[n - 1]->deliver(
            { { "type", "asr.final" }, { "segmentSeq", seq }, { "text", source } });
        sockets[n - 1]->deliver(
            { { "type", "translation.final" }, { "segmentSeq", seq }, { "text", target } });
    }

    void TearDown() override
    {
        // A socket ends its reader when it goes, as a real one does.
        for (const auto &socket : std::as_const(sockets))
            socket->breakWith(std::make_exception_ptr(
                NetworkError(QNetworkReply::RemoteHostClosedError, "test over")));
        AppModelScenario::TearDown();
    }

    QList<std::shared_ptr<TestSupport::ScriptedSocketConnection>> sockets;
};

TEST_F(AppModelScriptedSocket, LateFrameOfAClosedSocketChangesNothing)
{
    signIn();
    beginStart();
    readyOn(1);
    ASSERT_TRUE(waitForState(State::listening));
    caption(1, 1, "hello", "你好");
    ASSERT_TRUE(waitFor([&] { return model->transcript().captions().size() == 1; }));
    sockets[0]->deliver({ { "type", "error" }, { "code", "PROVIDER_UNAVAILABLE" } });
    ASSERT_TRUE(settledIn(State::completed));
    EXPECT_TRUE(sockets[0]->closed);
    const Transcript settled = model->transcript();

    caption(1, 2, "late", "迟到");
    sockets[0]->deliver({ { "type", "balance.warning" } });
    TestSupport::drainEvents();
    EXPECT_EQ(model->transcript(), settled);
    expectEnd(
        State::completed, QStringLiteral("翻译服务暂时无法处理音频，已停止监听。"), settledNotice);
    expectSettled(1);
}

TEST_F(AppModelScriptedSocket, WriterFailureAndMissedHeartbeatStartOneRecovery)
{
    signIn();
    beginStart();
    readyOn(1);
    ASSERT_TRUE(waitForState(State::listening));
    capture->stopGate.emplace(); // recovery holds at its first step
    sockets[0]->sendFailure
        = std::make_exception_ptr(NetworkError(QNetworkReply::RemoteHostClosedError, "gone"));
    play(1000, 1);
    ASSERT_TRUE(waitForState(State::reconnecting));
    clock.advance(4s); // the heartbeat finds the writer refusing and no pong for 4 s
    TestSupport::drainEvents();
    capture->stopGate->resolve();
    ASSERT_TRUE(waitFor(
        [&] { return model->notice() == QStringLiteral("连接已中断，正在重连，第1 次。"); }));
    capture->stopGate.reset();
    clock.advance(500ms);
    readyOn(2);
    ASSERT_TRUE(waitForState(State::listening));
    EXPECT_EQ(model->notice(), QStringLiteral("连接已恢复，中断期间的音频没有上传。"));
    EXPECT_EQ(model->error(), std::nullopt);
    EXPECT_EQ(sockets.size(), 2);
    EXPECT_EQ(requestCount(
                  QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(*model->sessionID())),
        1);

    model->stop();
    ASSERT_TRUE(waitFor([&] { return sockets[1]->sentTypes().endsWith("session.finish"); }));
    EXPECT_EQ(sockets[1]->sentTypes().mid(sockets[1]->sentTypes().size() - 2),
        QStringList({ "input.flush", "session.finish" }));
    clock.advance(12s); // the scripted service never confirms: settled over HTTP
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
}

TEST_F(AppModelScriptedSocket, FinishAnswerBackFillsFromSegmentOneOnAndKeepsTheUsage)
{
    signIn();
    beginStart();
    readyOn(1);
    ASSERT_TRUE(waitForState(State::listening));
    const qint64 id = *model->sessionID();
    const QString finish = QStringLiteral("v1/translation/sessions/%1/finish").arg(id);
    const QJsonObject answer { { "sessionId", id }, { "status", "COMPLETED" },
        { "chargedPoints", 7 }, { "remainingPoints", 993 },
        { "segments",
            QJsonArray { QJsonObject { { "segmentSeq", 0 }, { "sourceText", "zero" },
                             { "targetText", "零" } },
                QJsonObject {
                    { "segmentSeq", 7 }, { "sourceText", "seven" }, { "targetText", "" } } } } };
    service().fault(finish, { { "envelope", QJsonObject { { "code", 0 }, { "data", answer } } } });
    sockets[0]->deliver({ { "type", "error" } });
    ASSERT_TRUE(settledIn(State::completed));

    const QList<Caption> captions = model->transcript().captions();
    ASSERT_EQ(captions.size(), 1);
    EXPECT_EQ(captions[0], (Caption { 7, "seven", "", true, false }));
    EXPECT_TRUE(model->transcript().finished());
    EXPECT_EQ(model->transcript().ledgerCharged(), 7);
    EXPECT_EQ(model->transcript().remaining(), 993);
    // The scripted answer replaced the service's own: settle the session for real.
    TestSupport::runTask(TranslateMac::AppModelTestSeam::api(*model).finish(id));
    expectSettled(1);
}
