#include "TranslateCore/Contract/CreatedSession.h"
#include "TranslateCore/Contract/Credentials.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/Quote.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Contract/TranslationRoute.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <vector>

using namespace TranslateCore;

namespace {

QJsonObject parseObject(const char *json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
    return document.object();
}

// The failure `body` throws, or nothing when it returns.
std::optional<TranslationFailure> failureOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const TranslationFailure &failure) {
        return failure;
    }
    return std::nullopt;
}

const QUrl productionBase
    = *ProductionEndpoint::baseForOrigin(ProductionEndpoint::productionOrigin);

} // namespace

TEST(ContractInteger, ReadsOnlyWholeDecimalValues)
{
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    // Each input is one JSON array element, so numbers go through the real parser.
    const std::pair<const char *, qint64> read[]
        = { { R"("42")", 42 }, { R"("+42")", 42 }, { R"("-7")", -7 }, { "42", 42 }, { "42.0", 42 },
              { "1e3", 1000 }, { "-0", 0 }, { R"("9223372036854775807")", max },
              { R"("-9223372036854775808")", min }, { "9223372036854775807", max } };
    const char *refused[]
        = { R"("")", R"("+")", R"("-")", R"("+-1")", R"(" 42")", R"("42 ")", R"("4.2")", R"("1e3")",
              R"("0x10")", R"("４２")", R"("9223372036854775808")", R"("-9223372036854775809")",
              "9223372036854775808", "4.2", "true", "false", "null", "[1]", R"({"a":1})" };
    const auto element = [](const char *json) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + json + "]");
        EXPECT_TRUE(document.isArray()) << json;
        return document.array().at(0);
    };
    for (const auto &[json, expected] : read) {
        SCOPED_TRACE(json);
        EXPECT_EQ(integer(element(json)), expected);
    }
    for (const char *json : refused) {
        SCOPED_TRACE(json);
        EXPECT_EQ(integer(element(json)), std::nullopt);
    }
    EXPECT_EQ(integer(QJsonValue(QJsonValue::Undefined)), std::nullopt);
    // Values built in code keep their double representation.
    EXPECT_EQ(integer(QJsonValue(42.0)), 42);
    EXPECT_EQ(integer(QJsonValue(-9223372036854775808.0)), min);
    EXPECT_EQ(integer(QJsonValue(9223372036854775808.0)), std::nullopt);
}

TEST(ContractFailure, MessagesFollowTheCode)
{
    EXPECT_EQ(TranslationFailure::rejected(429).errorDescription(), "操作太频繁，请稍后再试。");
    EXPECT_EQ(
        TranslationFailure::rejected(3015).errorDescription(), "这次翻译连接已过期，请重新开始。");
    EXPECT_EQ(
        TranslationFailure::rejected(500).errorDescription(), "请求未能完成（500），请稍后重试。");
    EXPECT_EQ(TranslationFailure::server("INSUFFICIENT_POINTS").errorDescription(),
        "积分已用完，翻译已结束。");
    for (const char *code : { "MOCK_REJECTED", "insufficient_points", "" }) {
        SCOPED_TRACE(code);
        EXPECT_EQ(
            TranslationFailure::server(code).errorDescription(), "翻译连接遇到错误，已停止监听。");
    }
    EXPECT_NE(TranslationFailure::rejected(42), TranslationFailure::invalidCreatedSession(42));
    EXPECT_NE(Credentials({ "a", "r" }), Credentials({ "a", "x" }));
}

TEST(ContractRoute, ReadsRequiredAndOptionalMembers)
{
    const TranslationRoute route = TranslationRoute::fromJson(parseObject(
        R"({"routeCode":"zh-en","displayName":"中文 → English","sourceLanguage":"zh","targetLanguage":7})"));
    EXPECT_EQ(route, (TranslationRoute { "zh-en", "中文 → English", "zh", "" }));
    EXPECT_EQ(route.id(), "zh-en");
    EXPECT_EQ(route.sourceName(), "中文");
    EXPECT_EQ(route.targetName(), "English");

    for (const char *json : { R"({"displayName":"x"})", R"({"routeCode":"x","displayName":1})",
             R"({"routeCode":null,"displayName":"x"})" }) {
        SCOPED_TRACE(json);
        EXPECT_EQ(failureOf([&] { TranslationRoute::fromJson(parseObject(json)); }),
            TranslationFailure::invalidResponse());
    }
}

