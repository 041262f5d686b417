#include "TranslateCore/Contract/CreatedSession.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/Quote.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Contract/TranslationRoute.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <variant>

using namespace TranslateCore;

namespace {

using Changes = std::initializer_list<std::pair<const char *, QJsonValue>>;
template <typename T> using Outcome = std::variant<T, TranslationFailure>;

// `json` with each member of `changes` set, or removed when the value is undefined.
QJsonObject patched(QJsonObject json, Changes changes)
{
    for (const auto &[key, value] : changes)
        value.isUndefined() ? json.remove(key) : void(json[key] = value);
    return json;
}

// What `read` returns, or the failure it throws.
template <typename Read> auto outcome(Read read) -> Outcome<decltype(read())>
{
    try {
        return read();
    } catch (const TranslationFailure &failure) {
        return failure;
    }
}

const QJsonValue absent(QJsonValue::Undefined);
const auto invalid = TranslationFailure::invalidResponse();
const auto unsafe = TranslationFailure::unsafeAddress();
const QUrl productionBase
    = *ProductionEndpoint::baseForOrigin(ProductionEndpoint::productionOrigin);

} // namespace

TEST(ContractInteger, ReadsOnlyWholeDecimalValues)
{
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    // Each input is one JSON array element, so numbers go through the real parser.
    const std::pair<const char *, std::optional<qint64>> cases[]
        = { { R"("42")", 42 }, { R"("+42")", 42 }, { R"("-7")", -7 }, { "42", 42 }, { "42.0", 42 },
              { "1e3", 1000 }, { R"("9223372036854775807")", max },
              { R"("-9223372036854775808")", min }, { "9223372036854775807", max }, { R"("")", {} },
              { R"("+")", {} }, { R"("+-1")", {} }, { R"(" 42")", {} }, { R"("4.2")", {} },
              { R"("1e3")", {} }, { R"("４２")", {} }, { R"("9223372036854775808")", {} },
              { R"("-9223372036854775809")", {} }, { "9223372036854775808", {} }, { "4.2", {} },
              { "true", {} }, { "null", {} }, { "[1]", {} }, { R"({"a":1})", {} } };
    for (const auto &[json, expected] : cases) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + json + "]");
        ASSERT_TRUE(document.isArray()) << json;
        EXPECT_EQ(integer(document.array().at(0)), expected) << json;
    }
    EXPECT_EQ(integer(absent), std::nullopt);
    EXPECT_EQ(integer(QJsonValue(-9223372036854775808.0)), min);
    EXPECT_EQ(integer(QJsonValue(9223372036854775808.0)), std::nullopt);
}

TEST(ContractFailure, EqualityCoversCaseAndPayload)
{
    EXPECT_EQ(TranslationFailure::rejected(42), TranslationFailure::rejected(42));
    EXPECT_NE(TranslationFailure::rejected(42), TranslationFailure::rejected(43));
    EXPECT_NE(TranslationFailure::rejected(42), TranslationFailure::invalidCreatedSession(42));
    EXPECT_NE(TranslationFailure::server("A"), TranslationFailure::server("a"));
}

TEST(ContractRoute, ReadsMembersAndDerivesNamesAndDirection)
{
    const QJsonObject base { { "routeCode", "zh-en" }, { "displayName", "中文 → English" },
        { "sourceLanguage", "zh" }, { "targetLanguage", 7 } };
    const std::pair<QJsonObject, Outcome<TranslationRoute>> cases[] = {
        { base, TranslationRoute { "zh-en", "中文 → English", "zh", "" } },
        { patched(base, { { "routeCode", absent } }), invalid },
        { patched(base, { { "displayName", 1 } }), invalid },
    };
    for (const auto &[json, expected] : cases)
        EXPECT_EQ(outcome([&] { return TranslationRoute::fromJson(json); }), expected);

    const auto named = [](const char *name) { return TranslationRoute { "c", name, "", "" }; };
    EXPECT_EQ(named("中文 → English").sourceName(), "中文");
    EXPECT_EQ(named("中文 → English").targetName(), "English");
    EXPECT_EQ(named("粤语").sourceName(), "粤语");
    EXPECT_EQ(named("粤语").targetName(), "译文");
    EXPECT_EQ(named("A → B → C").sourceName(), "A");
    EXPECT_EQ(named("A → B → C").targetName(), "B");
    EXPECT_EQ(named("A→B").targetName(), "译文");
    const auto rtl = [](const char *language) {
        return TranslationRoute { "c", "n", "", language }.isTargetRTL();
    };
    for (const char *language : { "ar-EG", "ur", "he", "fa-IR" })
        EXPECT_TRUE(rtl(language)) << language;
    for (const char *language : { "AR", "", "en-ar", "arz" })
        EXPECT_FALSE(rtl(language)) << language;
}

