#include "ScreenFixture.h"

#include "TranslateMac/Screens/Captions/FollowingCaptions.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>
#include <QWheelEvent>

using namespace TranslateMac;
using TranslateCore::Caption;
using namespace std::chrono_literals;

namespace {

class PlainRow : public CaptionRowView {
public:
    PlainRow() : m_label(new QLabel(this)) { setFixedHeight(40); }
    void showCaption(const ShownCaption &caption, bool) override
    {
        m_label->setText(caption.target);
    }

private:
    QLabel *m_label;
};

// A row whose text, like a wrapped caption, is as tall as its width makes it; it notes the widths
// it was measured at.
class MeasuredRow : public CaptionRowView {
public:
    MeasuredRow()
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(new Text(measuredAt, this));
    }
    void showCaption(const ShownCaption &, bool) override { }
    QSet<int> measuredAt;

private:
    class Text : public QWidget {
    public:
        Text(QSet<int> &measuredAt, QWidget *parent) : QWidget(parent), m_measuredAt(measuredAt)
        {
            QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
            policy.setHeightForWidth(true);
            setSizePolicy(policy);
        }
        bool hasHeightForWidth() const override { return true; }
        int heightForWidth(int width) const override
        {
            m_measuredAt.insert(width);
            return 4000 / std::max(width, 1) + 20;
        }
        QSize sizeHint() const override { return QSize(100, heightForWidth(100)); }

    private:
        QSet<int> &m_measuredAt;
    };
};

QList<Caption> captions(qint64 last, const QString &lastText = QStringLiteral("line"))
{
    QList<Caption> list;
    for (qint64 seq = 1; seq <= last; ++seq)
        list.append({ seq, QStringLiteral("source"),
            seq == last ? lastText : QStringLiteral("line"), true, true });
    return list;
}

// A window with a title above a caption list, shown offscreen.
class FollowingCaptionsTest : public ScreenTest {
protected:
    void build(bool pauseOnDrag)
    {
        window = std::make_unique<QWidget>();
        auto *column = new QVBoxLayout(window.get());
        title = new QLabel(QStringLiteral("title"), window.get());
        title->setFixedHeight(40);
        list = new FollowingCaptions(
            { 32, 18, pauseOnDrag, Qt::white }, [] { return new PlainRow; }, window.get());
        column->addWidget(title);
        column->addWidget(list);
        window->resize(320, 260);
        window->show();
        list->setCaptions(captions(20));
        settle();
    }

    void wheel(QWidget *target, QPoint local, double lines)
    {
        QWheelEvent event(local, target->mapToGlobal(local), QPoint(), QPoint(0, int(lines * 120)),
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }
    void wheelOnList(double lines)
    {
        QWidget *viewport = list->scrollArea().viewport();
        wheel(viewport, viewport->rect().center(), lines);
    }

    std::unique_ptr<QWidget> window;
    QLabel *title = nullptr;
    FollowingCaptions *list = nullptr;
};

} // namespace

TEST_F(FollowingCaptionsTest, OnlyAScrollBackBeyondHalfALineStopsFollowing)
{
    build(true);
    EXPECT_TRUE(list->showsLatest());
    wheelOnList(0.5);
    EXPECT_TRUE(list->following());
    wheelOnList(-2); // towards the newest
    EXPECT_TRUE(list->following());
    wheelOnList(0.6);
    EXPECT_FALSE(list->following());
    EXPECT_TRUE(list->returnButton().isVisible());
    EXPECT_EQ(list->returnButton().text(), "回到最新");
    EXPECT_EQ(list->returnButton().toolTip(), "回到最新字幕并继续跟随");
}

TEST_F(FollowingCaptionsTest, ScrollingElsewhereNeverStopsFollowing)
{
    build(true);
    wheel(title, title->rect().center(), 3); // same window, outside the list
    EXPECT_TRUE(list->following());
    QWidget other;
    other.resize(200, 200);
    other.show();
    settle();
    wheel(&other, other.rect().center(), 3);
    EXPECT_TRUE(list->following());
}

