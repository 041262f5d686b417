#include "HistoryFixture.h"
#include "ScreenFixture.h"

#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/HistoryCaptionList.h"

#include "support/ApplicationHarness.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>

using namespace TranslateMac;
using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

namespace {

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void screenshot(QWidget &widget, const char *name)
{
    settle();
    EXPECT_TRUE(widget.grab().save(TestSupport::screenshotPath(QString::fromUtf8(name) + ".png")))
        << name;
}

} // namespace

// The history in its main states, saved under the build folder for review.
TEST_F(HistoryTest, ScreenshotsOfTheHistory)
{
    record(60 * 26,
        { { "Good evening, and welcome to the night market.", "晚上好，欢迎来到夜市。" },
            { "Tonight we are tasting street food from six different cities.",
                "今晚我们将品尝来自六个不同城市的街头小吃。" },
            { "First up is a bowl of hand-pulled noodles.", "首先是一碗手拉面。" },
            { "The broth has been simmering since noon.", "汤底从中午就开始熬了。" },
            { "You can smell the star anise from across the street.",
                "隔着一条街都能闻到八角的香味。" } },
        18);
    record(60 * 3,
        { { "今天的天气预报：下午有雷阵雨。", "Today's forecast: thunderstorms in the afternoon." },
            { "请大家出门记得带伞。", "Remember to take an umbrella when you go out." } },
        6, false, QStringLiteral("中文 → English"));
    const qint64 cut = record(45,
        { { "The market closes at midnight on weekdays.", "工作日夜市午夜关门。" },
            { "On weekends it stays open until two.", "周末营业到凌晨两点。" },
            { "Parking is free after ten.", "十点以后停车免费。" } },
        std::nullopt, true);
    journal->markInterrupted(cut);
    settleJournal();

    HistoryWindow &history = openWindow();
    screenshot(history, "h1-history-sessions");

    clickItem(0);
    screenshot(history, "h2-history-session-open");

    history.search(QStringLiteral("market"));
    clickItem(1);
    screenshot(history, "h3-history-search-results");

    // The export choice as it drops down from its button, with the SubRip languages beside it.
    ExportMenu &menu = history.sessionExportMenu();
    QAction *srt = nullptr;
    for (QAction *action : menu.actions()) {
        if (action->text().startsWith("SRT"))
            srt = action;
    }
    ASSERT_NE(srt, nullptr);
    menu.popup(history.mapToGlobal(QPoint(history.width() - 420, 50)));
    menu.setActiveAction(srt);
    settle();
    QPixmap withMenu = history.grab();
    {
        QPainter painter(&withMenu);
        const QPoint at(history.width() - 420, 50);
        painter.drawPixmap(at, menu.grab());
        QMenu &languages = *srt->menu();
        languages.ensurePolished();
        languages.adjustSize();
        painter.drawPixmap(
            at + QPoint(menu.width() - 2, menu.actionGeometry(srt).top() - 4), languages.grab());
    }
    menu.close();
    EXPECT_TRUE(withMenu.save(TestSupport::screenshotPath("h4-history-export-choice.png")));

    history.search(QString());
    clickItem(2);
    click(history, "删除这次翻译的记录…");
    ASSERT_NE(history.confirmation(), nullptr);
    settle();
    QPixmap withQuestion = history.grab();
    {
        QPainter painter(&withQuestion);
        painter.fillRect(withQuestion.rect(), QColor(0, 0, 0, 60));
        QMessageBox &box = *history.confirmation();
        painter.drawPixmap((history.width() - box.width()) / 2, 120, box.grab());
    }
    EXPECT_TRUE(withQuestion.save(TestSupport::screenshotPath("h5-history-delete-question.png")));
    answer("取消");
}
