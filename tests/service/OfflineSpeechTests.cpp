#include "support/LocalServiceProcess.h"
#include "support/SpeechTestSupport.h"
#include "support/TestSupport.h"
#include "support/TextSession.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

struct Sentence {
    QString spoken;
    QString spanish;
    QString catalan;
};

const QList<Sentence> sentences {
    { "the weather is nice today", "El tiempo es bueno hoy", "Els temps són bons avui" },
    // Untranslated without capitals: "i Estoy yendo casa en friday".
    { "i am going home on friday", "Estoy yendo casa el viernes", "Estic anant casa en divendres" },
    { "where is the train station", "Dónde es la canal de tren", "On és l'estació de tren" },
};

// A live socket of a new session on `route`, recording every event it receives.
class SpeechSocket {
public:
    SpeechSocket(LocalServiceProcess &service, const QString &route,
        const QString &phone = QStringLiteral("13500000001"))
    {
        const QString token = signInByPhone(service, phone);
        const QJsonObject audio { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
            { "channels", 1 } };
        const ServiceAnswer created = callService(service, "POST",
            QStringLiteral("v1/translation/sessions"),
            { { "routeCode", route }, { "outputMode", "TEXT_ONLY" }, { "historyEnabled", false },
                { "clientType", "H5" }, { "clientVersion", "macOS-1.0.0" }, { "audio", audio } },
            token);
        const QString url = created.envelope["data"]["wsUrl"].toString();
        EXPECT_FALSE(url.isEmpty()) << QJsonDocument(created.envelope).toJson().toStdString();
        m_socket.setSslConfiguration(service.tlsConfiguration());
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            events.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        m_socket.open(QUrl(url));
        EXPECT_TRUE(TestSupport::spinUntil([&] { return count("session.ready") == 1; }, 10s));
    }

    // Sends `pcm` in 100 ms frames.
    void play(const QByteArray &pcm)
    {
        for (qsizetype at = 0; at < pcm.size(); at += 3200)
            m_socket.sendBinaryMessage(pcm.mid(at, 3200));
        m_socket.flush();
    }
    void send(const QString &type)
    {
        m_socket.sendTextMessage(QStringLiteral("{\"type\":\"%1\"}").arg(type));
    }
    int count(const QString &type) const { return int(texts(type).size()); }
    QStringList texts(const QString &type) const
    {
        QStringList out;
        for (const QJsonObject &event : events) {
            if (event["type"] == type)
                out.append(event["text"].toString(event["type"].toString()));
        }
        return out;
    }
    // The position of the first event of `type` for `segment`, or -1.
    qsizetype firstIndex(const QString &type, qint64 segment) const
    {
        for (qsizetype i = 0; i < events.size(); ++i) {
            if (events[i]["type"] == type && events[i]["segmentSeq"].toInteger() == segment)
                return i;
        }
        return -1;
    }
    bool waitFor(const QString &type, int count, std::chrono::milliseconds limit = 20s)
    {
        return TestSupport::spinUntil([&] { return this->count(type) >= count; }, limit);
    }

    QList<QJsonObject> events;

private:
    QWebSocket m_socket;
};

// Ends every process the service started (the translation pipeline's stages).
int killChildren(qint64 parent)
{
    int killed = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == parent
            && ::kill(pid_t(pid.toInt()), SIGKILL) == 0)
            ++killed;
    }
    return killed;
}

class OfflineSpeech : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<QTemporaryDir>();
        QStringList spoken;
        for (const Sentence &sentence : sentences) {
            spoken.append(sentence.spoken);
            speech.append(SpeechTestSupport::spoken(sentence.spoken, folder->path()));
        }
        grammar = folder->filePath(QStringLiteral("sentences.gram"));
        SpeechTestSupport::writeGrammar(spoken, grammar);
    }
    static void TearDownTestSuite()
    {
        speech.clear();
        folder.reset();
    }
    void SetUp() override
    {
        for (const QByteArray &pcm : speech)
            ASSERT_GT(pcm.size(), 16000) << "espeak-ng and sox must be installed";
    }

    std::unique_ptr<LocalServiceProcess> startService(const QStringList &extra = {})
    {
        auto service = std::make_unique<LocalServiceProcess>(
            QStringList { "--recogniser", "speech", "--speech-grammar", grammar } + extra);
        EXPECT_TRUE(service->isRunning()) << service->failure().toStdString();
        return service;
    }
    // The sentence `index` between half a second of silence and a second, the pause that ends it.
    static QByteArray utterance(int index)
    {
        return SpeechTestSupport::silence(500) + speech[index] + SpeechTestSupport::silence(1000);
    }

    static inline std::unique_ptr<QTemporaryDir> folder;
    static inline QList<QByteArray> speech;
    static inline QString grammar;
};

