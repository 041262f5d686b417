#pragma once

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>

#include <cstdint>

namespace TranslateMac {

// The tables of callbacks through which the daemon reports to a TapGraph.
struct TapGraphEvents {
    static const pw_core_events coreEvents;
    static const pw_client_events clientEvents;
    static const pw_node_events nodeEvents;
    static const pw_registry_events registryEvents;
    static const pw_metadata_events metadataEvents;
    static const pw_stream_events streamEvents;
    static void watchTick(void *data, std::uint64_t expirations);
};

} // namespace TranslateMac
