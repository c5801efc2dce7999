// CreateSSL and UpdateKonten of one Mandant with a chart of N accounts, the
// tables copied fresh before every iteration. Run from <build>/bin, where
// the engine and full-text libraries lie.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "DemoInstall.h"
#include "Ust2020Obj.h"
#include "hostenv/Locations.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "xbase/engine/binding/XBE50.h"

namespace conversion {
class TQORUSt2020ObjTestAccess {
 public:
  static bool CreateSSL(TQORUSt2020Obj& e, int nr) { return e.CreateSSL(nr); }
  static bool UpdateKonten(TQORUSt2020Obj& e, int nr) { return e.UpdateKonten(nr); }
};
}  // namespace conversion

namespace {

namespace fs = std::filesystem;
using conversion::TQORUSt2020ObjTestAccess;

void BM_ConvertMandant(benchmark::State& state) {
  const fs::path root = fs::temp_directory_path() / ("ust-bench-" + std::to_string(state.range(0)));
  fs::remove_all(root);
  for (const char* sub : {"run", "config", "data", "etc", "share"}) fs::create_directories(root / "env" / sub);
  setenv("XDG_RUNTIME_DIR", (root / "env/run").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "env/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root / "env/data").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (root / "env/etc").c_str(), 1);
  setenv("XDG_DATA_DIRS", (root / "env/share").c_str(), 1);

  demo::TDemoOptions o;
  o.Root = (root / "demo").string();
  o.Mandanten = 1;
  o.Accounts = static_cast<std::int32_t>(state.range(0));
  std::string error;
  if (!demo::WriteInstallation(o, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const fs::path fibu = root / "demo/Daten/M00/Fibu";
  const fs::path pristine = root / "pristine";
  fs::copy(fibu, pristine);

  const std::string prog = demo::ProgramDirOf(o.Root) + "/";
  hostenv::SetHostProgramDirectory(prog);
  hostenv::CreateZeRegistry();
  hostenv::CreateZeOptions();
  hostenv::ZeOptions().SetZempaIni(hostenv::TZeIniFile::CreateEx("ZEMPA.INI", false, true, false));
  TXBEEngine xbe;
  if (!xbe.m_bIsLoaded && !xbe.LoadDLLs()) {
    state.SkipWithError("libxbe50.so not loaded");
    return;
  }
  {
    conversion::TQORUSt2020Obj engine;
    if (!engine.CheckFiles(prog)) state.SkipWithError(engine.LastError().c_str());
    for (auto _ : state) {
      state.PauseTiming();
      fs::remove_all(fibu);
      fs::copy(pristine, fibu);
      engine.MandantAt(0).ClearProtokolle();
      state.ResumeTiming();
      if (!TQORUSt2020ObjTestAccess::CreateSSL(engine, 0) || !TQORUSt2020ObjTestAccess::UpdateKonten(engine, 0)) {
        state.SkipWithError(engine.LastError().c_str());
        break;
      }
    }
    state.counters["accounts"] = static_cast<double>(state.range(0));
  }
  hostenv::ReleaseZeOptions();
  hostenv::ReleaseZeRegistry();
  hostenv::CloseModuleCount();
  fs::remove_all(root);
}

BENCHMARK(BM_ConvertMandant)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