TEST_F(OfflineSpeech, OffersTheRoutesItsInstalledPairsServe)
{
    // Debian's pairs, and a folder that holds only the English-Spanish one.
    const QString onlySpanish = folder->filePath(QStringLiteral("only-spanish"));
    QDir().mkpath(onlySpanish);
    ASSERT_TRUE(QFile::copy(QStringLiteral("/usr/share/apertium/modes/eng-spa.mode"),
        QDir(onlySpanish).filePath(QStringLiteral("eng-spa.mode"))));
    const QList<std::pair<QString, QStringList>> cases {
        { QStringLiteral("/usr/share/apertium/modes"), { "EN_ES", "EN_CA" } },
        { onlySpanish, { "EN_ES" } },
    };
    for (const auto &[modes, expected] : cases) {
        auto service = startService({ "--apertium-modes", modes });
        const QString token = signInByPhone(*service, QStringLiteral("13500000002"));
        const QJsonArray routes
            = callService(*service, "GET", QStringLiteral("v1/translation/routes"), {}, token)
                  .envelope["data"]
                  .toArray();
        QStringList codes;
        for (const QJsonValue &route : routes)
            codes.append(route["routeCode"].toString());
        EXPECT_EQ(codes, expected) << modes.toStdString();
    }
}

struct RouteCase {
    const char *route;
    QString Sentence::*translation;
};

class OfflineSpeechRoute : public OfflineSpeech,
                           public ::testing::WithParamInterface<RouteCase> { };

