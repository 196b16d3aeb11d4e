// Runs the built zentrik-sandbox for a test: a fresh data folder, the build's ports (or any
// free ones), waits for its ready line, steers its misbehaviour, reads its inventory, and
// stops it when the object goes away.
//
// Control commands (Control(), or `--misbehave COMMAND` at start) are query texts. TARGET
// names the requests a rule applies to:
//   order   every order step      order1 / order2 / order3   one step of the order service
//   letter  the letter service    version                    both version exchanges
//   version4 / version5  the version query / the package request      any   every request
// Rules queue up in the order given; each request takes the first rule whose target fits.
//   fail=TARGET&status=S&count=N     next N requests answered with HTTP status S (default 500, 1)
//   drop=TARGET&count=N              next N requests: connection closed while the request is
//                                    still being received, no answer at all
//   stall=TARGET&ms=D&count=N        next N requests wait D ms, then are served normally
//   malformed=TARGET&count=N         next N requests answered with a body that does not parse
//                                    (XML cut short; version: no "Version" text / no zip)
//   hash=L&count=N                   next N step 1 answers carry a hash of L characters (39, 41)
//   nopopis=TARGET&count=N           next N step 2 (or step 3) answers leave out "popis"
//   version=X                        the version service offers X from now on
//   reset                            drops every rule and restores the start version
//   rules                            changes nothing; the answer lists the pending rules
// The answer body is "ok" and the pending rules, one a line; a bad command gets status 400.
#pragma once

#include <string>
#include <vector>

#include "uTestSupport.h"

namespace TestSupport {

struct TSandboxOptions {
  int Port = 0;      // production stand-in: 0 the build's port, -1 any free port, else this one
  int TestPort = 0;  // test stand-in: the same choices
  std::string Version;                     // --version (empty: the sandbox's default, "1.0.5")
  std::string PackageDir;                  // --package-dir (empty: none)
  std::vector<std::string> Accounts;       // --account user:password, added to demo:demo123
  std::vector<std::string> StandardOrders; // --standzak NAME (empty: any non-empty value)
  std::vector<std::string> Misbehave;      // --misbehave COMMAND, in order
  std::vector<std::string> ExtraArgs;      // anything else, passed as given
  std::string CaDir;  // --ca-dir (empty: the sandbox's default, the folder of the build's CA file)
};

class TSandbox {
 public:
  // Starts the sandbox and waits (up to 30 s) for its ready line; throws std::runtime_error
  // with the sandbox's output when it does not come up.
  explicit TSandbox(const TSandboxOptions& Options = {});
  ~TSandbox();  // SIGTERM, then SIGKILL after 5 s
  TSandbox(const TSandbox&) = delete;
  TSandbox& operator=(const TSandbox&) = delete;

  const std::string& DataDir() const { return fDataDir; }
  int Port() const { return fPort; }
  int TestPort() const { return fTestPort; }
  std::string ProductionUrl() const;  // https://127.0.0.1:<Port>
  std::string TestUrl() const;        // https://localhost:<TestPort>
  std::string CaFile() const;         // the CA the sandbox's server certificate is signed by
  std::string Output() const;         // what the sandbox printed so far (request log lines)

  // Sends one control command; false when the sandbox refused it or did not answer.
  // Answer (optional) gets the answer body or the transport error.
  bool Control(const std::string& Command, std::string* Answer = nullptr);
  // Shorthands for the commands above.
  bool FailNext(const std::string& Target, int Status, int Count = 1);
  bool DropNext(const std::string& Target, int Count = 1);
  bool StallNext(const std::string& Target, int Ms, int Count = 1);
  bool MalformedNext(const std::string& Target, int Count = 1);
  bool WrongHashLength(int Length, int Count = 1);
  bool NoPopisNext(const std::string& Target = "order2", int Count = 1);
  bool SetVersion(const std::string& Version);
  bool Reset();

  // `zentrik-sandbox --data DataDir() --list`: the inventory, one record a line.
  std::string Inventory() const;
  // The inventory lines that begin with Kind followed by a blank ("order", "entry", ...).
  std::vector<std::string> InventoryLines(const std::string& Kind) const;

  // The ports of the build's service addresses (zentrik_config.h).
  static int BuildPort(bool Test);
  // A port on 127.0.0.1 that was free a moment ago.
  static int FreePort();

 private:
  TTempDir fDir;
  std::string fDataDir;
  std::string fLogFile;
  std::string fCaDir;
  int fPort = 0;
  int fTestPort = 0;
  int fPid = -1;
};

}  // namespace TestSupport