TEST(ContractRoute, SplitsTheDisplayName)
{
    const auto named = [](const char *name) { return TranslationRoute { "c", name, "", "" }; };
    EXPECT_EQ(named("粤语").sourceName(), "粤语");
    EXPECT_EQ(named("粤语").targetName(), "译文");
    EXPECT_EQ(named("A → B → C").sourceName(), "A");
    EXPECT_EQ(named("A → B → C").targetName(), "B");
    EXPECT_EQ(named("A→B").targetName(), "译文");
}

TEST(ContractRoute, RightToLeftTargets)
{
    const struct {
        const char *language;
        bool rtl;
    } cases[] = { { "ar-EG", true }, { "ur", true }, { "he", true }, { "fa-IR", true },
        { "AR", false }, { "", false }, { "en-ar", false }, { "arz", false } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.language);
        EXPECT_EQ((TranslationRoute { "c", "n", "", c.language }).isTargetRTL(), c.rtl);
    }
}

TEST(ContractRoute, HashCoversEveryField)
{
    const TranslationRoute a { "c", "n", "s", "t" };
    QSet<TranslationRoute> routes { a, a, { "c", "n", "s", "u" }, { "c", "n", "x", "t" } };
    EXPECT_EQ(routes.size(), 3);
    EXPECT_EQ(qHash(a, 7), qHash(TranslationRoute(a), 7));
}

TEST(ContractQuote, ReadsPointsAndDefaultsTheMinimum)
{
    EXPECT_EQ(Quote::fromJson(parseObject(
                  R"({"canStart":true,"estimatedPointsPerMinute":12,"availablePoints":"300"})")),
        (Quote { true, 12, 300, 0 }));
    EXPECT_EQ(
        Quote::fromJson(parseObject(
            R"({"canStart":0,"estimatedPointsPerMinute":"12","availablePoints":5,"minimumStartPoints":"x"})")),
        (Quote { false, 12, 5, 0 }));
    EXPECT_EQ(
        Quote::fromJson(parseObject(
            R"({"canStart":1,"estimatedPointsPerMinute":1,"availablePoints":5,"minimumStartPoints":60})")),
        (Quote { true, 1, 5, 60 }));
}

TEST(ContractQuote, RefusesUnreadableRequiredMembers)
{
    for (const char *json : {
             R"({"estimatedPointsPerMinute":1,"availablePoints":1})",
             R"({"canStart":"true","estimatedPointsPerMinute":1,"availablePoints":1})",
             R"({"canStart":2,"estimatedPointsPerMinute":1,"availablePoints":1})",
             R"({"canStart":true,"estimatedPointsPerMinute":1.5,"availablePoints":1})",
             R"({"canStart":true,"estimatedPointsPerMinute":1})",
         }) {
        SCOPED_TRACE(json);
        EXPECT_EQ(failureOf([&] { Quote::fromJson(parseObject(json)); }),
            TranslationFailure::invalidResponse());
    }
}

namespace {

// The socket address on whichever service this build talks to.
QString serviceSocket(const char *pathAndQuery)
{
    return "wss://" + ProductionEndpoint::base().authority() + pathAndQuery;
}

QJsonObject sessionJson()
{
    QJsonObject json = parseObject(R"({"sessionId":42,"wsTicket":"t-1",
        "availablePoints":"900","reservedPoints":60,
        "inputAudio":{"encoding":"PCM_S16LE","sampleRate":16000,"channels":"1"}})");
    json["wsUrl"] = serviceSocket("/api/ws/v1/translation/42?ticket=old");
    return json;
}

} // namespace

