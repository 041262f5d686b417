#include "TapProperties.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace TranslateMac::TapProperties {

namespace {

std::optional<qint32> processID(const PropertyMap &properties)
{
    bool ok = false;
    const qint32 pid = properties.value(QStringLiteral("application.process.id")).toInt(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    return pid;
}

} // namespace

TapProcessObject processObject(std::uint32_t id, const PropertyMap &properties)
{
    QString identity = properties.value(QStringLiteral("application.id"));
    if (identity.isEmpty())
        identity = properties.value(QStringLiteral("application.process.binary"));
    return { id, processID(properties), identity,
        properties.value(QStringLiteral("media.class")) == QLatin1String("Stream/Output/Audio") };
}

std::optional<TapPort> port(std::uint32_t id, const PropertyMap &properties)
{
    bool ok = false;
    const std::uint32_t node = properties.value(QStringLiteral("node.id")).toUInt(&ok);
    const QString direction = properties.value(QStringLiteral("port.direction"));
    if (!ok || (direction != QLatin1String("in") && direction != QLatin1String("out")))
        return std::nullopt;
    return TapPort { id, node, direction == QLatin1String("out"),
        properties.value(QStringLiteral("port.monitor")) == QLatin1String("true"),
        properties.value(QStringLiteral("audio.channel")) };
}

bool belongsTo(const TapProcessObject &object, const AudioSource &source)
{
    if (source.pid && object.pid == source.pid)
        return true;
    if (!source.bundleID || source.bundleID->isEmpty() || object.identity.isEmpty())
        return false;
    const QString &identity = *source.bundleID;
    return object.identity == identity || object.identity.startsWith(identity + QLatin1Char('.'));
}

std::optional<QString> defaultSinkName(const QString &metadataValue)
{
    const QJsonValue name
        = QJsonDocument::fromJson(metadataValue.toUtf8()).object().value(QStringLiteral("name"));
    if (!name.isString() || name.toString().isEmpty())
        return std::nullopt;
    return name.toString();
}

QList<std::uint32_t> inputsFor(const QString &channel, const QList<TapPort> &inputs)
{
    QList<std::uint32_t> same;
    QList<std::uint32_t> all;
    for (const TapPort &input : inputs) {
        all.append(input.id);
        if (!channel.isEmpty() && input.channel == channel)
            same.append(input.id);
    }
    return same.isEmpty() ? all : same;
}

PropertyMap description(const AudioSource &source, const std::optional<QString> &defaultSink)
{
    PropertyMap properties {
        { QStringLiteral("media.type"), QStringLiteral("Audio") },
        { QStringLiteral("media.category"), QStringLiteral("Capture") },
        { QStringLiteral("node.name"), QString::fromUtf8(nodeName) },
        { QStringLiteral("node.description"), QString::fromUtf8(nodeDescription) },
        // Once the captured target goes away the capture ends; it never moves elsewhere.
        { QStringLiteral("node.dont-reconnect"), QStringLiteral("true") },
        // A surround stream folded to stereo keeps its level instead of clipping.
        { QStringLiteral("channelmix.normalize"), QStringLiteral("true") },
    };
    if (source.pid) {
        // Nobody but this capture links the node: the session manager must not attach it to the
        // default source (a microphone).
        properties.insert(QStringLiteral("node.autoconnect"), QStringLiteral("false"));
    } else {
        properties.insert(QStringLiteral("node.autoconnect"), QStringLiteral("true"));
        properties.insert(QStringLiteral("stream.capture.sink"), QStringLiteral("true"));
        if (defaultSink)
            properties.insert(QStringLiteral("target.object"), *defaultSink);
    }
    return properties;
}

} // namespace TranslateMac::TapProperties
