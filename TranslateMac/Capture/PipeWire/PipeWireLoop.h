#pragma once

#include "TranslateMac/Capture/PipeWire/TapProperties.h"

#include <exception>

struct pw_context;
struct pw_core;
struct pw_loop;
struct pw_properties;
struct pw_thread_loop;
struct spa_dict;

namespace TranslateMac {

// The one loop on which every recording talks to the PipeWire daemon ("tap-hardware"), for the
// life of the process: two recordings never change the graph at the same time.
class PipeWireLoop {
public:
    static PipeWireLoop &shared();

    pw_thread_loop *threadLoop() const { return m_loop; }
    pw_loop *loop() const;
    // Null when PipeWire's client configuration is missing (its tools are not installed, as on a
    // system that runs PulseAudio): PipeWire is then not reachable at all.
    pw_context *context() const { return m_context; }

private:
    PipeWireLoop();

    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
};

// Holds the shared loop's lock: the only way other threads touch PipeWire objects.
class PipeWireLocked {
public:
    PipeWireLocked();
    ~PipeWireLocked();
    PipeWireLocked(const PipeWireLocked &) = delete;
    PipeWireLocked &operator=(const PipeWireLocked &) = delete;
};

PropertyMap propertyMap(const spa_dict *dict);
pw_properties *toProperties(const PropertyMap &map);

// A new connection to the daemon, or null with errno set.
pw_core *connectToDaemon();

// A refused, missing or forbidden daemon means we may not capture (SoundServerAccessError, which
// CaptureAccess::failure shows as a missing permission); anything else is TapAudioFailure.
std::exception_ptr pipeWireConnectionFailure(int error);

} // namespace TranslateMac
