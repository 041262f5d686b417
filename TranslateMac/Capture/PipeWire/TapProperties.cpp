#include "TranslateMac/Capture/PipeWire/TapProperties.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

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

TapProcessObject processObject(std::uint32_t id, const PropertyMap &properties, bool isClient)
{
    const auto text = [&](const char *key) -> std::optional<QString> {
        const QString value = properties.value(QLatin1String(key));
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    };
    SoundServerClient application { id, processID(properties),
        text("application.name").value_or(QString()), text("application.id"),
        text("application.process.binary") };
    bool hasClient = false;
    const std::uint32_t client = properties.value(QStringLiteral("client.id")).toUInt(&hasClient);
    return { id, application, isClient,
        properties.value(QStringLiteral("media.class")) == QLatin1String("Stream/Output/Audio"),
        hasClient && !isClient ? std::optional<std::uint32_t>(client) : std::nullopt };
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
    static const QSet<QString> left { "FL", "SL", "RL", "FLC", "RLC", "TFL", "TRL", "TSL", "FLW",
        "FLH", "TFLC", "BLC", "LLFE" };
    static const QSet<QString> right { "FR", "SR", "RR", "FRC", "RRC", "TFR", "TRR", "TSR", "FRW",
        "FRH", "TFRC", "BRC", "RLFE" };
    std::optional<std::uint32_t> ourLeft, ourRight;
    for (const TapPort &input : inputs) {
        if (input.channel == QLatin1String("FL"))
            ourLeft = input.id;
        else if (input.channel == QLatin1String("FR"))
            ourRight = input.id;
    }
    if (!ourLeft || !ourRight)
        return {};
    if (left.contains(channel))
        return { *ourLeft };
    if (right.contains(channel))
        return { *ourRight };
    return { *ourLeft, *ourRight };
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
