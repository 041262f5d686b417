#pragma once

#include "support/LocalServiceProcess.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

// Calls the service API as a signed-in user: (method, path under "/api/", body) -> the answer's
// "data" member.
using ServiceCall = std::function<QJsonValue(
    const QByteArray &method, const QString &path, const QJsonObject &body)>;

// Creates a text-only session for 16 kHz mono PCM audio on the catalog's first route and returns
// the service's answer ("sessionId", "wsUrl", "wsTicket", ...).
QJsonObject createTextSession(const ServiceCall &call);

// One HTTP call to `service` ("/api/" + path), trusting its CA: the status and the decoded body.
struct ServiceAnswer {
    int status = 0;
    QJsonObject envelope;
};
ServiceAnswer callService(LocalServiceProcess &service, const QByteArray &method,
    const QString &path, const QJsonObject &body = {}, const QString &token = {},
    const QByteArray &idempotencyKey = {});

// Signs `phone` in with the code the service sent it; returns the access token.
QString signInByPhone(LocalServiceProcess &service, const QString &phone);
