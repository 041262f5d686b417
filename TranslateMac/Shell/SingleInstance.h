#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace TranslateMac {

// How long each side of the hand-over waits.
struct InstanceTimings {
    // A second launch keeps trying to reach the running instance this long: that instance may
    // hold the lock but not listen yet.
    std::chrono::milliseconds connectWithin { 5000 };
    std::chrono::milliseconds retryEvery { 50 };
    // Then it waits this long for the running instance to acknowledge.
    std::chrono::milliseconds answerWithin { 5000 };
    // The running instance drops a client that has not sent a whole request in this time.
    std::chrono::milliseconds requestWithin { 2000 };
};

enum class InstanceRole {
    // This process is the user's one instance and listens for later launches.
    primary,
    // Another live process holds the instance lock: hand over to it.
    secondary,
    // No lock could be taken (no data folder, or it cannot be written): the credential store is
    // unusable as well, so nothing can race on it; run without a guard.
    unguarded,
};

// One running application per user data folder (the folder holding the credential database):
// two copies would race on the stored sign-in (renewal rotates the refresh token, and the loser
// signs the user out) and both could bill translation sessions. A lock file in the data folder
// decides who is primary; a socket in the user's runtime folder, named after the data folder,
// carries a later launch's request to bring the workspace window forward.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // The longest request a client may send, and how many clients are served at once; anything
    // beyond is dropped so a misbehaving client cannot grow the instance's memory.
    static constexpr qsizetype maximumRequestBytes = 64;
    static constexpr int maximumClients = 16;

    SingleInstance(QString dataFolder, QString runtimeFolder, InstanceTimings timings = {},
        QObject *parent = nullptr);
    ~SingleInstance() override;

    // The folder of the credential database for this process's environment (empty when the
    // system names none), and the user's private runtime folder ($XDG_RUNTIME_DIR).
    static QString userDataFolder();
    static QString userRuntimeFolder();
    // Where the instance for `dataFolder` listens: the same folder, however it is spelt, gives
    // the same path, short enough for a local socket.
    static QString socketPath(const QString &dataFolder, const QString &runtimeFolder);

    // Creates the data folder (private to the user) when missing, then takes the lock or finds
    // it held. A primary starts listening at once.
    InstanceRole claim();

    // For a secondary: asks the running instance to bring its window forward. True once it
    // acknowledged; false when it could not be reached or did not answer in time. Blocks for at
    // most `connectWithin` + `answerWithin`.
    bool handOver() const;

Q_SIGNALS:
    // A later launch asked for the workspace window.
    void activationRequested();

private:
    void listen();
    void acceptClients();
    void serve(QLocalSocket *client);
    void readRequest(QLocalSocket *client);

    QString m_dataFolder;
    QString m_runtimeFolder;
    InstanceTimings m_timings;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    int m_clients = 0;
};

} // namespace TranslateMac