TEST_F(FollowingCaptionsTest, DraggingInsideTheListStopsFollowingOnlyWhereAsked)
{
    for (bool pauseOnDrag : { false, true }) {
        build(pauseOnDrag);
        QWidget *viewport = list->scrollArea().viewport();
        const QPointF inside = viewport->rect().center();
        QMouseEvent drag(QEvent::MouseMove, inside, viewport->mapToGlobal(inside), Qt::NoButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drag);
        EXPECT_EQ(list->following(), !pauseOnDrag) << pauseOnDrag;
        // A move without the button is no drag.
        if (!pauseOnDrag) {
            QMouseEvent hover(QEvent::MouseMove, inside, viewport->mapToGlobal(inside),
                Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &hover);
            EXPECT_TRUE(list->following());
        }
    }
}

TEST_F(FollowingCaptionsTest, CountsNewCaptionsWhileReadingBackAndReturnsToTheLatest)
{
    build(true);
    wheelOnList(1);
    ASSERT_FALSE(list->following());
    list->scrollArea().verticalScrollBar()->setValue(0);
    list->setCaptions(captions(21));
    list->setCaptions(captions(21, QStringLiteral("revised"))); // same last caption
    list->setCaptions(captions(22));
    list->setCaptions(captions(23));
    settle();
    EXPECT_EQ(list->unseen(), 3);
    EXPECT_EQ(list->returnButton().text(), "3 句新内容");
    EXPECT_EQ(list->scrollArea().verticalScrollBar()->value(), 0); // reading stays put

    list->returnButton().click();
    settle();
    EXPECT_TRUE(list->following());
    EXPECT_EQ(list->unseen(), 0);
    EXPECT_FALSE(list->returnButton().isVisible());
    EXPECT_TRUE(list->showsLatest());
    EXPECT_GT(list->scrollArea().verticalScrollBar()->value(), 0);
}

TEST_F(FollowingCaptionsTest, KeepsTheNewestCaptionInViewWhileFollowing)
{
    build(true);
    list->setCaptions(captions(40));
    settle();
    EXPECT_EQ(list->rowCount(), 40);
    EXPECT_TRUE(list->showsLatest());
    EXPECT_EQ(list->unseen(), 0);
}

TEST_F(FollowingCaptionsTest, AnimatedRowsSettleInPlaceAtTheBottom)
{
    qputenv("QUORVEL_REDUCE_MOTION", "0");
    build(true);
    list->setCaptions(captions(24));
    EXPECT_NE(list->rowAt(23)->graphicsEffect(), nullptr); // fading in
    // The fade and the scroll take 0.3 s.
    TestSupport::spinUntil([&] { return list->rowAt(23)->graphicsEffect() == nullptr; }, 2s);
    TestSupport::spinUntil([&] { return list->showsLatest(); }, 2s);
    EXPECT_EQ(list->rowAt(23)->graphicsEffect(), nullptr);
    EXPECT_EQ(list->rowAt(23)->contentsMargins().top(), 0);
    EXPECT_TRUE(list->showsLatest());
}

TEST_F(FollowingCaptionsTest, ANewCaptionRedrawsOnlyItselfAndTheFormerLatest)
{
    int shown = 0;
    class CountingRow : public PlainRow {
    public:
        explicit CountingRow(int &shown) : m_shown(shown) { }
        void showCaption(const ShownCaption &caption, bool latest) override
        {
            ++m_shown;
            PlainRow::showCaption(caption, latest);
        }

    private:
        int &m_shown;
    };
    FollowingCaptions list({ 32, 18, true, Qt::white }, [&] { return new CountingRow(shown); });
    list.setCaptions(captions(300));
    EXPECT_EQ(shown, 300);
    shown = 0;
    list.setCaptions(captions(301));
    EXPECT_EQ(shown, 2);
    shown = 0;
    list.setCaptions(captions(301, QStringLiteral("revised")));
    EXPECT_EQ(shown, 1);
}

