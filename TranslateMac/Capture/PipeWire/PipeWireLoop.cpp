#include "TranslateMac/Capture/PipeWire/PipeWireLoop.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include <cerrno>
#include <cstring>

namespace TranslateMac {

PipeWireLoop &PipeWireLoop::shared()
{
    // Never destroyed: recordings may still be torn down while the process exits.
    static PipeWireLoop *instance = new PipeWireLoop;
    return *instance;
}

namespace {

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer does not see the thread loop's lock taken on a caller's behalf (libpipewire takes
// it inside uninstrumented code), so the hand-over of everything the lock protects is told to it
// here: the loop thread gives the lock up before it polls and takes it back after, a caller
// takes it in PipeWireLocked and gives it back when done.
char lockToken;

void beforePoll(void *)
{
    __tsan_release(&lockToken);
}

void afterPoll(void *)
{
    __tsan_acquire(&lockToken);
}

const spa_loop_control_hooks pollHooks { SPA_VERSION_LOOP_CONTROL_HOOKS, beforePoll, afterPoll };
spa_hook pollHook;
#endif

} // namespace

PipeWireLoop::PipeWireLoop()
{
    pw_init(nullptr, nullptr);
    m_loop = pw_thread_loop_new("tap-hardware", nullptr);
    // The configuration PipeWire's own players and recorders use: it loads the real-time module,
    // so the thread that takes each quantum from the graph runs at the sound server's priority.
    // Without it a busy machine makes that thread miss cycles, and the graph moves on: whole
    // quanta of what plays never reach the recording. Where no priority may be raised (no RTKit,
    // no rights) the module only says so and the thread runs as before.
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop),
        pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
#if defined(__SANITIZE_THREAD__)
    pw_loop_add_hook(loop(), &pollHook, &pollHooks, nullptr);
#endif
    pw_thread_loop_start(m_loop);
}

pw_loop *PipeWireLoop::loop() const
{
    return pw_thread_loop_get_loop(m_loop);
}

PipeWireLocked::PipeWireLocked()
{
    pw_thread_loop_lock(PipeWireLoop::shared().threadLoop());
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&lockToken);
#endif
}

PipeWireLocked::~PipeWireLocked()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&lockToken);
#endif
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

pw_core *connectToDaemon()
{
    pw_context *context = PipeWireLoop::shared().context();
    if (!context) {
        errno = ENOENT;
        return nullptr;
    }
    return pw_context_connect(context, nullptr, 0);
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