TEST(ContractCreatedSession, KeepsTheAddressAsReceived)
{
    EXPECT_EQ(CreatedSession::fromJson(sessionJson()),
        (CreatedSession {
            42, serviceSocket("/api/ws/v1/translation/42?ticket=old"), "t-1", 900, 60 }));
}

TEST(ContractCreatedSession, ChecksInOrder)
{
    using Change = std::function<void(QJsonObject &)>;
    const auto set = [](std::initializer_list<std::pair<const char *, QJsonValue>> members) {
        return Change([list = std::vector(members)](QJsonObject &o) {
            for (const auto &[key, value] : list) {
                if (value.isUndefined())
                    o.remove(key);
                else
                    o[key] = value;
            }
        });
    };
    const auto audio = [](const char *encoding, int rate, int channels) {
        return QJsonObject { { "encoding", encoding }, { "sampleRate", rate },
            { "channels", channels } };
    };
    const QJsonValue absent(QJsonValue::Undefined);
    const QString elsewhere = "wss://evil.example/api/ws/v1/translation/42";
    const auto invalid = TranslationFailure::invalidResponse();
    const auto unsafe = TranslationFailure::unsafeAddress();
    const auto format = TranslationFailure::audioFormat();
    const struct {
        const char *description;
        Change change;
        TranslationFailure expected;
    } cases[] = {
        { "session id 0", set({ { "sessionId", 0 } }), invalid },
        { "empty ticket", set({ { "wsTicket", "" } }), invalid },
        { "address not a string", set({ { "wsUrl", 1 } }), invalid },
        { "reserved missing", set({ { "reservedPoints", absent } }), invalid },
        { "bad points first", set({ { "availablePoints", true }, { "wsUrl", elsewhere } }),
            invalid },
        { "another host", set({ { "wsUrl", elsewhere } }), unsafe },
        { "bad address first", set({ { "wsUrl", elsewhere }, { "inputAudio", absent } }), unsafe },
        { "48000 Hz", set({ { "inputAudio", audio("PCM_S16LE", 48000, 1) } }), format },
        { "stereo", set({ { "inputAudio", audio("PCM_S16LE", 16000, 2) } }), format },
        { "lower-case encoding", set({ { "inputAudio", audio("pcm_s16le", 16000, 1) } }), format },
        { "audio not an object", set({ { "inputAudio", QJsonArray() } }), format },
        { "audio missing", set({ { "inputAudio", absent } }), format },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        QJsonObject json = sessionJson();
        c.change(json);
        EXPECT_EQ(failureOf([&] { CreatedSession::fromJson(json); }), c.expected);
    }
}

TEST(ContractSocketURL, ReplacesTheTicketAndKeepsOtherItems)
{
    const QUrl url = ProductionEndpoint::socketURL(productionBase,
        "wss://API.quorvel.tech:443/api/ws/v1/translation/42?ticket=old&x=1&ticket=older&y=%2B",
        "new+t/k=n&%", 42);
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
        "wss://api.quorvel.tech:443/api/ws/v1/translation/"
        "42?x=1&y=%2B&ticket=new%2Bt%2Fk%3Dn%26%25");
    EXPECT_EQ(QUrlQuery(url).queryItemValue("ticket", QUrl::FullyDecoded), "new+t/k=n&%");
    EXPECT_EQ(ProductionEndpoint::socketURL(
                  productionBase, "wss://api.quorvel.tech/api/ws/v1/translation/7", "t", 7)
                  .toString(QUrl::FullyEncoded),
        "wss://api.quorvel.tech/api/ws/v1/translation/7?ticket=t");
}

