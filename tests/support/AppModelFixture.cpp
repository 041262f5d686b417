#include "AppModelFixture.h"

#include "TranslateMac/Account/QRLoginModel.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QJsonObject>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

void AppModelScenario::SetUp()
{
    service().reset();
    auto owned = std::make_unique<TestSupport::ScriptedCapture>();
    capture = owned.get();
    TranscriptExport seams;
    seams.copy = [](const QString &) {};
    seams.chooseSaveLocation = [](const QString &, TranscriptExport::Completion) {};
    model = std::make_unique<AppModel>(
        std::make_unique<TranslationAPI>(), std::move(owned), socketFactory(), clock, seams);
}

void AppModelScenario::TearDown()
{
    model.reset();
    TestSupport::drainEvents();
}

void AppModelScenario::approveQRSignIn()
{
    ASSERT_TRUE(waitFor([&] { return model->qrLogin().challenge().has_value(); }));
    service().control("POST", "/control/device-login",
        { { "challengeId", model->qrLogin().challenge()->id }, { "action", "approve" },
            { "phone", phone } });
}

void AppModelScenario::signIn(const QString &number)
{
    phone = number;
    TestSupport::runTask(model->sendCode(QStringLiteral("+86"), phone));
    const QString code
        = service()
              .control("GET", QStringLiteral("/control/sms-code?phone=") + phone)["code"]
              .toString();
    TestSupport::runTask(model->login(QStringLiteral("+86"), phone, code));
    ASSERT_TRUE(model->loggedIn());
    ASSERT_EQ(model->selectedRoute(), "EN_ZH");
    ASSERT_TRUE(model->canStart());
}

void AppModelScenario::beginStart()
{
    started = TestSupport::start(model->start());
}

void AppModelScenario::startListening()
{
    beginStart();
    ASSERT_TRUE(waitForState(State::listening)) << rawValue(model->state()).toStdString();
}

bool AppModelScenario::waitFor(const std::function<bool()> &done)
{
    return TestSupport::spinUntil(done, 5s);
}

void AppModelScenario::play(double frequency, int count)
{
    const QByteArray frame = TestSupport::pcmFrame(frequency);
    const auto received = [this] {
        return service()
            .control("GET", QStringLiteral("/control/socket/received"))["audioBytes"]
            .toInteger();
    };
    const qint64 before = received();
    for (int i = 0; i < count; ++i) {
        // Never more than 2 s of audio ahead of what the service received, however slow the
        // machine: the writer's 3 s backlog must not fill (that ends the session).
        if (i % 10 == 0 && i >= 20) {
            const qint64 due = before + qint64(i - 20) * frame.size();
            waitFor([&] { return received() >= due; });
        }
        if (i % 4 == 3)
            TestSupport::spinUntil([] { return false; }, 1ms);
        PushResult pushed = capture->push(frame);
        while (pushed == PushResult::full) {
            TestSupport::spinUntil([] { return false; }, 2ms);
            pushed = capture->push(frame);
        }
        ASSERT_EQ(pushed, PushResult::ok);
    }
}

void AppModelScenario::onSocket(const QJsonObject &body)
{
    bool refused = false;
    service().setFailureHandler([&](const QString &) { refused = true; });
    const bool sent = waitFor([&] {
        refused = false;
        service().control("POST", QStringLiteral("/control/socket"), body);
        return !refused;
    });
    service().setFailureHandler(
        [](const QString &message) { ADD_FAILURE() << message.toStdString(); });
    ASSERT_TRUE(sent) << "no live socket to send on";
}

QJsonArray AppModelScenario::sessions()
{
    return service().control("GET", QStringLiteral("/control/sessions"))["sessions"].toArray();
}

int AppModelScenario::finishedSessions()
{
    int finished = 0;
    for (const QJsonValue &session : sessions())
        finished += session["settled"].toBool() ? 1 : 0;
    return finished;
}

void AppModelScenario::expectSettled(int count)
{
    EXPECT_EQ(createdSessions(), count);
    EXPECT_EQ(finishedSessions(), count);
}

void AppModelScenario::expectEnd(
    State state, std::optional<QString> error, std::optional<QString> notice)
{
    EXPECT_EQ(rawValue(model->state()), rawValue(state));
    EXPECT_EQ(model->error(), error);
    EXPECT_EQ(model->notice(), notice);
    EXPECT_FALSE(model->sessionID().has_value());
}
