#pragma once

#include "ServiceEnvironment.h"

#include "TranslateMac/AppModel/AppModel.h"

#include "support/ScriptedCapture.h"
#include "support/TestSupport.h"

#include "TranslateCore/Async/Clock.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// An application model against the local service over TLS, with a capture the test drives and
// virtual time. The service's read-back says which sessions it created and which it saw finished.
class AppModelScenario : public ::testing::Test {
protected:
    using State = TranslateMac::ListeningState;

    void SetUp() override;
    void TearDown() override;
    // The model's socket factory; the default talks to the service.
    virtual TranslateMac::AppModel::SocketFactory socketFactory() { return nullptr; }

    LocalServiceProcess &service() { return localService(); }

    // Signs `phone` in through the model (code, login, account refresh).
    void signIn(const QString &phone = QStringLiteral("13700000001"));
    // Approves, as the phone app would, the QR sign-in the model is running for `phone`.
    void approveQRSignIn();
    // Starts a translation without waiting for it.
    void beginStart();
    // Starts and waits until the model listens.
    void startListening();
    // Runs the event loop until `done` holds (5 s at most); false on time-out.
    static bool waitFor(const std::function<bool()> &done);
    bool waitForState(State state)
    {
        return waitFor([&] { return model->state() == state; });
    }
    // Waits until the model has ended the session in `state` and refreshed what follows the end.
    bool settledIn(State state)
    {
        return waitFor([&] {
            return model->state() == state && !model->sessionID() && !model->settling()
                && !model->quoteBusy();
        });
    }
    // After a stop: the stream was finished and the model waits for the server's end (virtual
    // time then holds the elapsed-time ticker and that deadline).
    bool waitForFinishDeadline()
    {
        return waitFor([&] { return clock.sleeperCount() == 2; });
    }
    // Hands `count` packets of `frequency` (0: silence) to the running capture, pacing by the
    // stream's capacity and by what the service received.
    void play(double frequency, int count);
    // A control call on the open live socket(s), retried until the service has one.
    void onSocket(const QJsonObject &body);

    // The service's read-back.
    QJsonArray sessions();
    int createdSessions() { return int(sessions().size()); }
    int finishedSessions();
    int requestCount(const QString &path) { return int(service().requestsTo(path).size()); }
    qint64 firstSessionID() { return sessions().first().toObject()["sessionId"].toInteger(); }
    // Every session the service created was finished, and there were `count`.
    void expectSettled(int count);
    // The model's final texts.
    void expectEnd(State state, std::optional<QString> error, std::optional<QString> notice);

    TranslateCore::ManualClock clock;
    TestSupport::ScriptedCapture *capture = nullptr;
    std::unique_ptr<TranslateMac::AppModel> model;
    std::shared_ptr<TestSupport::Started> started;
    QString phone;
};

inline const QString settledNotice = QStringLiteral("已结束并完成结算。");
inline const QString pendingError
    = QStringLiteral("系统音频监听已停止。暂时无法确认结算结果，请恢复网络后点击“确认结算”。");
inline const QString signInToSettleError
    = QStringLiteral("系统音频监听已停止。登录已失效，重新登录后将自动完成结算。");
