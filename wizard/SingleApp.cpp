#include "wizard/SingleApp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace wizard {
namespace {
constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "ok\n";
}  // namespace

SingleApp::SingleApp(const QString& programFile, QObject* parent)
    : QObject(parent), key_(KeyFor(programFile)) {}

SingleApp::~SingleApp() { Close(); }

QString SingleApp::KeyFor(const QString& programFile) {
  return QStringLiteral("ZEMPA") + QFileInfo(programFile).fileName().toUpper();
}

QString SingleApp::RuntimeDirectory() {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) dir = QDir::tempPath();
  return dir;
}

SingleApp::Role SingleApp::Start() {
  const QString dir = RuntimeDirectory();
  socketPath_ = QDir(dir).filePath(key_ + QStringLiteral(".sock"));
  lock_ = std::make_unique<QLockFile>(QDir(dir).filePath(key_ + QStringLiteral(".lock")));
  // Never stale by age: only a holder that no longer runs gives the lock up.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath_);  // left by a copy that was killed
    if (!server_->listen(socketPath_)) {
      server_.reset();
      return Role::First;  // guarded, but nobody can ask us to come forward
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleApp::OnNewConnection);
    return Role::First;
  }
  if (lock_->error() != QLockFile::LockFailedError) {
    lock_.reset();
    return Role::Unguarded;  // no lock file possible: run without a guard
  }
  lock_.reset();
  // The holder may still be starting and not listen yet: try for a moment.
  QDeadlineTimer deadline(3000);
  while (!deadline.hasExpired()) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(500)) {
      socket.write(kRaiseRequest);
      socket.waitForBytesWritten(1000);
      // Wait for the answer so that the request is not lost when we end.
      while (socket.bytesAvailable() < 3 && socket.waitForReadyRead(1000)) {
      }
      socket.disconnectFromServer();
      break;
    }
    QThread::msleep(50);
  }
  return Role::Second;
}

void SingleApp::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > 64) socket->abort();  // not one of us
        return;
      }
      const QByteArray line = socket->readLine(64);
      if (line == kRaiseRequest) {
        QWidget* raised = RaiseWindow();
        socket->write(kRaiseAnswer);
        socket->flush();
        emit raiseRequested(raised);
      }
      socket->disconnectFromServer();
    });
  }
}

QWidget* SingleApp::RaiseWindow() {
  QWidget* w = window_.data();
  if (w == nullptr) return nullptr;
  if (w->isMinimized()) {
    w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    w->showNormal();
  } else {
    w->show();
  }
  QWidget* target = w;
  // A modal dialog of ours (a message box, say) goes in front of the window.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != w && modal->isVisible() && modal->isEnabled()) target = modal;
  target->raise();
  target->activateWindow();
  return target;
}

void SingleApp::Close() {
  if (server_) {
    server_->close();
    server_.reset();
  }
  if (lock_) {
    lock_->unlock();
    lock_.reset();
  }
}

}  // namespace wizard