TEST_P(OfflineSpeechRoute, SpokenSentencesArriveAsThemselvesWithTheirTranslations)
{
    auto service = startService();
    SpeechSocket socket(*service, GetParam().route);
    for (int i = 0; i < sentences.size(); ++i)
        socket.play(utterance(i));
    ASSERT_TRUE(socket.waitFor("translation.final", int(sentences.size())))
        << socket.texts("asr.final").join(" / ").toStdString();

    QStringList spoken;
    QStringList translated;
    for (const Sentence &sentence : sentences) {
        spoken.append(sentence.spoken);
        translated.append(sentence.*GetParam().translation);
    }
    EXPECT_EQ(socket.texts("asr.final"), spoken);
    EXPECT_EQ(socket.texts("translation.final"), translated);
    for (qint64 segment = 1; segment <= sentences.size(); ++segment) {
        const qsizetype partial = socket.firstIndex("asr.partial", segment);
        EXPECT_GE(partial, 0) << "segment " << segment;
        EXPECT_LT(partial, socket.firstIndex("asr.final", segment)) << "segment " << segment;
        EXPECT_LT(socket.firstIndex("asr.final", segment),
            socket.firstIndex("translation.final", segment));
    }

    socket.send("session.finish");
    ASSERT_TRUE(socket.waitFor("session.finished", 1, 10s));
    const QJsonArray sessions = service->control("GET", "/control/sessions")["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_TRUE(sessions.first()["settled"].toBool());
}

INSTANTIATE_TEST_SUITE_P(Pairs, OfflineSpeechRoute,
    ::testing::Values(
        RouteCase { "EN_ES", &Sentence::spanish }, RouteCase { "EN_CA", &Sentence::catalan }),
    [](const auto &info) { return std::string(info.param.route); });

// A later session gets a recogniser that an earlier one used: it starts afresh.
TEST_F(OfflineSpeech, SessionAfterAnotherIsRecognisedFromItsOwnStart)
{
    auto service = startService();
    {
        SpeechSocket first(*service, "EN_ES", QStringLiteral("13500000003"));
        first.play(utterance(0) + speech[1].left(16000)); // ends inside a sentence
        ASSERT_TRUE(first.waitFor("translation.final", 1));
        first.send("session.finish");
        ASSERT_TRUE(first.waitFor("session.finished", 1, 10s));
    }
    SpeechSocket second(*service, "EN_ES", QStringLiteral("13500000004"));
    second.play(utterance(2));
    ASSERT_TRUE(second.waitFor("translation.final", 1));
    EXPECT_EQ(second.texts("asr.final"), QStringList { sentences[2].spoken });
    EXPECT_EQ(second.texts("translation.final"), QStringList { sentences[2].spanish });
    EXPECT_EQ(second.events.last()["segmentSeq"].toInteger(), 1);
}

// Finishing while someone still speaks: the open segment is closed, and its translation arrives
// before the session's end is announced.
TEST_F(OfflineSpeech, FinishDuringSpeechStillDeliversTheLastTranslationBeforeTheEnd)
{
    auto service = startService();
    SpeechSocket socket(*service, "EN_ES");
    socket.play(SpeechTestSupport::silence(500) + speech[2]);
    socket.send("session.finish");
    ASSERT_TRUE(socket.waitFor("session.finished", 1, 10s));
    EXPECT_EQ(socket.texts("asr.final"), QStringList { sentences[2].spoken });
    EXPECT_EQ(socket.texts("translation.final"), QStringList { sentences[2].spanish });
    EXPECT_LT(socket.firstIndex("translation.final", 1), socket.events.size() - 1);
    EXPECT_EQ(socket.events.last()["type"], "session.finished");
}

TEST_F(OfflineSpeech, KilledTranslatorIsRestartedAndTheNextCaptionStillArrives)
{
    auto service = startService();
    SpeechSocket socket(*service, "EN_ES");
    socket.play(utterance(0));
    ASSERT_TRUE(socket.waitFor("translation.final", 1));
    EXPECT_GT(killChildren(service->processId()), 0);

    socket.play(utterance(1));
    ASSERT_TRUE(socket.waitFor("translation.final", 2));
    EXPECT_EQ(socket.texts("asr.final").value(1), sentences[1].spoken);
    // A translation in flight may come back untranslated; the next one is translated again.
    socket.play(utterance(2));
    ASSERT_TRUE(socket.waitFor("translation.final", 3));
    EXPECT_EQ(socket.texts("translation.final").value(2), sentences[2].spanish);
}

// A pair whose translator never works: its one stage reads and never answers, or cannot start.
struct BrokenTranslator {
    const char *name;
    QByteArray stageScript; // empty: the stage's program does not exist
};

class OfflineSpeechBrokenTranslator : public OfflineSpeech,
                                      public ::testing::WithParamInterface<BrokenTranslator> { };

TEST_P(OfflineSpeechBrokenTranslator, CaptionsArriveUntranslatedWithoutStallingTheSession)
{
    const QString modes = folder->filePath(QString::fromLatin1(GetParam().name));
    QDir().mkpath(modes);
    const QString stage = QDir(modes).filePath(QStringLiteral("stage"));
    if (!GetParam().stageScript.isEmpty()) {
        QFile script(stage);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(GetParam().stageScript);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QFile mode(QDir(modes).filePath(QStringLiteral("eng-spa.mode")));
    ASSERT_TRUE(mode.open(QIODevice::WriteOnly));
    mode.write("'" + stage.toUtf8() + "'\n");
    mode.close();

    auto service = startService({ "--apertium-modes", modes, "--translation-timeout-ms", "300" });
    SpeechSocket socket(*service, "EN_ES");
    socket.play(utterance(0) + utterance(1));
    ASSERT_TRUE(socket.waitFor("translation.final", 2, 10s));
    // Untranslated, but written as English is written.
    EXPECT_EQ(socket.texts("translation.final"),
        QStringList({ "The weather is nice today", "I am going home on Friday" }));
    socket.send("session.finish");
    EXPECT_TRUE(socket.waitFor("session.finished", 1, 5s));
}

INSTANTIATE_TEST_SUITE_P(Failures, OfflineSpeechBrokenTranslator,
    ::testing::Values(BrokenTranslator { "hangs", "#!/bin/sh\nexec sleep 600\n" },
        BrokenTranslator { "missing", {} }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
