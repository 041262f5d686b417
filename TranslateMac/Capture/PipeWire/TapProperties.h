#pragma once

#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/SoundServerClient.h"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace TranslateMac {

// The sound server's objects as the capture sees them, read from their announced properties.
using PropertyMap = QHash<QString, QString>;

// A client connection or a stream node, and the application it belongs to.
struct TapProcessObject {
    std::uint32_t id = 0;
    SoundServerClient application; // its index is the object id
    bool isClient = false;
    // A node that plays audio (an application's output stream).
    bool isOutputStream = false;
    // The client connection a node belongs to. A native PipeWire application's stream nodes do
    // not name its process; its client does.
    std::optional<std::uint32_t> client;
    // The node is running: the graph schedules it, so its audio reaches the tap.
    bool running = false;

    friend bool operator==(const TapProcessObject &, const TapProcessObject &) = default;
};

struct TapPort {
    std::uint32_t id = 0;
    std::uint32_t node = 0;
    bool isOutput = false;
    bool isMonitor = false;
    QString channel;

    friend bool operator==(const TapPort &, const TapPort &) = default;
};

// Reads the properties of the sound server's objects and describes the capture node to create.
namespace TapProperties {

inline constexpr const char *nodeDescription = "Quorvel系统音频";
inline constexpr const char *nodeName = "quorvel-tap";

TapProcessObject processObject(std::uint32_t id, const PropertyMap &properties, bool isClient);
std::optional<TapPort> port(std::uint32_t id, const PropertyMap &properties);

// The node name in a "default.audio.sink" metadata value ({"name":"…"}).
std::optional<QString> defaultSinkName(const QString &metadataValue);

// Our stereo input ports that an application port of `channel` feeds: left-side channels the
// left input, right-side ones the right input, and centre, bass and mono channels both. Empty
// until both of our inputs are known: a link made while our ports are still being announced
// would put one side on the other.
QList<std::uint32_t> inputsFor(const QString &channel, const QList<TapPort> &inputs);

// The properties of the capture stream for `source`. The whole system is the default sink's output
// (`defaultSink`, or whichever sink the session manager calls default when unknown); an
// application is a private node that the capture links by itself. Never falls back to another
// target, and never to a microphone.
PropertyMap description(const AudioSource &source, const std::optional<QString> &defaultSink);

} // namespace TapProperties

} // namespace TranslateMac
