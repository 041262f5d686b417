#include "SingleInstance.h"

#include "TranslateMac/Account/SessionDatabase.h"
#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace TranslateMac {

namespace {

constexpr char request[] = "quorvel-translate activate\n";
constexpr char acknowledgement[] = "ok\n";
static_assert(sizeof(request) - 1 <= SingleInstance::maximumRequestBytes);

int remainingMilliseconds(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(deadline.remainingTime(), 0));
}

} // namespace

SingleInstance::SingleInstance(
    QString dataFolder, QString runtimeFolder, InstanceTimings timings, QObject *parent)
    : QObject(parent), m_dataFolder(std::move(dataFolder)),
      m_runtimeFolder(std::move(runtimeFolder)), m_timings(timings)
{
}

SingleInstance::~SingleInstance()
{
    // The clients' bookkeeping runs on this object: they go while it is whole. Closing the
    // server removes the socket file; the lock goes last, so no newcomer finds a dead socket
    // behind a live lock.
    m_server.reset();
    m_lock.reset();
}

QString SingleInstance::userDataFolder()
{
    const QUrl database = SessionSQLite::databaseURL();
    if (!database.isLocalFile())
        return QString();
    return QFileInfo(database.toLocalFile()).path();
}

QString SingleInstance::userRuntimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath(const QString &dataFolder, const QString &runtimeFolder)
{
    QString folder = QFileInfo(dataFolder).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(QDir(dataFolder).absolutePath());
    // A short digest of the folder keeps the path far below the 108 bytes a local socket
    // address holds, whatever the folder's length.
    const QByteArray digest
        = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtimeFolder + QStringLiteral("/quorvel-translate-") + QString::fromLatin1(digest);
}

InstanceRole SingleInstance::claim()
{
    if (m_dataFolder.isEmpty())
        return InstanceRole::unguarded;
    try {
        SessionDatabase::createPrivateFolder(QFile::encodeName(m_dataFolder));
    } catch (const std::filesystem::filesystem_error &) {
        return InstanceRole::unguarded;
    }
    m_lock = std::make_unique<QLockFile>(m_dataFolder + QStringLiteral("/instance.lock"));
    // Only a lock whose process is gone is stale, never an old one: where the file system has no
    // native locks, the default would take over the lock of an instance that has simply been
    // running for more than 30 seconds.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        listen();
        return InstanceRole::primary;
    }
    const bool heldByAnother = m_lock->error() == QLockFile::LockFailedError;
    m_lock.reset();
    return heldByAnother ? InstanceRole::secondary : InstanceRole::unguarded;
}

void SingleInstance::listen()
{
    const QString path = socketPath(m_dataFolder, m_runtimeFolder);
    // Holding the lock proves that no other instance serves this folder: a socket file left
    // there belongs to a process that ended without closing it, and goes.
    QLocalServer::removeServer(path);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(maximumClients);
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptClients);
    // When listening fails (no runtime folder) this instance still holds the lock: a later
    // launch then reports that it got no answer instead of starting a second copy.
    m_server->listen(path);
}

void SingleInstance::acceptClients()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        if (m_clients >= maximumClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
        serve(client);
    }
}

void SingleInstance::serve(QLocalSocket *client)
{
    ++m_clients;
    connect(client, &QObject::destroyed, this, [this] { --m_clients; });
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // Bytes stay in the socket's buffer until a whole line is there; the buffer never holds more
    // than one request.
    client->setReadBufferSize(maximumRequestBytes);
    QTimer::singleShot(m_timings.requestWithin, client, [client] { client->abort(); });
    connect(client, &QLocalSocket::readyRead, this, [this, client] { readRequest(client); });
    readRequest(client);
}

void SingleInstance::readRequest(QLocalSocket *client)
{
    if (client->state() != QLocalSocket::ConnectedState)
        return;
    if (!client->canReadLine()) {
        if (client->bytesAvailable() >= maximumRequestBytes)
            client->abort();
        return;
    }
    if (client->readLine(maximumRequestBytes + 1) != QByteArray(request)) {
        client->abort();
        return;
    }
    disconnect(client, &QLocalSocket::readyRead, this, nullptr);
    Q_EMIT activationRequested();
    client->write(acknowledgement);
    client->disconnectFromServer();
}

bool SingleInstance::handOver() const
{
    const QString path = socketPath(m_dataFolder, m_runtimeFolder);
    QLocalSocket socket;
    const QDeadlineTimer connecting(m_timings.connectWithin);
    for (;;) {
        socket.connectToServer(path);
        if (socket.waitForConnected(remainingMilliseconds(connecting)))
            break;
        socket.abort();
        if (connecting.hasExpired())
            return false;
        QThread::msleep(
            ulong(std::min<qint64>(m_timings.retryEvery.count(), connecting.remainingTime())));
    }
    const QDeadlineTimer answering(m_timings.answerWithin);
    socket.write(request);
    socket.flush();
    while (!socket.canReadLine() && !answering.hasExpired()) {
        if (socket.bytesAvailable() >= maximumRequestBytes)
            return false;
        if (!socket.waitForReadyRead(remainingMilliseconds(answering))
            && socket.state() != QLocalSocket::ConnectedState)
            break;
    }
    return socket.canReadLine() && socket.readLine(maximumRequestBytes) == acknowledgement;
}

} // namespace TranslateMac
