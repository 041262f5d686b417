#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include <QCoroTask>

namespace TranslateMac {

// One recording of a source: created idle, started once, stopped once.
class TapSession {
public:
    virtual ~TapSession() = default;

    virtual PacketStream &packets() = 0;
    virtual QCoro::Task<> start() = 0;
    virtual QCoro::Task<> stop(bool flush) = 0;
};

} // namespace TranslateMac
