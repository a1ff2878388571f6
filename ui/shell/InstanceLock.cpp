#include "ui/shell/InstanceLock.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The user's runtime folder (private to the user) when there is one, else
// the temporary folder with the user's id in the names.
QString runtimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime);
    return QDir::tempPath();
}

} // namespace

InstanceLock::InstanceLock(const QString& name, QObject* parent) : QObject(parent) {
    const QString base =
        runtimeFolder() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::getuid());
    socketPath_ = base;
    lockPath_ = base + QStringLiteral(".lock");
}

InstanceLock::~InstanceLock() {
    release();
}

bool InstanceLock::acquire() {
    if (held())
        return true;
    const int fd = ::open(QFile::encodeName(lockPath_).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Without a lock file there is no telling whether another instance
        // runs; starting is better than refusing to start at all.
        qWarning("cannot create %s: %s", qPrintable(lockPath_), std::strerror(errno));
        held_ = true;
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd_ = fd;
    held_ = true;
    // Holding the lock means nobody else listens: any socket file is stale.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // Still the running instance; a second process then finds nobody to
        // hand over to and ends all the same.
        qWarning("cannot listen on %s: %s", qPrintable(socketPath_),
                 qPrintable(server_->errorString()));
    }
    connect(server_, &QLocalServer::newConnection, this, &InstanceLock::acceptClients);
    return true;
}

void InstanceLock::release() {
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
    held_ = false;
}

void InstanceLock::acceptClients() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            while (client->canReadLine()) {
                bool ok = false;
                const int command = client->readLine().trimmed().toInt(&ok);
                client->write("ok\n");
                client->flush();
                if (ok)
                    emit commandReceived(command);
            }
            // A client that talks without end is not a second instance.
            if (client->bytesAvailable() > 64)
                client->abort();
        });
    }
}

bool InstanceLock::sendCommand(int command, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    // The running instance may still be starting: it holds the lock before
    // it listens.
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    socket.write(QByteArray::number(command) + '\n');
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}
