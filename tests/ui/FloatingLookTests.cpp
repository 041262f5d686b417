#include "ScreenFixture.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Screens/Captions/FloatingLine.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"

#include <QDir>
#include <QLinearGradient>

#include <QMenu>
#include <QPainter>
#include <QScrollArea>

using namespace TranslateMac;

namespace {

class FloatingLookTest : public ScreenTest {
protected:
    std::unique_ptr<FloatingSubtitleView> makeView(QSize size = { 700, 200 })
    {
        auto view = std::make_unique<FloatingSubtitleView>(*model);
        view->resize(size);
        view->show();
        settle();
        return view;
    }
    FloatingLine *latestLine(FloatingSubtitleView &view)
    {
        return static_cast<FloatingLine *>(view.captions().rowAt(view.captions().rowCount() - 1));
    }
    // The view over a frame of video (bright sky above, dark ground below), as the desktop
    // would compose it.
    static QImage overVideo(QWidget &view)
    {
        QImage frame(view.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&frame);
        QLinearGradient sky(0, 0, 0, frame.height());
        sky.setColorAt(0, QColor(0xCF, 0xE6, 0xFA));
        sky.setColorAt(0.55, QColor(0xF4, 0xF1, 0xE8));
        sky.setColorAt(0.56, QColor(0x3A, 0x4A, 0x2E));
        sky.setColorAt(1, QColor(0x1E, 0x26, 0x18));
        painter.fillRect(frame.rect(), sky);
        painter.drawPixmap(0, 0, view.grab());
        return frame;
    }
};

FloatingSettings largest(FloatingStyle style)
{
    FloatingSettings settings;
    settings.style = style;
    settings.translationSize = 40;
    settings.sourceSize = 32;
    settings.translationLines = 2;
    settings.sourceLines = 2;
    return settings;
}

} // namespace

TEST_F(FloatingLookTest, TheFirstLookIsAnOpaqueWhiteWindowWithDarkText)
{
    auto view = makeView();
    EXPECT_EQ(view->settings().style, FloatingStyle::light);
    const QImage image = view->grab().toImage();
    const QColor middle = image.pixelColor(view->width() / 2, view->height() - 12);
    EXPECT_EQ(middle, QColor(Qt::white));
    EXPECT_LT(view->palette().text.lightness(), 80);
}

TEST_F(FloatingLookTest, EveryStyleAtTheLargestSizeShowsTwoLinesPerLanguageIn1280Pixels)
{
    signIn();
    startListening();
    sendCaption(1, "asr.final", "The market opens at dusk.");
    sendCaption(1, "translation.final", "市场在黄昏时开放。");
    sendCaption(2, "asr.partial",
        "Tonight we walk past the stalls where the cooks have been preparing broth since noon, "
        "and we taste noodles pulled by hand in front of us while the crowd keeps growing");
    sendCaption(2, "translation.partial",
        "今晚我们走过那些摊位，厨师们从中午就开始熬汤，我们品尝在我们面前手工拉制的面条，"
        "人群还在不断地聚集，夜市越来越热闹，灯笼一盏接一盏地亮了起来");
    ASSERT_TRUE(waitFor([&] { return model->transcript().captions().size() == 2; }));
    const std::pair<FloatingStyle, const char *> styles[] = {
        { FloatingStyle::light, "light" },
        { FloatingStyle::dark, "dark" },
        { FloatingStyle::outline, "outline" },
    };
    for (const auto &[style, name] : styles) {
        auto view = makeView();
        view->setSettings(largest(style));
        view->resize(1280, view->fittingHeight());
        settle();
        ASSERT_EQ(view->height(), view->fittingHeight()) << name;
        FloatingLine *line = latestLine(*view);
        ASSERT_NE(line, nullptr);
        EXPECT_GT(line->translationView().lineCount(), 2) << name;
        EXPECT_EQ(line->translationView().shownLineCount(), 2) << name;
        EXPECT_GT(line->sourceView().lineCount(), 2) << name;
        EXPECT_EQ(line->sourceView().shownLineCount(), 2) << name;
        // The newest words are the ones shown.
        EXPECT_TRUE(line->targetText().endsWith(QStringLiteral("亮了起来 ▏"))) << name;
        // The whole line lies inside the list, below the band where older lines fade.
        QWidget *viewport = view->captions().scrollArea().viewport();
        const QRect shown(line->mapTo(viewport, QPoint(0, 0)), line->size());
        EXPECT_TRUE(viewport->rect().contains(shown))
            << name << ": line " << shown.top() << "…" << shown.bottom() << " in "
            << viewport->height();
        EXPECT_GE(shown.top(), 12) << name;
        const QString file = QStringLiteral(QUORVEL_SCREENSHOTS_DIR "/11-floating-%1-largest.png")
                                 .arg(QLatin1String(name));
        QDir().mkpath(QStringLiteral(QUORVEL_SCREENSHOTS_DIR));
        ASSERT_TRUE(overVideo(*view).save(file));
    }
}

