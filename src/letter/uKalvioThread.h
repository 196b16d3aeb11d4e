// Letter service worker: posts one shipment XML file with the user's credentials and the
// duplicate-check switch, reads the XML answer, keeps the raw answer beside the input (or in
// the transfer-log folder) as ".ok.xml" / ".ko.xml", and reports progress and state changes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "uCommonHttp.h"
#include "uSettings.h"
#include "uThread.h"

class TLogWriter;

// Same values as the order thread's states. Scoped, because both units are used together and
// the order unit already declares the bare names.
enum class TKalvioSendThreadState : int {
  dtsWaiting = 0,
  dtsPreparing = 1,
  dtsProcess = 2,  // never entered by the letter thread
  dtsSend = 3,
  dtsFinished = 4,
  dtsFailed = 5,
  dtsAborted = 6
};

class TKalvioApiThread;

// Progress text; called in the worker thread, without synchronisation.
using TKalvioItemEvent = std::function<void(TKalvioApiThread* Sender, const std::string& Item)>;
// State change; called in the main thread while the worker waits for it.
using TKalvioStateChangeEvent = std::function<void(TKalvioApiThread* Sender, TKalvioSendThreadState State)>;

// Path of the letter service below the base address.
inline constexpr const char* KalvioApiPath = "/kalvio/kalvioApi.php";

class TKalvioApiThread : public TThread {
 public:
  // FileName: the shipment XML file; User, Passwd: the credentials sent to the service.
  // Settings is copied. With CreateSuspended false the worker starts at once.
  TKalvioApiThread(const std::string& FileName, const std::string& User, const std::string& Passwd,
                   const TSettings& Settings, bool CreateSuspended);
  ~TKalvioApiThread() override;

  // File-name part of the shipment file.
  const std::string& FileOptionName() const { return fFileOptionName; }
  // Shipment number of an accepted shipment; after a duplicate, the earlier number.
  const std::string& KodObj() const { return fKodObj; }
  // Posting number of an accepted shipment.
  const std::string& KodRR() const { return fKodRR; }
  // Error text of the last attempt.
  const std::string& ErrStr() const { return fErrorItem; }
  // The service's error code, 0 until one is read; -35: the shipment was sent before.
  int32_t ErrCode() const { return fCodeError; }
  TKalvioSendThreadState State() const { return fState; }
  // Directory the result files go to, with its trailing separator (may be empty).
  const std::string& ResultDir() const { return fLogs; }

  TKalvioItemEvent OnItem;
  TKalvioStateChangeEvent OnStateChange;

  // Receiver of the HTTP client's diagnostic lines (not owned); none: they are dropped.
  // Written at error level with LogTag. Set before Start; must be safe to call from the worker.
  TLogWriter* Log = nullptr;
  std::string LogTag = "APL";

 protected:
  void Execute() override;
  virtual void DoItem();
  virtual void SetState(TKalvioSendThreadState State);
  virtual void DoStateChange();

 private:
  bool SendFile(const std::string& FileName);
  // True for a positive answer in fDataItem; fills the answer fields.
  bool ParseAnswer();
  void WriteResult(const std::string& Suffix);
  void HttpLog(const std::string& Text, bool Overwrite);

  std::unique_ptr<TCommonHttp> fHttp;
  std::unique_ptr<TMemoryStream> fDataItem;
  std::string fFileXML;
  std::string fErrorItem;
  std::string fLogs;
  std::string fKodObj;
  std::string fKodRR;
  std::string fUser;
  std::string fPasswd;
  int32_t fCodeError = 0;
  std::string fFileOptionName;
  std::string fItem;
  TKalvioSendThreadState fState = TKalvioSendThreadState::dtsWaiting;
  TSettings fSettings;
};
