#include "QRMatrix.h"
#include "ServiceServer.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>

namespace LocalService {

namespace {

constexpr qint64 codeResendMs = 60000;
constexpr qint64 codeLifetimeMs = 300000;

// A client's text as it may appear on the console: control characters (line breaks, escape
// sequences) are written as \xNN, so a client cannot forge or hide lines of the output.
QString printable(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
            || c == u'\\')
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

constexpr qint64 challengeLifetimeMs = 300000;
constexpr int challengePollSeconds = 2;
const QString defaultApprover = QStringLiteral("13800000000");

std::optional<QString> nonEmptyString(const QJsonObject &body, const char *key)
{
    const QJsonValue value = body.value(QLatin1String(key));
    if (!value.isString() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

Reply invalid()
{
    return Reply::envelope(4002, QJsonValue::Undefined, 400);
}

// The challenge `body` names ("challengeId") when "deviceSecret" is its own; otherwise null, with
// the answer that refuses the request in `refusal`.
Challenge *ownedChallenge(
    QHash<QString, Challenge> &challenges, const QJsonObject &body, Reply *refusal)
{
    const auto id = nonEmptyString(body, "challengeId");
    const auto secret = nonEmptyString(body, "deviceSecret");
    if (!id || !secret) {
        *refusal = invalid();
        return nullptr;
    }
    const auto it = challenges.find(*id);
    if (it == challenges.end() || it->secret != *secret) {
        *refusal = Reply::envelope(4004, QJsonValue::Undefined, 404);
        return nullptr;
    }
    return &*it;
}

QString sixDigits()
{
    return QStringLiteral("%1").arg(
        QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
}

QString userCode()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    QString code;
    for (int i = 0; i < 8; ++i)
        code.append(alphabet.at(QRandomGenerator::system()->bounded(int(alphabet.size()))));
    return code;
}

} // namespace

Account &ServiceServer::account(const QString &phone)
{
    auto it = m_state.accounts.find(phone);
    if (it == m_state.accounts.end())
        it = m_state.accounts.insert(phone, Account { phone, 1000 });
    return *it;
}

QJsonObject ServiceServer::issueTokens(const QString &phone)
{
    const QString access = QStringLiteral("at_") + randomToken(24);
    const QString refreshToken = QStringLiteral("rt_") + randomToken(32);
    m_state.accessTokens.insert(
        access, AccessToken { phone, refreshToken, monotonicMs() + m_options.tokenLifetimeMs });
    m_state.refreshTokens.insert(refreshToken, phone);
    account(phone);
    return { { "accessToken", access }, { "refreshToken", refreshToken } };
}

std::optional<QString> ServiceServer::authenticatedPhone(const Request &request)
{
    const QString header = request.headers.value(QStringLiteral("authorization"));
    if (!header.startsWith(QLatin1String("Bearer ")))
        return std::nullopt;
    const auto token = m_state.accessTokens.constFind(header.mid(7));
    if (token == m_state.accessTokens.cend() || token->expiresAtMs <= monotonicMs())
        return std::nullopt;
    return token->phone;
}

Reply ServiceServer::sendCode(const QJsonObject &body)
{
    const auto phone = nonEmptyString(body, "phoneNumber");
    if (body.value("purpose") != QLatin1String("LOGIN") || !nonEmptyString(body, "countryCode")
        || !phone)
        return invalid();
    const auto previous = m_state.smsCodes.constFind(*phone);
    if (previous != m_state.smsCodes.cend() && monotonicMs() - previous->sentAtMs < codeResendMs)
        return Reply::envelope(2003);
    const QString code = sixDigits();
    makeRoom(m_state.smsCodes);
    m_state.smsCodes.insert(*phone, SmsCode { code, monotonicMs(), false });
    if (m_options.demo) {
        std::printf("code for %s: %s\n", qPrintable(printable(*phone)), qPrintable(code));
        std::fflush(stdout);
    }
    return Reply::ok();
}

Reply ServiceServer::loginPhoneCode(const QJsonObject &body)
{
    const auto phone = nonEmptyString(body, "phoneNumber");
    const auto code = nonEmptyString(body, "code");
    if (!nonEmptyString(body, "countryCode") || !phone || !code)
        return invalid();
    const auto sent = m_state.smsCodes.find(*phone);
    if (sent == m_state.smsCodes.end() || sent->used
        || monotonicMs() - sent->sentAtMs > codeLifetimeMs)
        return Reply::envelope(1010, QJsonValue::Undefined, 400);
    if (sent->code != *code)
        return Reply::envelope(1009, QJsonValue::Undefined, 400);
    sent->used = true;
    const QJsonObject tokens = issueTokens(*phone);
    return Reply::ok(QJsonObject { { "token", tokens.value("accessToken") },
        { "refreshToken", tokens.value("refreshToken") } });
}

Reply ServiceServer::refresh(const QJsonObject &body)
{
    const auto token = nonEmptyString(body, "refreshToken");
    if (!token)
        return invalid();
    const auto found = m_state.refreshTokens.constFind(*token);
    if (found == m_state.refreshTokens.cend())
        return Reply::envelope(1003, QJsonValue::Undefined, 401);
    const QString phone = *found;
    // Rotation: the presented refresh token is spent.
    m_state.refreshTokens.remove(*token);
    return Reply::ok(issueTokens(phone));
}

Reply ServiceServer::revoke(const QJsonObject &body)
{
    const auto token = nonEmptyString(body, "refreshToken");
    if (!token)
        return invalid();
    m_state.refreshTokens.remove(*token);
    m_state.accessTokens.removeIf(
        [&](const auto &entry) { return entry.value().refreshToken == *token; });
    return Reply::ok();
}

Reply ServiceServer::profile(const Account &user)
{
    return Reply::ok(QJsonObject { { "userId", QString::number(qHash(user.phone) % 100000000) },
        { "nickname", QStringLiteral("用户") + user.phone.right(4) },
        { "phoneNumber", user.phone.left(3) + QStringLiteral("****") + user.phone.right(4) },
        { "historyEnabled", true } });
}

Reply ServiceServer::wallet(const Account &user)
{
    return Reply::ok(QJsonObject { { "availablePoints", user.points } });
}

Reply ServiceServer::watchLoginCreate(const QJsonObject &body)
{
    if (body.value("deviceType") != QLatin1String("MAC"))
        return invalid();
    makeRoom(m_state.challenges);
    Challenge challenge { randomToken(16), randomToken(32), userCode(),
        epochMs() + challengeLifetimeMs, QStringLiteral("PENDING"), QString() };
    const QString approvalPage = origin() + QStringLiteral("/device-login/") + challenge.id;
    const QJsonArray rows = qrRows(approvalPage);
    m_state.challenges.insert(challenge.id, challenge);
    if (m_options.demo) {
        // Without the phone app, the page the QR code leads to is opened in a browser instead.
        std::printf("QR sign-in %s: approve at %s\n", qPrintable(challenge.userCode),
            qPrintable(approvalPage));
        std::fflush(stdout);
    }
    return Reply::ok(QJsonObject { { "deviceType", "MAC" }, { "challengeId", challenge.id },
        { "deviceSecret", challenge.secret }, { "userCode", challenge.userCode },
        { "expiresAt", challenge.expiresAtEpochMs },
        { "pollIntervalSeconds", challengePollSeconds }, { "qrRows", rows } });
}

Reply ServiceServer::watchLoginPoll(const QJsonObject &body)
{
    Reply refusal;
    Challenge *const challenge = ownedChallenge(m_state.challenges, body, &refusal);
    if (!challenge)
        return refusal;
    if (challenge->status == QLatin1String("PENDING") && epochMs() >= challenge->expiresAtEpochMs)
        challenge->status = QStringLiteral("EXPIRED");
    if (challenge->status == QLatin1String("PENDING"))
        return Reply::ok(QJsonObject {
            { "status", "PENDING" }, { "pollIntervalSeconds", challengePollSeconds } });
    if (challenge->status == QLatin1String("AUTHORIZED")) {
        challenge->status = QStringLiteral("CONSUMED");
        QJsonObject data = issueTokens(challenge->phone);
        data.insert("status", "AUTHORIZED");
        return Reply::ok(data);
    }
    return Reply::ok(QJsonObject { { "status", challenge->status } });
}

Reply ServiceServer::watchLoginCancel(const QJsonObject &body)
{
    Reply refusal;
    Challenge *const challenge = ownedChallenge(m_state.challenges, body, &refusal);
    if (!challenge)
        return refusal;
    if (challenge->status == QLatin1String("PENDING"))
        challenge->status = QStringLiteral("CANCELLED");
    return Reply::ok();
}

bool ServiceServer::decideChallenge(
    const QString &challengeId, const QString &action, const QString &phone)
{
    const auto it = m_state.challenges.find(challengeId);
    if (it == m_state.challenges.end() || it->status != QLatin1String("PENDING")
        || epochMs() >= it->expiresAtEpochMs)
        return false;
    if (action == QLatin1String("approve")) {
        it->status = QStringLiteral("AUTHORIZED");
        it->phone = phone.isEmpty() ? defaultApprover : phone;
        account(it->phone);
        return true;
    }
    if (action == QLatin1String("reject")) {
        it->status = QStringLiteral("REJECTED");
        return true;
    }
    return false;
}

Reply ServiceServer::devicePage(const Request &request)
{
    static const QRegularExpression page(QRegularExpression::anchoredPattern(
        QStringLiteral("/device-login/([A-Za-z0-9_-]{22})(?:/(approve|reject))?")));
    const QRegularExpressionMatch match = page.match(request.path);
    const auto html = [](const QString &content, int status = 200) {
        return Reply { status,
            (QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>Quorvel "
                            "device login</title></head><body>")
                + content + QStringLiteral("</body></html>"))
                .toUtf8(),
            "text/html; charset=utf-8", {} };
    };
    if (!match.hasMatch())
        return html(QStringLiteral("<p>Not found.</p>"), 404);
    const QString id = match.captured(1);
    const auto challenge = m_state.challenges.constFind(id);
    if (challenge == m_state.challenges.cend())
        return html(QStringLiteral("<p>This login request is unknown.</p>"), 404);

    if (!match.captured(2).isEmpty()) {
        if (request.method != "POST")
            return html(QStringLiteral("<p>Use the buttons.</p>"), 405);
        const QString phone = QUrlQuery(QString::fromUtf8(request.body))
                                  .queryItemValue("phone", QUrl::FullyDecoded);
        static const QRegularExpression digits(
            QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{5,15}")));
        const QString approver = digits.match(phone).hasMatch() ? phone : QString();
        if (!decideChallenge(id, match.captured(2), approver))
            return html(QStringLiteral("<p>This login request is no longer pending.</p>"), 409);
        return html(match.captured(2) == QLatin1String("approve")
                ? QStringLiteral("<p>Approved. The desktop signs in now.</p>")
                : QStringLiteral("<p>Rejected.</p>"));
    }
    return html(QStringLiteral("<h1>Sign in on the desktop?</h1><p>Code: <b>%1</b> (status %2)</p>"
                               "<form method=\"post\" action=\"/device-login/%3/approve\">"
                               "<label>Phone <input name=\"phone\" value=\"%4\"></label> "
                               "<button type=\"submit\">Approve</button></form>"
                               "<form method=\"post\" action=\"/device-login/%3/reject\">"
                               "<button type=\"submit\">Reject</button></form>")
                    .arg(challenge->userCode, challenge->status, id, defaultApprover));
}

Reply ServiceServer::appUpdateCheck(const Request &request)
{
    const QString platform = request.query.queryItemValue("platform", QUrl::FullyDecoded);
    const QString build = request.query.queryItemValue("buildNumber", QUrl::FullyDecoded);
    bool numeric = false;
    const qint64 buildNumber = build.toLongLong(&numeric);
    QJsonObject data { { "platform", platform.isEmpty() ? QStringLiteral("MACOS") : platform },
        { "currentVersion", request.query.queryItemValue("version", QUrl::FullyDecoded) },
        { "currentBuildNumber", numeric ? QJsonValue(buildNumber) : QJsonValue(build) },
        { "policyRevision", 1 }, { "enabled", false }, { "updateAvailable", false },
        { "forceUpdate", false } };
    if (m_state.updatePolicy) {
        for (auto it = m_state.updatePolicy->constBegin(); it != m_state.updatePolicy->constEnd();
             ++it)
            data.insert(it.key(), it.value());
    }
    return Reply::ok(data);
}

} // namespace LocalService