TEST(ContractQuote, ReadsPointsAndRefusesUnreadableRequiredMembers)
{
    const QJsonObject base { { "canStart", true }, { "estimatedPointsPerMinute", 12 },
        { "availablePoints", "300" } };
    const auto with = [&](Changes changes) { return patched(base, changes); };
    const std::pair<QJsonObject, Outcome<Quote>> cases[] = {
        { base, Quote { true, 12, 300, 0 } },
        { with({ { "canStart", 0 }, { "minimumStartPoints", "x" } }), Quote { false, 12, 300, 0 } },
        { with({ { "canStart", 1 }, { "minimumStartPoints", 60 } }), Quote { true, 12, 300, 60 } },
        { with({ { "canStart", absent } }), invalid },
        { with({ { "canStart", "true" } }), invalid },
        { with({ { "canStart", 2 } }), invalid },
        { with({ { "estimatedPointsPerMinute", 1.5 } }), invalid },
        { with({ { "availablePoints", absent } }), invalid },
    };
    for (const auto &[json, expected] : cases) {
        SCOPED_TRACE(QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
        EXPECT_EQ(outcome([&] { return Quote::fromJson(json); }), expected);
    }
}

TEST(ContractCreatedSession, ChecksMembersAddressAndAudioInOrder)
{
    const QString address = "wss://" + ProductionEndpoint::base().authority()
        + "/api/ws/v1/translation/42?ticket=old";
    const QJsonObject pcm { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
        { "channels", "1" } };
    const QJsonObject base { { "sessionId", 42 }, { "wsUrl", address }, { "wsTicket", "t-1" },
        { "availablePoints", "900" }, { "reservedPoints", 60 }, { "inputAudio", pcm } };
    const auto with = [&](Changes changes) { return patched(base, changes); };
    const auto audio = [&](Changes changes) {
        return with({ { "inputAudio", patched(pcm, changes) } });
    };
    const QString elsewhere = "wss://evil.example/api/ws/v1/translation/42";
    const auto format = TranslationFailure::audioFormat();
    const std::tuple<const char *, QJsonObject, Outcome<CreatedSession>> cases[] = {
        { "as sent", base, CreatedSession { 42, address, "t-1", 900, 60 } },
        { "session id 0", with({ { "sessionId", 0 } }), invalid },
        { "empty ticket", with({ { "wsTicket", "" } }), invalid },
        { "address not a string", with({ { "wsUrl", 1 } }), invalid },
        { "reserved missing", with({ { "reservedPoints", absent } }), invalid },
        { "points first", with({ { "availablePoints", true }, { "wsUrl", elsewhere } }), invalid },
        { "another host", with({ { "wsUrl", elsewhere } }), unsafe },
        { "address first", with({ { "wsUrl", elsewhere }, { "inputAudio", absent } }), unsafe },
        { "48000 Hz", audio({ { "sampleRate", 48000 } }), format },
        { "stereo", audio({ { "channels", 2 } }), format },
        { "lower-case encoding", audio({ { "encoding", "pcm_s16le" } }), format },
        { "audio missing", with({ { "inputAudio", absent } }), format },
    };
    for (const auto &[description, json, expected] : cases) {
        SCOPED_TRACE(description);
        EXPECT_EQ(outcome([&] { return CreatedSession::fromJson(json); }), expected);
    }
}

TEST(ContractSocketURL, KeepsOnlyTheServicePathAndReplacesTheTicket)
{
    const auto url = [](const QUrl &base, const QString &address, const QString &ticket = "t") {
        return outcome([&] { return ProductionEndpoint::socketURL(base, address, ticket, 42); });
    };
    const auto encoded = [&](const QString &address, const QString &ticket) {
        return std::get<QUrl>(url(productionBase, address, ticket)).toString(QUrl::FullyEncoded);
    };
    const QString host = "api.quorvel.tech", path = "/api/ws/v1/translation/";
    EXPECT_EQ(encoded("wss://API.quorvel.tech:443" + path + "42?ticket=old&x=1&ticket=o&y=%2B",
                  "new+t/k=n&%"),
        "wss://" + host + ":443" + path + "42?x=1&y=%2B&ticket=new%2Bt%2Fk%3Dn%26%25");
    EXPECT_EQ(encoded("wss://" + host + path + "42", "t"), "wss://" + host + path + "42?ticket=t");
    for (const QString &address :
        { "wss://" + host + path + "42?", "wss://" + host + path + "%342" })
        EXPECT_EQ(url(productionBase, address).index(), 0u) << address.toStdString();
    for (const QString &address : { "ws://" + host + path + "42", "WSS://" + host + path + "42",
             "wss://" + host + ":8443" + path + "42", "wss://evil.example" + path + "42",
             "wss://" + host + ".evil.example" + path + "42", "wss://user@" + host + path + "42",
             "wss://@" + host + path + "42", "wss://:pw@" + host + path + "42",
             "wss://" + host + path + "42#", "wss://" + host + path + "42/",
             "wss://" + host + path + "43", "wss://" + host + path + "042",
             "wss://" + host + path + "../translation/42", " wss://" + host + path + "42" })
        EXPECT_EQ(url(productionBase, address), Outcome<QUrl>(unsafe)) << address.toStdString();
    EXPECT_EQ(url(productionBase, "wss://" + host + path + "42", ""), Outcome<QUrl>(unsafe));

    // A development service on its own port accepts that port (or none) and no other.
    const QUrl development = *ProductionEndpoint::baseForOrigin("https://127.0.0.1:8443");
    EXPECT_EQ(url(development, "wss://127.0.0.1:8443" + path + "42").index(), 0u);
    EXPECT_EQ(url(development, "wss://127.0.0.1" + path + "42").index(), 0u);
    EXPECT_EQ(url(development, "wss://127.0.0.1:443" + path + "42"), Outcome<QUrl>(unsafe));
}

TEST(ContractEndpoint, AcceptsOnlyHttpsOrigins)
{
    EXPECT_EQ(ProductionEndpoint::base().resolved(QUrl("v1/points/wallet")).path(),
        "/api/v1/points/wallet");
    EXPECT_EQ(
        ProductionEndpoint::baseForOrigin("https://[::1]:8443/"), QUrl("https://[::1]:8443/api/"));
    for (const char *origin : { "http://localhost:8443", "https://", "https://localhost/api",
             "https://u@localhost", "https://localhost?x", "https://localhost#x",
             " https://localhost", "https://localhost:99999" })
        EXPECT_EQ(ProductionEndpoint::baseForOrigin(origin), std::nullopt) << origin;
}

#if defined(QUORVEL_DEVELOPMENT_ENDPOINT)
TEST(ContractEndpoint, StopsOnAMalformedDevelopmentOrigin)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process builds the base anew
    EXPECT_DEATH(
        (qputenv("QUORVEL_SERVICE_ORIGIN", "http://127.0.0.1:8443"), ProductionEndpoint::base()),
        "QUORVEL_SERVICE_ORIGIN");
}
#endif
