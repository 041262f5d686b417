#include "TranslateMac/AppModel/AppModel.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

// The whole road of one translation on real parts: a tone played into the sink by another
// process is captured from the sound server, uploaded over TLS, captioned by the local service
// and shown in the model's transcript; stopping settles the session and the wallet shows the
// charge.
TEST(ModelEndToEnd, PlayedToneArrivesAsItsCaptionAndStopSettlesTheCharge)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    LocalServiceProcess service;
    ASSERT_TRUE(service.isRunning()) << service.failure().toStdString();
    service.exportEndpoint();

    const auto application = TestSupport::applicationModel(service);
    AppModel &model = *application;

    ASSERT_TRUE(TestSupport::signIn(model, service, QStringLiteral("13600000001")));
    TestSupport::runTask(model.refreshSources());
    ASSERT_TRUE(model.canStart()) << model.error().value_or("").toStdString();
    const qint64 before = model.wallet();

    TestSupport::TonePlayer player(TestSupport::tone(1000, "org.quorvel.e2e-tone"));
    ASSERT_TRUE(player.start());
    auto started = TestSupport::start(model.start());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return model.state() == ListeningState::listening; }, 40s))
        << rawValue(model.state()).toStdString() << " " << model.error().value_or("").toStdString();
    // The first partial caption, about a second more of tone, then silence closes the segment.
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return !model.transcript().captions().isEmpty(); }, 15s));
    EXPECT_GT(model.level(), 0.1f);
    TestSupport::spinUntil([] { return false; }, 1s);
    ASSERT_TRUE(player.stop());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            const auto &captions = model.transcript().captions();
            return !captions.isEmpty() && captions.first().complete();
        },
        15s));
    const Caption caption = model.transcript().captions().first();
    EXPECT_TRUE(caption.source.startsWith("tone 1000 Hz, ")) << caption.source.toStdString();
    EXPECT_TRUE(caption.target.startsWith("1000 赫兹音调，")) << caption.target.toStdString();

    model.stop();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return model.state() == ListeningState::completed && !model.settling()
                && !model.quoteBusy();
        },
        20s));
    EXPECT_EQ(model.error(), std::nullopt);
    EXPECT_EQ(model.notice(), QStringLiteral("已结束并完成结算。"));
    EXPECT_EQ(model.wallet(), before - 10); // one started minute of the 10-point direction
    const QJsonArray sessions = service.control("GET", "/control/sessions")["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_TRUE(sessions.first()["settled"].toBool());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return started->done; }, 5s));
}
