#pragma once
// Only one copy of the program runs at a time. The guard is keyed by "ZEMPA"
// and the upper-cased program file name, so a copy stored under another name
// runs beside it. The first copy holds a lock file and listens on a local
// socket, both in XDG_RUNTIME_DIR; a second copy finds the lock held, asks
// the first over the socket to bring its window (or its open modal dialog) to
// the front and then ends with exit code 0, before any setting is read. The
// lock file names the holder's process, so a copy that was killed leaves
// nothing that stops the next start.
#include <QLockFile>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

namespace wizard {

class SingleApp : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    First,      // this copy holds the guard
    Second,     // another copy runs; it was asked to come to the front
    Unguarded,  // the guard could not be set up; run without it
  };

  // `programFile` is the path of the program file; only its name counts.
  explicit SingleApp(const QString& programFile, QObject* parent = nullptr);
  ~SingleApp() override;

  // "ZEMPA" + the upper-cased file name, e.g. "ZEMPAUST2020".
  static QString KeyFor(const QString& programFile);
  QString Key() const { return key_; }

  // Takes the guard or, when another copy holds it, asks that copy to show
  // its window. Call once, before anything else of the start-up.
  Role Start();

  // The window to bring to the front when another start asks for it.
  void SetMainWindow(QWidget* window) { window_ = window; }

  // Releases the guard (the last of the shutdown steps).
  void Close();

  // Where the lock file and the socket live.
  static QString RuntimeDirectory();

 signals:
  // Emitted after the window (or dialog) was raised for another start.
  void raiseRequested(QWidget* raised);

 private:
  void OnNewConnection();
  QWidget* RaiseWindow();

  QString key_;
  QString socketPath_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  QPointer<QWidget> window_;
};

}  // namespace wizard
