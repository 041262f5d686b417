#include "TranslateMac/Capture/PipeWire/PipeWireLoop.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>

#include <cerrno>
#include <cstring>

namespace TranslateMac {

PipeWireLoop &PipeWireLoop::shared()
{
    // Never destroyed: recordings may still be torn down while the process exits.
    static PipeWireLoop *instance = new PipeWireLoop;
    return *instance;
}

PipeWireLoop::PipeWireLoop()
{
    pw_init(nullptr, nullptr);
    m_loop = pw_thread_loop_new("tap-hardware", nullptr);
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    pw_thread_loop_start(m_loop);
}

pw_loop *PipeWireLoop::loop() const
{
    return pw_thread_loop_get_loop(m_loop);
}

PipeWireLocked::PipeWireLocked()
{
    pw_thread_loop_lock(PipeWireLoop::shared().threadLoop());
}

PipeWireLocked::~PipeWireLocked()
{
    pw_thread_loop_unlock(PipeWireLoop::shared().threadLoop());
}

PropertyMap propertyMap(const spa_dict *dict)
{
    PropertyMap map;
    if (!dict)
        return map;
    const spa_dict_item *item;
    spa_dict_for_each(item, dict)
    {
        if (item->key && item->value)
            map.insert(QString::fromUtf8(item->key), QString::fromUtf8(item->value));
    }
    return map;
}

pw_properties *toProperties(const PropertyMap &map)
{
    pw_properties *properties = pw_properties_new(nullptr, nullptr);
    for (auto it = map.begin(); it != map.end(); ++it)
        pw_properties_set(
            properties, it.key().toUtf8().constData(), it.value().toUtf8().constData());
    return properties;
}

std::exception_ptr pipeWireConnectionFailure(int error)
{
    // The native protocol reports a socket it could not reach (absent, refused) as EHOSTDOWN.
    switch (error) {
    case EHOSTDOWN:
    case ECONNREFUSED:
    case ENOENT:
    case EACCES:
    case EPERM:
        return std::make_exception_ptr(
            SoundServerAccessError(error, QString::fromUtf8(std::strerror(error))));
    default:
        return std::make_exception_ptr(TapAudioFailure(-error));
    }
}

} // namespace TranslateMac
