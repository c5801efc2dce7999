// A small program with the single-instance guard, for the two-process tests.
// It prints "first" and shows a window (with --modal also a modal dialog)
// when it holds the guard, prints "second" and ends with 0 when another copy
// does, and prints "raised <objectName>" whenever another start raised it.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "wizard/SingleApp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  wizard::SingleApp guard(QCoreApplication::applicationFilePath());
  const auto role = guard.Start();
  if (role == wizard::SingleApp::Role::Second) {
    std::printf("second\n");
    std::fflush(stdout);
    return 0;
  }
  QWidget window;
  window.setObjectName(QStringLiteral("MainWindow"));
  window.resize(200, 100);
  window.showMinimized();
  guard.SetMainWindow(&window);
  QObject::connect(&guard, &wizard::SingleApp::raiseRequested, [&window](QWidget* raised) {
    std::printf("raised %s %s\n", raised ? qPrintable(raised->objectName()) : "-",
                window.isMinimized() ? "minimized" : "normal");
    std::fflush(stdout);
  });
  std::printf("first\n");
  std::fflush(stdout);
  if (app.arguments().contains(QStringLiteral("--quit"))) QTimer::singleShot(200, &app, &QApplication::quit);
  if (app.arguments().contains(QStringLiteral("--modal"))) {
    QTimer::singleShot(0, [&window] {
      QDialog dialog(&window);
      dialog.setObjectName(QStringLiteral("ModalDialog"));
      dialog.setModal(true);
      dialog.exec();
    });
  }
  return app.exec();
}
