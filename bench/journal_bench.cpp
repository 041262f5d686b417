// The caption journal: appending a final caption (what the event loop pays) and searching a
// journal of 50,000 captions (100 sessions of 500), the size a long history reaches.
#include "BenchSupport.h"

#include "TranslateMac/Journal/CaptionJournal.h"

#include <QTemporaryDir>

#include <memory>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

const QStringList englishWords { "the", "meeting", "starts", "at", "nine", "weather", "report",
    "market", "prices", "rose", "today", "people", "travel", "music", "concert", "hello" };
const QStringList chineseWords { "会议", "九点", "开始", "天气", "预报", "市场", "价格", "今天",
    "上涨", "人们", "旅行", "音乐", "会", "你好", "实时", "翻译" };

QString sentence(const QStringList &words, int seed, const QString &separator)
{
    // Eight words in a row from a point that wanders through the list.
    QStringList picked;
    const int first = (seed * 7 + seed / 16) % words.size();
    for (int i = 0; i < 8; ++i)
        picked << words[(first + i) % words.size()];
    return picked.join(separator);
}

struct Filled {
    QTemporaryDir folder;
    std::unique_ptr<CaptionJournal> journal;
};

Filled &filledJournal()
{
    static Filled filled = [] {
        Filled made;
        CaptionJournal::Options options;
        options.retainedSessions = 100;
        made.journal = CaptionJournal::open(made.folder.path() + "/journal.sqlite3", options);
        int seed = 0;
        for (int session = 1; session <= 100; ++session) {
            const qint64 id = made.journal->beginSession(
                { session, "EN_ZH", "English → 中文", "全电脑播放音频", 1'700'000'000'000 });
            for (int sequence = 1; sequence <= 500; ++sequence, ++seed) {
                made.journal->append({ id, sequence, sentence(englishWords, seed, " "),
                    sentence(chineseWords, seed, QString()), sequence * 1000,
                    sequence * 1000 + 900 });
            }
            if (!made.journal->flush(60s))
                Bench::fail("the journal did not take 50,000 captions");
        }
        return made;
    }();
    return filled;
}

void searchBenchmark(benchmark::State &state, const char *words)
{
    CaptionJournal &journal = *filledJournal().journal;
    qint64 hits = 0;
    for (auto _ : state)
        hits = journal.search(QString::fromUtf8(words)).size();
    state.counters["hits"] = double(hits);
}

BENCHMARK_CAPTURE(searchBenchmark, english_word, "weather")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchBenchmark, two_english_words, "market prices")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchBenchmark, chinese_two_characters, "天气")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchBenchmark, chinese_four_characters, "天气预报")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchBenchmark, both_languages, "weather 天气")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchBenchmark, absent_word, "zebra")->Unit(benchmark::kMillisecond);
// A word too short for the index that is found nowhere: every caption is scanned.
BENCHMARK_CAPTURE(searchBenchmark, absent_short_word, "zq")->Unit(benchmark::kMillisecond);

void appendBenchmark(benchmark::State &state)
{
    QTemporaryDir folder;
    auto journal = CaptionJournal::open(folder.path() + "/journal.sqlite3");
    const qint64 id = journal->beginSession({ 1, "EN_ZH", "English → 中文", "全电脑播放音频", 0 });
    qint64 sequence = 0;
    for (auto _ : state) {
        ++sequence;
        journal->append({ id, sequence, "the weather report for today", "今天的天气预报",
            sequence * 1000, sequence * 1000 + 900 });
        if (sequence % 5000 == 0) {
            state.PauseTiming();
            journal->flush(60s);
            state.ResumeTiming();
        }
    }
    journal->flush(60s);
}

BENCHMARK(appendBenchmark)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv);
}
