// The order transfer worker: checks one order configuration file, packs the order's
// documents into 7z volumes, opens a transfer at the order service, uploads the volumes
// with retries and closes the order. Progress goes to OnItem (worker thread), state
// changes to OnStateChange (delivered in the main thread while the worker waits).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uSettings.h"
#include "uThread.h"

class TOptions;
class TCommonHttp;
class TMemoryStream;
class TLogWriter;

enum THybSendThreadState {
  dtsWaiting = 0,
  dtsPreparing = 1,
  dtsProcess = 2,
  dtsSend = 3,
  dtsFinished = 4,
  dtsFailed = 5,
  dtsAborted = 6
};

class THybridApiThread;

// Progress text, called in the worker thread.
using THybItem = std::function<void(THybridApiThread* Sender, const std::string& Item)>;
// State change, called in the main thread while the worker waits for it.
using TStateChangeEvent = std::function<void(THybridApiThread* Sender, THybSendThreadState State)>;

// Largest archive volume: 150 MiB.
inline constexpr int64_t HybVolumeSize = 157286400;

class THybridApiThread : public TThread {
 public:
  THybridApiThread(const std::string& FileName, const TSettings& Settings, bool CreateSuspended);
  ~THybridApiThread() override;

  const std::string& Hash() const { return fHash; }
  void SetHash(const std::string& Value) { fHash = Value; }
  const std::string& FileOptionName() const { return fFileOptionName; }
  const std::string& KodObj() const { return fKodObj; }
  const std::string& ErrStr() const { return fErrorItem; }
  // Per-transfer log directory, ending in a separator or empty; the control files go there.
  const std::string& LogsItem() const { return fLogsItem; }
  // 1 when ".ok"/".ko" control files are to be written.
  virtual uint8_t ControlFile() const;
  THybSendThreadState State() const { return fState; }

  // Base name of this order's temporary files and the directory they are written to.
  const std::string& TmpFile() const { return fTmpFile; }
  const std::string& TmpAdr() const { return fTmpAdr; }
  // Test seam: a smaller volume size makes a small order span several volumes.
  void SetVolumeSize(int64_t Bytes) { fVolumeSize = Bytes; }

  THybItem OnItem;
  TStateChangeEvent OnStateChange;

 protected:
  void Execute() override;
  virtual void DoItem();
  virtual void SetState(THybSendThreadState State);
  virtual void DoStateChange();

  // One exchange with the order service (steps 1 to 3); true for status 200, the body then
  // appended to fDataItem; on false fErrorItem holds the reason.
  bool SendStep(int Step, const std::string& Hash, const std::string& FileName);
  // The transfer hash from the answer of step 1, or empty (fErrorItem may tell why).
  std::string ReadHash();
  // True when the answer of step 2 or 3 reports success; sets fKodObj, or fErrorItem.
  bool CheckAnswer();
  // Packs the order's documents into volumes named Prefix + "_" + thread id + ".7z.NNN";
  // their paths go to fListFiles. False with the reason in fErrorItem.
  bool PackFiles(const std::string& Prefix);
  void HttpLog(const std::string& Text, bool Overwrite);

  // Phases 1 to 5; raises to give up the transfer.
  void Transfer();
  // Progress text of a catalogue message: the text without its code, handed to OnItem.
  void Progress(const std::string& Message);

  std::unique_ptr<TOptions> fOption;
  std::unique_ptr<TCommonHttp> fHttp;
  std::unique_ptr<TMemoryStream> fDataItem;
  std::vector<std::string> fListFiles;
  std::string fErrorItem;
  std::string fTmpAdr;
  std::string fTmpFile;
  std::string fHash;
  std::string fKodObj;
  int32_t fCodeError = 0;
  std::string fFileOptionName;
  std::string fItem;
  std::string fTemp;
  std::string fLogsItem;
  THybSendThreadState fState = dtsWaiting;
  std::unique_ptr<TLogWriter> Log;
  int64_t fVolumeSize = HybVolumeSize;
};
