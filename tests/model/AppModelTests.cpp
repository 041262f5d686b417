#include "TranslateMac/Account/SessionStorageFailure.h"
#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "support/ScriptedCapture.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace TranslateMac;
using State = ListeningState;

namespace {

const QString networkText = QStringLiteral("网络请求失败，请检查网络后重试。");

// A model whose service is unreachable (every request is a transport failure), over a scripted
// capture, with the clipboard and the save location observed.
class AppModelTest : public ::testing::Test {
protected:
    void make(std::optional<Credentials> credentials = std::nullopt)
    {
        auto owned = std::make_unique<TestSupport::ScriptedCapture>();
        capture = owned.get();
        capture->permission = permission;
        TranscriptExport seams;
        seams.copy = [this](const QString &text) { copied.append(text); };
        seams.chooseSaveLocation = [this](const QString &name, TranscriptExport::Completion done) {
            proposedNames.append(name);
            saveCompletion = std::move(done);
        };
        model = std::make_unique<AppModel>(
            std::make_unique<TranslationAPI>(credentials, QUrl("https://127.0.0.1:1/api/")),
            std::move(owned), nullptr, clock, seams);
    }
    void TearDown() override
    {
        model.reset();
        TestSupport::drainEvents();
    }

    bool permission = true;
    ManualClock clock;
    TestSupport::ScriptedCapture *capture = nullptr;
    std::unique_ptr<AppModel> model;
    QStringList copied;
    QStringList proposedNames;
    TranscriptExport::Completion saveCompletion;
};

} // namespace

TEST(ListeningStateTest, RawValuesAreTheStatusTexts)
{
    const QStringList texts { "准备监听", "正在准备音源", "正在连接翻译服务", "正在监听系统音频",
        "正在恢复连接", "正在停止并结算", "结算等待确认", "本次翻译已结束", "监听已停止" };
    ASSERT_EQ(allListeningStates.size(), std::size_t(texts.size()));
    for (std::size_t i = 0; i < allListeningStates.size(); ++i) {
        EXPECT_EQ(rawValue(allListeningStates[i]), texts[qsizetype(i)]);
        EXPECT_EQ(listeningStateFromRawValue(texts[qsizetype(i)]), allListeningStates[i]);
    }
    EXPECT_EQ(listeningStateFromRawValue("监听"), std::nullopt);

    EXPECT_EQ(AppModel::rawValue(AppModel::LoginMethod::qr), "扫码登录");
    EXPECT_EQ(AppModel::rawValue(AppModel::LoginMethod::phone), "验证码登录");
    EXPECT_EQ(AppModel::allLoginMethods.front(), AppModel::LoginMethod::qr);
    EXPECT_EQ(AppModel::loginMethodFromRawValue("验证码登录"), AppModel::LoginMethod::phone);
    EXPECT_EQ(AppModel::loginMethodFromRawValue("登录"), std::nullopt);
}

