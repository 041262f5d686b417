#pragma once

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
