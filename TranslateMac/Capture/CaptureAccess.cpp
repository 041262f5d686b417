#include "CaptureAccess.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QFile>
#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace TranslateMac {

namespace {

bool acceptsConnections(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address {};
    if (encoded.isEmpty() || std::size_t(encoded.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), std::size_t(encoded.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A local stream socket connects or refuses at once; it never waits for the peer.
    const bool connected
        = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

std::exception_ptr CaptureAccess::failure(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const SoundServerAccessError &) {
        return std::make_exception_ptr(TranslateCore::TranslationFailure::permission());
    } catch (...) {
    }
    return error;
}

bool CaptureAccess::soundServerReachable()
{
    // PULSE_SERVER may list several servers; a remote one cannot be checked without talking to it,
    // so it counts as reachable and the capture itself reports what happens.
    QStringList servers
        = qEnvironmentVariable("PULSE_SERVER")
              .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (servers.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        servers << runtime + QStringLiteral("/pulse/native");
    }
    for (QString server : servers) {
        // An optional "{machine-id}" prefix names the host the entry is meant for.
        if (server.startsWith(u'{'))
            server = server.mid(server.indexOf(u'}') + 1);
        if (server.startsWith(QStringLiteral("unix:")))
            server = server.mid(5);
        if (!server.startsWith(u'/'))
            return true;
        if (acceptsConnections(server))
            return true;
    }
    return false;
}

} // namespace TranslateMac