TEST_F(FloatingLookTest, WithoutACompositorEveryStyleIsOpaqueAndSquare)
{
    for (const FloatingStyle style :
        { FloatingStyle::light, FloatingStyle::dark, FloatingStyle::outline }) {
        auto view = makeView();
        FloatingSettings settings;
        settings.style = style;
        view->setSettings(settings);
        view->setBackgroundOpacity(50);
        view->setCompositing(false);
        settle();
        const QImage image = view->grab().toImage();
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 255) << int(style); // no rounded corner
        EXPECT_EQ(image.pixelColor(view->width() / 2, view->height() - 4).alpha(), 255);
        EXPECT_NE(view->palette().style, FloatingStyle::outline); // it needs to see through
        view->setCompositing(true);
        settle();
        EXPECT_LT(view->grab().toImage().pixelColor(0, 0).alpha(), 255) << int(style);
    }
}

TEST_F(FloatingLookTest, TheBackgroundOpacityKeepsTheTextOpaque)
{
    auto view = makeView();
    view->setBackgroundOpacity(30);
    settle();
    const QImage image = view->grab().toImage();
    for (int y : { 2, 20, 60, 100, view->height() - 10, view->height() - 4, view->height() - 1 })
        std::cerr << "y " << y << " alpha " << image.pixelColor(view->width() / 2, y).alpha()
                  << " size " << view->width() << "x" << view->height() << "\n";
    EXPECT_NEAR(image.pixelColor(view->width() / 2, view->height() - 4).alpha(), 76, 3);
}

TEST_F(FloatingLookTest, SettingsAreRememberedAndBroughtIntoRange)
{
    {
        auto view = makeView();
        FloatingSettings settings = largest(FloatingStyle::outline);
        settings.sourceOnTop = true;
        settings.translationLines = 1;
        view->setSettings(settings);
    }
    FloatingSettings expected = largest(FloatingStyle::outline);
    expected.sourceOnTop = true;
    expected.translationLines = 1;
    EXPECT_EQ(makeView()->settings(), expected);
    EXPECT_EQ(storedDefault(UserDefaultsKeys::floatingStyle).toString(), "outline");

    struct Case {
        const char *key;
        QVariant stored;
        std::function<bool(const FloatingSettings &)> holds;
    };
    const Case cases[] = {
        { UserDefaultsKeys::floatingTranslationLines, 0,
            [](const FloatingSettings &s) { return s.translationLines == 1; } },
        { UserDefaultsKeys::floatingSourceLines, 9,
            [](const FloatingSettings &s) { return s.sourceLines == 3; } },
        { UserDefaultsKeys::floatingSourceSize, 99,
            [](const FloatingSettings &s) { return s.sourceSize == 32; } },
        { UserDefaultsKeys::floatingSubtitleSize, 3,
            [](const FloatingSettings &s) { return s.translationSize == 16; } },
        { UserDefaultsKeys::floatingStyle, "neon",
            [](const FloatingSettings &s) { return s.style == FloatingStyle::light; } },
    };
    for (const Case &c : cases) {
        storeDefault(c.key, c.stored);
        EXPECT_TRUE(c.holds(FloatingSettings::load())) << c.key;
    }
    storeDefault(UserDefaultsKeys::floatingShowTranslation, false);
    storeDefault(UserDefaultsKeys::floatingShowSource, false);
    EXPECT_TRUE(FloatingSettings::load().showTranslation); // one language is always shown
}

TEST_F(FloatingLookTest, TheLookMenuChoosesStyleOrderAndLines)
{
    signIn();
    startListening();
    sendCaption(1, "asr.final", "Hello there.");
    sendCaption(1, "translation.final", "你好。");
    ASSERT_TRUE(waitFor([&] { return model->transcript().captions().size() == 1; }));
    auto view = makeView();
    auto trigger = [&](const QString &menu, const QString &item) {
        for (QAction *sub : view->lookMenu().actions()) {
            if (sub->text() != menu || !sub->menu())
                continue;
            for (QAction *action : sub->menu()->actions())
                if (action->text() == item)
                    return action->trigger(), true;
        }
        return false;
    };
    ASSERT_TRUE(trigger("样式", "深色"));
    EXPECT_EQ(view->settings().style, FloatingStyle::dark);
    ASSERT_TRUE(trigger("原文行数", "3 行"));
    EXPECT_EQ(view->settings().sourceLines, 3);
    ASSERT_TRUE(trigger("原文字号", "20"));
    EXPECT_EQ(view->settings().sourceSize, 20);

    FloatingLine *line = latestLine(*view);
    ASSERT_TRUE(trigger("语言", "原文在上"));
    settle();
    EXPECT_LT(line->sourceView().y(), line->translationView().y());
    ASSERT_TRUE(trigger("语言", "只显示原文"));
    settle();
    EXPECT_EQ(line->targetText(), "");
    EXPECT_EQ(line->sourceText(), "Hello there.");
    ASSERT_TRUE(trigger("语言", "只显示译文"));
    settle();
    EXPECT_EQ(line->sourceText(), "");
    EXPECT_EQ(line->targetText(), "你好。"); // final: no cursor
    EXPECT_TRUE(hasButton(*view, "显示原文"));
}
