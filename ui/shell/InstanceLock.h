// One running instance per user: the first process holds a lock and listens
// on a local socket; a later one finds it there and hands it a command.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// The lock is an exclusive flock on a file in the user's runtime folder, so
// it is released by the kernel however the holder ends; the socket next to
// it carries commands. A socket file left by a killed holder is removed by
// the next holder before it listens.
class InstanceLock : public QObject {
    Q_OBJECT
public:
    // `name` identifies the program; the user's id is added to it.
    explicit InstanceLock(const QString& name, QObject* parent = nullptr);
    ~InstanceLock() override;

    // True when this process is now the running instance (it listens for
    // commands); false when another one holds the lock, or on failure.
    bool acquire();
    bool held() const { return held_; }
    // Stops listening and releases the lock.
    void release();

    // From a process that did not get the lock: sends `command` to the
    // running instance and waits until it has been taken. False when no
    // instance answered within `timeoutMs`.
    bool sendCommand(int command, int timeoutMs = 5000);

    const QString& socketPath() const { return socketPath_; }

signals:
    // A command from another process, on this object's thread.
    void commandReceived(int command);

private:
    void acceptClients();

    QString socketPath_;
    QString lockPath_;
    int lockFd_ = -1;
    bool held_ = false;
    QLocalServer* server_ = nullptr;
};
