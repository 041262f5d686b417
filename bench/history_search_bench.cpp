// Searching the history: a journal of 50,000 captions (250 sessions of 200, English → Chinese and
// Chinese → English, sentences built from a varied vocabulary) searched for a common word, a rare
// word, two words, Chinese words of two and four characters and words of both languages. Reported
// as the median and 90th percentile of one search in the journal, and of the history window's
// search, which also lists up to 500 results.
#include "BenchSupport.h"

#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Screens/History/HistoryWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

constexpr int sessionCount = 250;
constexpr int captionsPerSession = 200;

// Sentences are put together from these parts, the same choice giving both languages.
struct Part {
    const char *english;
    const char *chinese;
};
const Part subjects[] = { { "People in the city", "城里的人们" }, { "The mayor", "市长" },
    { "Our reporter", "我们的记者" }, { "The weather service", "气象部门" },
    { "Shoppers at the night market", "夜市的顾客" }, { "The football team", "足球队" },
    { "Many families", "许多家庭" }, { "The central bank", "中央银行" },
    { "Local farmers", "当地农民" }, { "The orchestra", "管弦乐团" },
    { "Two students", "两名学生" }, { "The airline", "航空公司" },
    { "Our guest tonight", "今晚的嘉宾" } };
const Part verbs[] = { { "talked about", "谈到了" }, { "are worried about", "担心" },
    { "announced", "宣布了" }, { "will report on", "将报道" }, { "celebrated", "庆祝了" },
    { "voted against", "投票反对" }, { "are looking forward to", "期待着" },
    { "explained", "解释了" }, { "complained about", "抱怨" } };
const Part objects[] = { { "the weather forecast", "天气预报" },
    { "rising market prices", "上涨的市场价格" }, { "the new train line", "新的火车线路" },
    { "the music festival", "音乐节" }, { "the school holidays", "学校假期" },
    { "the price of rice", "大米的价格" }, { "the flooded river", "涨水的河流" },
    { "a new hospital", "一家新医院" }, { "the election results", "选举结果" },
    { "the street food", "街头小吃" }, { "cheaper flights", "更便宜的航班" } };
const Part times[] = { { "this morning", "今天早上" }, { "on Friday", "星期五" },
    { "last week", "上周" }, { "after the storm", "暴风雨过后" },
    { "for the first time", "第一次" }, { "again", "再次" }, { "tonight", "今晚" } };
// One caption in about ten thousand.
const Part rareObject = { "a zebra that escaped from the zoo", "一匹从动物园逃走的斑马" };

struct Sentence {
    QString english;
    QString chinese;
};

Sentence sentence(int seed)
{
    const Part &subject = subjects[seed % std::size(subjects)];
    const Part &verb = verbs[(seed / 3 + seed) % std::size(verbs)];
    const Part &object
        = seed % 9973 == 17 ? rareObject : objects[(seed * 7 + seed / 11) % std::size(objects)];
    const Part &time = times[(seed / 5) % std::size(times)];
    return { QStringLiteral("%1 %2 %3 %4.")
                 .arg(QString::fromUtf8(subject.english), QString::fromUtf8(verb.english),
                     QString::fromUtf8(object.english), QString::fromUtf8(time.english)),
        QString::fromUtf8(time.chinese) + QString::fromUtf8(subject.chinese)
            + QString::fromUtf8(verb.chinese) + QString::fromUtf8(object.chinese)
            + QStringLiteral("。") };
}

struct History {
    QTemporaryDir folder;
    std::unique_ptr<CaptionJournal> journal;
    std::unique_ptr<HistoryWindow> window;
};

History &history()
{
    static History made = [] {
        History history;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
            history.folder.filePath(QStringLiteral("config")));
        CaptionJournal::Options options;
        options.retainedSessions = sessionCount;
        history.journal = CaptionJournal::open(
            history.folder.filePath(QStringLiteral("journal.sqlite3")), options);
        int seed = 0;
        const qint64 firstStart = 1'735'689'600'000; // a session a day or so from 2025 on
        for (int session = 1; session <= sessionCount; ++session) {
            const bool fromChinese = session % 10 < 3;
            const qint64 id = history.journal->beginSession({ session,
                fromChinese ? QStringLiteral("ZH_EN") : QStringLiteral("EN_ZH"),
                fromChinese ? QStringLiteral("中文 → English") : QStringLiteral("English → 中文"),
                QStringLiteral("全电脑播放音频"), firstStart + session * 90'000'000LL });
            for (int sequence = 1; sequence <= captionsPerSession; ++sequence, ++seed) {
                const Sentence said = sentence(seed);
                history.journal->append({ id, sequence, fromChinese ? said.chinese : said.english,
                    fromChinese ? said.english : said.chinese, sequence * 3500,
                    sequence * 3500 + 2800 });
            }
            history.journal->endSession(id, firstStart + session * 90'000'000LL + 720'000);
            if (!history.journal->flush(60s))
                Bench::fail(QStringLiteral("the journal did not take the captions"));
        }
        history.window
            = std::make_unique<HistoryWindow>(history.journal.get(), TranscriptExport {});
        history.window->show();
        QCoreApplication::processEvents();
        return history;
    }();
    return made;
}

void journalSearch(benchmark::State &state, const char *words)
{
    CaptionJournal &journal = *history().journal;
    const QString query = QString::fromUtf8(words);
    std::vector<double> samples;
    qint64 hits = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        hits = journal.search(query, HistoryWindow::searchLimit).size();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    Bench::reportLatency(state, samples);
    state.counters["hits"] = double(hits);
}

// What the user waits for: the search, and the list of its results drawn.
void windowSearch(benchmark::State &state, const char *words)
{
    HistoryWindow &window = *history().window;
    const QString query = QString::fromUtf8(words);
    std::vector<double> samples;
    for (auto _ : state) {
        window.search(QString());
        QElapsedTimer timer;
        timer.start();
        window.search(query);
        window.list().viewport()->repaint();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    Bench::reportLatency(state, samples);
    state.counters["hits"] = double(window.list().count());
}

#define SEARCHES(function)                                                                         \
    BENCHMARK_CAPTURE(function, common_word, "people")->Unit(benchmark::kMillisecond);             \
    BENCHMARK_CAPTURE(function, rare_word, "zebra")->Unit(benchmark::kMillisecond);                \
    BENCHMARK_CAPTURE(function, two_words, "market prices")->Unit(benchmark::kMillisecond);        \
    BENCHMARK_CAPTURE(function, chinese_two_characters, "天气")->Unit(benchmark::kMillisecond);    \
    BENCHMARK_CAPTURE(function, chinese_four_characters, "天气预报")                               \
        ->Unit(benchmark::kMillisecond);                                                           \
    BENCHMARK_CAPTURE(function, rare_chinese_two_characters, "斑马")                               \
        ->Unit(benchmark::kMillisecond);                                                           \
    BENCHMARK_CAPTURE(function, both_languages, "weather 天气")->Unit(benchmark::kMillisecond)

SEARCHES(journalSearch);
SEARCHES(windowSearch);

} // namespace

int main(int argc, char **argv)
{
    // The history window is measured with its list drawn, without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    history().window.reset();
    return 0;
}
