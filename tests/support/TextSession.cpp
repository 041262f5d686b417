#include "support/TextSession.h"

#include <QJsonArray>

QJsonObject createTextSession(const ServiceCall &call)
{
    const QJsonArray routes
        = call("GET", QStringLiteral("v1/translation/routes?catalogVersion=2"), {}).toArray();
    const QJsonObject audio { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
        { "channels", 1 } };
    const QJsonObject body { { "routeCode", routes.first()[QStringLiteral("routeCode")] },
        { "outputMode", "TEXT_ONLY" }, { "historyEnabled", false }, { "clientType", "H5" },
        { "clientVersion", "macOS-1.0.0" }, { "audio", audio } };
    return call("POST", QStringLiteral("v1/translation/sessions"), body).toObject();
}