TEST(AppModelErrorTextTest, ServiceMessageNetworkTextOrGenericCode)
{
    const struct {
        std::exception_ptr error;
        QString text;
    } cases[] = {
        { std::make_exception_ptr(TranslationFailure::rejected(3010)),
            "积分不足，请在Quorvel手机 App 中充值。" },
        { std::make_exception_ptr(NetworkError(QNetworkReply::TimeoutError, "slow")),
            "网络请求失败，请检查网络后重试。" },
        { std::make_exception_ptr(std::runtime_error("other")), "操作未能完成，请重试（-1）。" },
        { std::make_exception_ptr(TapAudioFailure(-5)), "操作未能完成，请重试（-5）。" },
        { std::make_exception_ptr(SessionStorageFailure::database(14)),
            "操作未能完成，请重试（14）。" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(AppModel::errorText(c.error), c.text);
}

TEST_F(AppModelTest, FreshModelIsSignedOutIdleAndCannotStart)
{
    make();
    EXPECT_FALSE(model->loggedIn());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_EQ(model->nickname(), "尚未登录");
    EXPECT_EQ(model->sources(), QList<AudioSource> { AudioSource::wholeSystem() });
    EXPECT_EQ(model->selectedSource().name, "全电脑播放音频");
    EXPECT_EQ(model->loginMethod(), AppModel::LoginMethod::qr);
    EXPECT_TRUE(model->permission());
    EXPECT_FALSE(model->canStart());
    EXPECT_FALSE(model->ownsSession());
    EXPECT_EQ(model->remaining(), 0);
    EXPECT_EQ(model->route(), std::nullopt);
    EXPECT_EQ(model->notice(), std::nullopt);

    TestSupport::runTask(model->start());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_EQ(capture->prepareCount, 0);
}

TEST_F(AppModelTest, PermissionFollowsTheCaptureAtConstruction)
{
    permission = false;
    make();
    EXPECT_FALSE(model->permission());
}

TEST_F(AppModelTest, SourceRefreshKeepsOrResetsTheSelection)
{
    make();
    const AudioSource player { 42, "Player", QString("org.player") };
    capture->listed = { AudioSource::wholeSystem(), player };
    TestSupport::runTask(model->refreshSources());
    EXPECT_EQ(model->sources(), capture->listed);
    model->setSelectedSource(player);

    TestSupport::runTask(model->refreshSources());
    EXPECT_EQ(model->selectedSource(), player);
    capture->listed = { AudioSource::wholeSystem() };
    TestSupport::runTask(model->refreshSources());
    EXPECT_EQ(model->selectedSource(), AudioSource::wholeSystem());
    EXPECT_FALSE(model->sourcesRefreshing());
}

TEST_F(AppModelTest, FailedSourceChecksBlockStartingUntilARecheckSucceeds)
{
    const QString emptyText = QStringLiteral("所选应用已退出或无法采集，请重新选择音源。");
    const struct {
        const char *name;
        std::exception_ptr failure; // null: an empty list
        std::optional<QString> checkFailure;
    } cases[] = {
        { "empty list", nullptr, emptyText },
        { "permission", std::make_exception_ptr(TranslationFailure::permission()), std::nullopt },
        { "unreachable server", std::make_exception_ptr(SoundServerAccessError(-111, "refused")),
            std::nullopt },
        { "other", std::make_exception_ptr(std::runtime_error("x")),
            QStringLiteral("操作未能完成，请重试（-1）。") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        make();
        capture->sourcesFailure = c.failure;
        capture->listed = {};
        TestSupport::runTask(model->refreshSources());
        EXPECT_FALSE(model->permission());
        EXPECT_EQ(model->sourceCheckFailure(), c.checkFailure);
        if (c.checkFailure) {
            EXPECT_EQ(model->error(), c.checkFailure);
        }

        capture->sourcesFailure = nullptr;
        capture->listed = { AudioSource::wholeSystem() };
        TestSupport::runTask(model->refreshSources());
        EXPECT_TRUE(model->permission());
        EXPECT_EQ(model->sourceCheckFailure(), std::nullopt);
        EXPECT_EQ(model->error(), std::nullopt); // the stale check message went with it
    }
}

TEST_F(AppModelTest, CopyPutsThePlainTranscriptOnTheClipboard)
{
    make();
    model->copyTranscript();
    EXPECT_EQ(copied, QStringList { QString() });
}

TEST_F(AppModelTest, ExportWritesAtomicallyOrShowsTheSaveError)
{
    make();
    QTemporaryDir folder;
    const QString path = folder.filePath("Quorvel字幕.txt");
    QFile existing(path);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    model->exportTranscript();
    EXPECT_EQ(proposedNames, QStringList { "Quorvel字幕.txt" });
    saveCompletion(std::nullopt); // cancelled
    EXPECT_EQ(model->error(), std::nullopt);

    model->exportTranscript();
    saveCompletion(path);
    EXPECT_EQ(model->error(), std::nullopt);
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray());

    model->exportTranscript();
    saveCompletion(folder.filePath("missing/Quorvel字幕.txt"));
    EXPECT_EQ(model->error(), "字幕未能保存，请检查目标文件夹权限。");
    EXPECT_FALSE(QFile::exists(folder.filePath("missing/Quorvel字幕.txt")));

    model->exportTranscript();
    model.reset(); // the dialog outlives the model: its answer changes nothing
    saveCompletion(path);
}

TEST_F(AppModelTest, AccountCallsThatCannotReachTheServiceShowTheNetworkText)
{
    make();
    TestSupport::runTask(model->sendCode("+86", "13800000000"));
    EXPECT_EQ(model->error(), networkText);
    EXPECT_EQ(model->cooldownUntil(), std::nullopt); // the user may retry at once
    EXPECT_FALSE(model->accountBusy());

    TestSupport::runTask(model->login("+86", "13800000000", "123456"));
    EXPECT_EQ(model->error(), networkText);
    EXPECT_FALSE(model->loggedIn());
    EXPECT_FALSE(model->accountBusy());
}

TEST_F(AppModelTest, RefreshFailureKeepsTheSignInTheClientHolds)
{
    make(Credentials { "access", "refresh" });
    EXPECT_TRUE(model->loggedIn());
    model->setSelectedRoute("EN_ZH");
    TestSupport::runTask(model->refreshAccount());
    EXPECT_EQ(model->error(), networkText);
    EXPECT_TRUE(model->loggedIn());
    EXPECT_FALSE(model->accountBusy());
    EXPECT_FALSE(model->quoteBusy());
    EXPECT_EQ(model->quote(), std::nullopt);
    EXPECT_EQ(model->nickname(), "尚未登录");
}

TEST_F(AppModelTest, LogoutWhoseRevocationFailsStillSignsOutAndResets)
{
    make(Credentials { "access", "refresh" });
    model->setSelectedRoute("EN_ZH");
    TestSupport::runTask(model->logout());
    EXPECT_FALSE(model->loggedIn());
    EXPECT_EQ(model->error(), networkText);
    EXPECT_EQ(model->selectedRoute(), QString());
    EXPECT_EQ(model->nickname(), "尚未登录");
    EXPECT_EQ(model->wallet(), 0);
    EXPECT_FALSE(model->accountBusy());
}

TEST_F(AppModelTest, QuoteIsClearedWhenItCannotBeAsked)
{
    make();
    model->setSelectedRoute("EN_ZH");
    TestSupport::runTask(model->refreshQuote());
    EXPECT_EQ(model->quote(), std::nullopt);
    EXPECT_FALSE(model->quoteBusy());
    EXPECT_EQ(model->error(), std::nullopt); // signed out: nothing was asked
    model->swapDirection(); // no route offered: nothing changes
    EXPECT_EQ(model->selectedRoute(), "EN_ZH");
}

TEST(AppModelRestoreTest, RestoreFailureIsANoticeUnlessRestorationIsDisabled)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
    const QString folder = home.filePath("data/com.quorvel.translate.mac");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile database(folder + "/session.sqlite3");
    ASSERT_TRUE(database.open(QIODevice::WriteOnly));
    database.write("this is not a database, just text that SQLite refuses to open");
    database.close();

    QSettings defaults("Quorvel", "QuorvelTranslate");
    const struct {
        bool disabled;
        std::optional<QString> notice;
    } cases[] = {
        { false, QStringLiteral("暂时无法读取本机登录状态，请重新登录。") },
        { true, std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.disabled);
        defaults.setValue(UserDefaultsKeys::restorationDisabled, c.disabled);
        defaults.sync();
        AppModel model;
        EXPECT_FALSE(model.loggedIn());
        EXPECT_EQ(model.notice(), c.notice);
    }
}
