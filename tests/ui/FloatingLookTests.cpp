#include "ScreenFixture.h"
#include "support/ApplicationHarness.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Screens/Captions/FloatingLine.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QApplication>
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

TEST_F(FloatingLookTest, AtTheLargestSizeEveryArrangementShowsWholeLinesApartIn1280Pixels)
{
    signIn();
    startListening();
    // Three captions, each four lines or more in both languages at the largest sizes.
    const QString source = QStringLiteral(
        "Tonight we walk past the stalls where the cooks have been preparing broth since noon, "
        "and we taste noodles pulled by hand in front of us while the crowd keeps growing");
    const QString target = QStringLiteral(
        "今晚我们走过那些摊位，厨师们从中午就开始熬汤，我们品尝在我们面前手工拉制的面条，"
        "人群还在不断地聚集，夜市越来越热闹，灯笼一盏接一盏地亮了起来");
    for (qint64 seq = 1; seq <= 3; ++seq) {
        const bool final = seq < 3;
        sendCaption(seq, final ? "asr.final" : "asr.partial", source);
        sendCaption(seq, final ? "translation.final" : "translation.partial", target);
    }
    ASSERT_TRUE(waitFor([&] {
        const auto &captions = model->transcript().captions();
        return captions.size() == 3 && captions.last().target == target;
    }));

    struct Arrangement {
        const char *name;
        bool showTranslation, showSource, sourceOnTop;
    };
    const Arrangement arrangements[] = {
        { "translation-on-top", true, true, false },
        { "source-on-top", true, true, true },
        { "translation-alone", true, false, false },
        { "source-alone", false, true, false },
    };
    const std::pair<FloatingStyle, const char *> styles[] = {
        { FloatingStyle::light, "light" },
        { FloatingStyle::dark, "dark" },
        { FloatingStyle::outline, "outline" },
    };
    auto view = makeView();
    QEvent leave(QEvent::Leave); // as the window looks with the pointer elsewhere
    QApplication::sendEvent(view.get(), &leave);
    QWidget *viewport = view->captions().scrollArea().viewport();
    const auto inViewport = [&](const QWidget &widget) {
        return QRect(widget.mapTo(viewport, QPoint()), widget.size());
    };
    for (const auto &[style, styleName] : styles) {
        for (const Arrangement &arrangement : arrangements) {
            for (int lines = FloatingSettings::minimumLines;
                 lines <= FloatingSettings::maximumLines; ++lines) {
                FloatingSettings settings = largest(style);
                settings.translationLines = settings.sourceLines = lines;
                settings.showTranslation = arrangement.showTranslation;
                settings.showSource = arrangement.showSource;
                settings.sourceOnTop = arrangement.sourceOnTop;
                view->setSettings(settings);
                view->resize(1280, 0); // as low as the window goes
                settle();
                const std::string name = std::string(styleName) + " " + arrangement.name + " "
                    + std::to_string(lines) + " lines";

                // The newest caption shows its newest lines, all of them, below the fade band.
                FloatingLine *newest = latestLine(*view);
                ASSERT_NE(newest, nullptr);
                if (arrangement.showTranslation) {
                    EXPECT_EQ(newest->translationView().shownLineCount(), lines) << name;
                    EXPECT_TRUE(newest->targetText().endsWith(QStringLiteral("亮了起来 ▏")))
                        << name;
                }
                if (arrangement.showSource) {
                    EXPECT_EQ(newest->sourceView().shownLineCount(), lines) << name;
                }
                const QRect newestPlace = inViewport(*newest);
                EXPECT_TRUE(viewport->rect().contains(newestPlace)) << name;
                EXPECT_GE(newestPlace.top(), view->captions().options().fade) << name;

                // Every row drawn in the list lies whole inside it, apart from every other; so
                // do the two languages inside a row.
                QList<QRect> drawn;
                for (int i = 0; i < view->captions().rowCount(); ++i) {
                    auto *row = static_cast<FloatingLine *>(view->captions().rowAt(i));
                    const QRect place = inViewport(*row);
                    if (row->isHidden() || !place.intersects(viewport->rect()))
                        continue;
                    EXPECT_TRUE(viewport->rect().contains(place))
                        << name << ": row " << i << " at " << place.top() << "…" << place.bottom()
                        << " in " << viewport->height();
                    for (const QRect &other : std::as_const(drawn))
                        EXPECT_FALSE(place.intersects(other)) << name << ": row " << i;
                    drawn.append(place);
                    const QRect translation = inViewport(row->translationView());
                    const QRect sourcePlace = inViewport(row->sourceView());
                    if (row->targetText().size() > 0 && row->sourceShown()) {
                        EXPECT_FALSE(translation.intersects(sourcePlace)) << name << ": row " << i;
                    }
                }
                EXPECT_FALSE(drawn.isEmpty()) << name;
                if (lines == 2 && arrangement.showTranslation && arrangement.showSource
                    && !arrangement.sourceOnTop) {
                    const QString file = TestSupport::screenshotPath(
                        QStringLiteral("11-floating-%1-largest.png").arg(QLatin1String(styleName)));
                    EXPECT_TRUE(overVideo(*view).save(file));
                }
            }
        }
    }
}

TEST_F(FloatingLookTest, ATextShowingItsNewestLinesDrawsNothingOfTheLinesAbove)
{
    // The hidden first line is all descenders, which reach furthest into the line below.
    const QString separator(QChar::LineSeparator);
    const QString shown = QStringLiteral("second line") + separator + QStringLiteral("third line");
    for (const QColor &outline : { QColor(), QColor(Qt::black) }) {
        CaptionTextView::Look look;
        look.font = Theme::font(40, QFont::DemiBold);
        look.text = Qt::white;
        look.outline = outline;
        auto draw = [&](const QString &text, int maxLines) {
            CaptionTextView view;
            look.maxLines = maxLines;
            view.setLook(look);
            view.setContent(text);
            view.resize(600, view.heightForWidth(600));
            return view.grab().toImage();
        };
        const QImage trimmed = draw(QStringLiteral("gjpqy gyjpq") + separator + shown, 2);
        const QImage alone = draw(shown, 0);
        EXPECT_EQ(trimmed.size(), alone.size()) << outline.isValid();
        EXPECT_TRUE(trimmed == alone) << "outline: " << outline.isValid();
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
