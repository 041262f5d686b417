#include "ScreenFixture.h"

#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Screens/Captions/FloatingLine.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Captions/SteadyText.h"

using namespace TranslateMac;
using TranslateCore::Caption;

namespace {

class LastShownRow : public CaptionRowView {
public:
    void showCaption(const ShownCaption &caption, bool) override { last = caption; }
    ShownCaption last;
};

struct Update {
    QString text;
    bool final = false;
};

struct Case {
    const char *name;
    QList<Update> updates;
    QString shown; // after the last update
    QString settled; // the settled beginning of it
};

class SteadyCaptionsTest : public ScreenTest { };

} // namespace

TEST_F(SteadyCaptionsTest, RepeatedWordsSettleAndOnlyTheTailFollowsTheService)
{
    const Case cases[] = {
        { "a first partial settles nothing", { { "The cat" } }, "The cat", "" },
        { "a word repeated in the next update settles", { { "The cat" }, { "The cat sat" } },
            "The cat sat", "The " },
        { "the last word of a partial never settles", { { "The cat" }, { "The cat " } }, "The cat ",
            "The " },
        { "settled words stay when the service rewrites them",
            { { "I scream for" }, { "I scream for ice" }, { "Ice cream for ice cream" } },
            "I scream for ice cream", "I scream " },
        { "the final text replaces everything and settles it",
            { { "I scream for" }, { "I scream for ice" }, { "Ice cream for everyone", true } },
            "Ice cream for everyone", "Ice cream for everyone" },
        { "a shorter partial keeps the settled words", { { "a b c" }, { "a b c d" }, { "a b" } },
            "a b ", "a b " },
        { "Chinese settles character by character",
            { { "今天" }, { "今天天气" }, { "今天天气很好" } }, "今天天气很好", "今天天" },
        { "a blank text shows nothing", { { "" } }, "", "" },
    };
    for (const Case &c : cases) {
        auto *row = new LastShownRow;
        FollowingCaptions list({}, [row] { return row; });
        Caption caption { 1, QString(), QString(), false, false };
        for (const Update &update : c.updates) {
            caption.target = update.text;
            caption.targetFinal = update.final;
            list.setCaptions({ caption });
        }
        EXPECT_EQ(row->last.target, c.shown) << c.name;
        const qsizetype settled = row->last.targetSettled;
        EXPECT_EQ(row->last.target.left(settled), c.settled) << c.name;
    }
}

TEST_F(SteadyCaptionsTest, TheSourceLineFollowsTheSameRuleOnItsOwn)
{
    auto *row = new LastShownRow;
    FollowingCaptions list({}, [row] { return row; });
    list.setCaptions({ { 1, "one two", "", false, false } });
    list.setCaptions({ { 1, "one two three", "", false, false } });
    list.setCaptions({ { 1, "one two three", "一", false, false } }); // only the translation moved
    EXPECT_EQ(row->last.source.left(row->last.sourceSettled), "one ");
    EXPECT_EQ(row->last.targetSettled, 0);
}

TEST_F(SteadyCaptionsTest, WordsAndErasureAreCountedAsAReaderSeesThem)
{
    EXPECT_EQ(SteadyText::words("I am  here"), QStringList({ "I ", "am  ", "here" }));
    EXPECT_EQ(SteadyText::words("今天, ok"), QStringList({ "今", "天", ", ", "ok" }));
    EXPECT_EQ(SteadyText::words("  lead"), QStringList({ "  lead" }));
    struct Erasure {
        QString before, after;
        qsizetype erased;
    };
    const Erasure cases[] = {
        { "the cat", "the cat sat", 0 },
        { "the ca", "the cat", 0 }, // a word growing at the end is not erased
        { "the cat sat", "the dog sat", 2 },
        { "the cat sat", "", 3 },
        { "", "anything", 0 },
    };
    for (const Erasure &e : cases)
        EXPECT_EQ(SteadyText::erasedWords(e.before, e.after), e.erased)
            << e.before.toStdString() << " → " << e.after.toStdString();
}

TEST_F(SteadyCaptionsTest, TheFloatingLineDimsOnlyTheChangingTail)
{
    signIn();
    startListening();
    auto view = std::make_unique<FloatingSubtitleView>(*model);
    view->resize(700, 220);
    view->show();
    sendCaption(1, "translation.partial", "今天");
    sendCaption(1, "translation.partial", "今天天气");
    ASSERT_TRUE(waitFor([&] {
        auto *line = static_cast<FloatingLine *>(view->captions().rowAt(0));
        return line && line->translationView().text() == "今天天气";
    }));
    auto *line = static_cast<FloatingLine *>(view->captions().rowAt(0));
    EXPECT_EQ(line->translationView().settledLength(), 1);
    EXPECT_TRUE(line->translationView().look().changing.isValid());
    EXPECT_NE(line->translationView().look().changing, line->translationView().look().text);
    screenshot(*view, "12-floating-steady-tail");
}
