#pragma once
// The suite's key-value store with a machine scope and a user scope (one
// settings file each, see Locations.h), both below the relative key
// "Software\ZEMPA Pro", and the all-users mirror "ZempaPro.ini" of the
// machine-wide values this module writes. Nothing is cached: every property
// access goes to the files, so several processes see each other's writes
// (the last write wins).
#include <memory>
#include <stdexcept>
#include <string>

namespace hostenv {

class TIniFile;

inline constexpr const char* ProductKey = "Software\\ZEMPA Pro";

// A write to the store failed; the message names the value, as the host's
// registry layer reports it. Detail() holds the file and system reason.
class ERegistryException : public std::runtime_error {
 public:
  ERegistryException(const std::string& message, std::string detail)
      : std::runtime_error(message), FDetail(std::move(detail)) {}
  const std::string& Detail() const { return FDetail; }

 private:
  std::string FDetail;
};

class TZeRegistry {
 public:
  TZeRegistry();
  ~TZeRegistry();
  TZeRegistry(const TZeRegistry&) = delete;
  TZeRegistry& operator=(const TZeRegistry&) = delete;

  std::string ZempaIni() const;                  // default "ZEMPA.INI"
  void SetZempaIni(const std::string& value);    // user scope only
  std::string Version() const;                   // default ""
  void SetVersion(const std::string& value);     // machine scope + mirror
  std::string ProgPath() const;                  // with one trailing separator
  void SetProgPath(const std::string& value);    // stored without it
  std::string LoggedIn() const;
  void SetLoggedIn(const std::string& value);
  std::string VisibleVersion() const;

  bool IsTerminal() const;
  bool TermSrvInstallMode() const;  // always false: Linux has no install mode
  // Creates the machine-scope store (folder and file) when missing and makes
  // both writable for every user of the machine. False when that fails.
  bool SetSecurity();
  // Moves values that ended up in the user store's virtual-store section
  // ("Software\Classes\VirtualStore\MACHINE\Software\ZEMPA Pro") into the
  // machine scope; true when there was nothing to move or all were moved.
  bool FixVistaShadowKey();

  const std::string& MachineStorePath() const { return FMachinePath; }
  const std::string& UserStorePath() const { return FUserPath; }
  // Empty when the all-users folder could not be created.
  std::string AllUsersIniPath() const;

 private:
  std::string ReadMachine(const std::string& name) const;
  std::string ReadUser(const std::string& name) const;
  void WriteMachine(const std::string& name, const std::string& value);
  void WriteUser(const std::string& name, const std::string& value);
  void MirrorAllUsers(const std::string& name, const std::string& value);

  std::string FMachinePath;
  std::string FUserPath;
  std::unique_ptr<TIniFile> FRegHKLM;
  std::unique_ptr<TIniFile> FRegHKCU;
  std::unique_ptr<TIniFile> FIniAllUsers;  // absent when the folder is missing
};

// A remote session: SSH_CONNECTION or SSH_CLIENT set, or an X display with a
// host part other than "unix" (":0" and "unix:0" are local; forwarded
// displays such as "localhost:10.0" are remote).
bool DetectRemoteSession();

// The process-wide object. Created at process start, released at the end,
// after the module shutdown. ZeRegistry() throws std::logic_error when absent.
TZeRegistry& ZeRegistry();
bool ZeRegistryExists();
void CreateZeRegistry();
void ReleaseZeRegistry();

}  // namespace hostenv