TEST_F(FollowingCaptionsTest, ANewCaptionMeasuresTheRowsHeldOnlyAtTheirOwnWidth)
{
    // Measuring a wrapped text lays it out again: with hundreds of captions held, measuring each
    // at a second width on every event costs more than a frame.
    FollowingCaptions list({ 32, 18, true, Qt::white }, [] { return new MeasuredRow; });
    list.resize(320, 260);
    list.show();
    list.setCaptions(captions(40));
    settle();
    auto row = [&](int index) { return static_cast<MeasuredRow *>(list.rowAt(index)); };
    const int textWidth = row(0)->layout()->itemAt(0)->widget()->width();
    for (int i = 0; i < 40; ++i)
        row(i)->measuredAt.clear();
    list.setCaptions(captions(41));
    settle();
    for (int i = 0; i < 40; ++i) {
        for (const int width : std::as_const(row(i)->measuredAt))
            EXPECT_EQ(width, textWidth) << "row " << i;
    }
}

TEST_F(FollowingCaptionsTest, RemovedRowsInViewFadeOut)
{
    qputenv("QUORVEL_REDUCE_MOTION", "0");
    build(true);
    list->setCaptions(captions(3));
    const auto ghosts = [&] {
        return list->scrollArea().viewport()->findChildren<QLabel *>(
            QString(), Qt::FindDirectChildrenOnly);
    };
    // Whatever the list showed before has finished arriving and leaving.
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return list->rowAt(2)->graphicsEffect() == nullptr && ghosts().isEmpty(); }, 5s));
    list->setCaptions(captions(3).mid(1)); // the first caption is gone
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_EQ(ghosts().size(), 1);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return ghosts().isEmpty(); }, 5s));
}

TEST_F(FollowingCaptionsTest, WorkingTheScrollBarTowardsOlderCaptionsStopsFollowing)
{
    struct Case {
        const char *name;
        std::function<void(QScrollBar &)> act;
        bool stillFollowing;
    };
    const Case cases[] = {
        { "wheel back over the bar",
            [this](QScrollBar &bar) { wheel(&bar, bar.rect().center(), 1); }, false },
        { "wheel forward over the bar",
            [this](QScrollBar &bar) { wheel(&bar, bar.rect().center(), -1); }, true },
        { "drag the handle up",
            [](QScrollBar &bar) {
                bar.setSliderDown(true);
                bar.setSliderPosition(bar.maximum() / 2);
                bar.setSliderDown(false);
            },
            false },
        { "page up", [](QScrollBar &bar) { bar.triggerAction(QAbstractSlider::SliderPageStepSub); },
            false },
        { "page down at the end",
            [](QScrollBar &bar) { bar.triggerAction(QAbstractSlider::SliderPageStepAdd); }, true },
    };
    for (const Case &c : cases) {
        build(true);
        QScrollBar &bar = *list->scrollArea().verticalScrollBar();
        ASSERT_TRUE(list->showsLatest()) << c.name;
        c.act(bar);
        EXPECT_EQ(list->following(), c.stillFollowing) << c.name;
    }
}

TEST_F(FollowingCaptionsTest, FollowingsOwnScrollingNeverStopsIt)
{
    build(true);
    list->setCaptions(captions(60));
    settle();
    EXPECT_TRUE(list->following());
    EXPECT_TRUE(list->showsLatest());
}

TEST_F(FollowingCaptionsTest, ANewSessionStartsWithNoCountAndFollows)
{
    build(true);
    wheelOnList(1);
    list->setCaptions(captions(21));
    list->setCaptions(captions(22));
    ASSERT_EQ(list->unseen(), 2);
    bool told = false;
    QObject::connect(list, &FollowingCaptions::followingChanged, [&](bool on) { told = on; });
    list->setCaptions({}); // the model's new transcript
    EXPECT_EQ(list->unseen(), 0);
    EXPECT_TRUE(list->following());
    EXPECT_TRUE(told);
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_FALSE(list->returnButton().isVisible());
    list->setCaptions(captions(1)); // what the new session opens with is not news
    list->setCaptions(captions(2));
    EXPECT_EQ(list->unseen(), 0);
}