TEST(ContractSocketURL, RefusesAddressesOffTheServicePath)
{
    const auto check = [](const QString &address, const QString &ticket = "t") {
        return failureOf(
            [&] { ProductionEndpoint::socketURL(productionBase, address, ticket, 42); });
    };
    const QString path = "/api/ws/v1/translation/42";
    for (const QString &address :
        { "wss://api.quorvel.tech" + path, "wss://api.quorvel.tech" + path + "?",
            QString("wss://api.quorvel.tech/api/ws/v1/translation/%342") }) {
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(check(address), std::nullopt);
    }
    const QString refused[] = { "ws://api.quorvel.tech" + path, "WSS://api.quorvel.tech" + path,
        "https://api.quorvel.tech" + path, "wss://api.quorvel.tech:8443" + path,
        "wss://evil.example" + path, "wss://api.quorvel.tech.evil.example" + path,
        "wss://api.quorvel.tech." + path, "wss://user@api.quorvel.tech" + path,
        "wss://@api.quorvel.tech" + path, "wss://:pw@api.quorvel.tech" + path,
        "wss://api.quorvel.tech" + path + "#", "wss://api.quorvel.tech" + path + "#f",
        "wss://api.quorvel.tech" + path + "/", "wss://api.quorvel.tech/api/ws/v1/translation/43",
        "wss://api.quorvel.tech/api/ws/v1/translation/042",
        "wss://api.quorvel.tech/api/ws/v1/translation/../translation/42",
        " wss://api.quorvel.tech" + path, "wss://api.quorvel.tech" + path + " ",
        "wss://api.quorvel.tech" + path + "?a b", "wss:api.quorvel.tech" + path, "" };
    for (const QString &address : refused) {
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(check(address), TranslationFailure::unsafeAddress());
    }
    EXPECT_EQ(check("wss://api.quorvel.tech" + path, ""), TranslationFailure::unsafeAddress());
}

TEST(ContractSocketURL, DevelopmentBaseAllowsItsOwnPortOnly)
{
    const QUrl base = *ProductionEndpoint::baseForOrigin("https://127.0.0.1:8443");
    const QString path = "/api/ws/v1/translation/5";
    EXPECT_NO_THROW(ProductionEndpoint::socketURL(base, "wss://127.0.0.1:8443" + path, "t", 5));
    EXPECT_NO_THROW(ProductionEndpoint::socketURL(base, "wss://127.0.0.1" + path, "t", 5));
    EXPECT_THROW(ProductionEndpoint::socketURL(base, "wss://127.0.0.1:443" + path, "t", 5),
        TranslationFailure);
}

TEST(ContractEndpoint, AcceptsOnlyHttpsOrigins)
{
    EXPECT_EQ(ProductionEndpoint::baseForOrigin("https://api.quorvel.tech"),
        QUrl("https://api.quorvel.tech/api/"));
    EXPECT_EQ(ProductionEndpoint::baseForOrigin("https://localhost:8443/"),
        QUrl("https://localhost:8443/api/"));
    EXPECT_EQ(
        ProductionEndpoint::baseForOrigin("https://[::1]:8443"), QUrl("https://[::1]:8443/api/"));
    for (const char *origin : { "http://localhost:8443", "https://", "https://localhost/api",
             "https://u@localhost", "https://localhost?x", "https://localhost#x",
             " https://localhost", "localhost:8443", "https://localhost:99999", "" }) {
        SCOPED_TRACE(origin);
        EXPECT_EQ(ProductionEndpoint::baseForOrigin(origin), std::nullopt);
    }
}

TEST(ContractEndpoint, RelativePathsResolveBelowApi)
{
    const QUrl &base = ProductionEndpoint::base();
    EXPECT_EQ(&base, &ProductionEndpoint::base());
    EXPECT_EQ(base.scheme(), "https");
    EXPECT_EQ(base.resolved(QUrl("v1/points/wallet")).path(), "/api/v1/points/wallet");
}

#if defined(QUORVEL_DEVELOPMENT_ENDPOINT)
TEST(ContractEndpoint, StopsOnAMalformedDevelopmentOrigin)
{
    // A fresh process, so that the base is built from this environment.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            qputenv("QUORVEL_SERVICE_ORIGIN", "http://127.0.0.1:8443");
            ProductionEndpoint::base();
        },
        "QUORVEL_SERVICE_ORIGIN");
}
#endif
