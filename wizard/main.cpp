// The program USt2020: one window, the wizard. The start-up steps run in a
// fixed order and are undone in the reverse order when the window has closed:
// single-instance guard, registry store, module start-up, xBase engine, form.
#include <QApplication>
#include <exception>
#include <memory>

#include "hostenv/Application.h"
#include "hostenv/ModuleStartup.h"
#include "hostenv/Registry.h"
#include "platform/FileOperation.h"
#include "platform/UserDialog.h"
#include "wizard/QtProgressWindow.h"
#include "wizard/QtUserDialog.h"
#include "wizard/SingleApp.h"
#include "wizard/StyleSheets.h"
#include "wizard/USt2020Dlg.h"
#include "xbase/engine/binding/XBE50.h"

namespace {

// The host layer ends the program through these hooks (a refused Mandant
// switch, for instance): the event loop ends at its next turn.
class QtApplicationHooks : public hostenv::TApplicationHooks {
 public:
  void RequestTerminate() override {
    TApplicationHooks::RequestTerminate();
    QCoreApplication::exit(0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The application object comes first: the guard talks over a local socket
  // and raises windows. It reads no setting of the host.
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("USt2020"));

  // 1. Single-instance guard: a second copy ends here, before any setting.
  wizard::SingleApp guard(QCoreApplication::applicationFilePath());
  if (guard.Start() == wizard::SingleApp::Role::Second) return 0;

  wizard::QtUserDialog dialog;
  platform::ScopedUserDialog dialogScope(dialog);
  wizard::QtStyleManager styles;
  QtApplicationHooks hooks;
  hostenv::SetApplication(&hooks);

  std::unique_ptr<wizard::TForm_USt2020> form;
  int exitCode = 0;
  {
    wizard::QtProgressWindow progress;
    platform::SetFileOpProgress(&progress);
    try {
      // 2. The registry store.
      hostenv::CreateZeRegistry();
      // 3. Module start-up: count, settings, options, directory versions, style.
      if (hostenv::ModuleStartup(QCoreApplication::applicationFilePath().toStdString()) ==
          hostenv::TStartupResult::srContinue) {
        // 4. The xBase engine library, loaded from the program directory; a
        // missing library has been reported and ends the program.
        TXBEEngine engine;
        engine.LoadDLLs();
        if (!hooks.TerminateRequested()) {
          // 5./6. The wizard form; its creation runs the start-up checks.
          wizard::TFormEnvironment env;
          env.createEngine = [] { return wizard::CreateConversionEngine(); };
          form = std::make_unique<wizard::TForm_USt2020>(std::move(env));
          progress.SetParent(form.get());
          guard.SetMainWindow(form.get());
          QObject::connect(&guard, &wizard::SingleApp::raiseRequested, [](QWidget* raised) {
            qInfo("USt2020: raised %s", raised ? qPrintable(raised->objectName()) : "-");
          });
          form->show();
          qInfo("USt2020: window shown");
          // 7. Until the window has closed.
          if (!hooks.TerminateRequested()) exitCode = app.exec();
        }
        // 8. Reverse order: the engine library goes with `engine` here.
      } else {
        exitCode = 1;  // the data directories belong to another generation
      }
    } catch (const std::exception& e) {
      // An error of the start-up (a registry write refused, say) ends the
      // program before its window opens.
      dialog.ShowMessage(platform::MessageKind::Error, "USt2020", e.what());
      exitCode = 1;
    }
    hostenv::ModuleShutdown();
    hostenv::ReleaseZeRegistry();
    platform::SetFileOpProgress(nullptr);
  }
  guard.Close();
  hostenv::SetApplication(nullptr);
  // Only now the form goes, and the conversion engine with it.
  form.reset();
  return exitCode;
}
