#include "uKalvioThread.h"

#include <exception>

#include "uErrors.h"
#include "uKalvioAnswer.h"
#include "uLog.h"
#include "uMessages.h"
#include "uPlatform.h"
#include "uServiceUrls.h"
#include "uStrings.h"
#include "uVersion.h"

namespace {

// The exchange is made once and repeated at most this many times after a failed exchange.
constexpr int MaxRepetitions = 3;

}  // namespace

TKalvioApiThread::TKalvioApiThread(const std::string& FileName, const std::string& User, const std::string& Passwd,
                                   const TSettings& Settings, bool CreateSuspended)
    // The base never starts the worker itself: it would run before this object is complete.
    : TThread(true), fSettings(Settings) {
  fFileOptionName = Platform::ExtractFileName(FileName);
  fFileXML = FileName;
  fUser = User;
  fPasswd = Passwd;
  fHttp = std::make_unique<TCommonHttp>();
  fHttp->CreateMime();
  fDataItem = std::make_unique<TMemoryStream>();
  // LogItem already carries its separator when set; a second one would only clutter the path.
  fLogs = !Settings.LogItem.empty() ? Platform::IncludeTrailingPathDelimiter(Settings.LogItem)
                                    : Platform::ExtractFilePath(FileName);
  fCodeError = 0;
  SetState(TKalvioSendThreadState::dtsWaiting);
  if (!CreateSuspended) Start();
}

TKalvioApiThread::~TKalvioApiThread() { WaitFor(); }

void TKalvioApiThread::Execute() {
  try {
    fItem = WithoutCode(MsgThreadStart) + FileOptionName();
    DoItem();
    if (Terminated()) {
      SetState(TKalvioSendThreadState::dtsAborted);
    } else {
      SetState(TKalvioSendThreadState::dtsPreparing);
      if (!Terminated()) {
        SetState(TKalvioSendThreadState::dtsSend);
        fDataItem->Clear();
        enum { osSuccess, osTransportFailure, osRejected } outcome = osSuccess;
        int attempt = 0;
        while (!Terminated()) {
          fItem = attempt == 0 ? WithoutCode(Format(MsgSendFile, fFileXML))
                               : WithoutCode(Format(MsgSendFileRetry, attempt, fFileXML));
          DoItem();
          fErrorItem.clear();
          fDataItem->Clear();
          if (!SendFile(fFileXML)) {
            fItem = Format(MsgSendFileFailed, fFileXML, fErrorItem);
            DoItem();
            outcome = osTransportFailure;
          } else if (ParseAnswer()) {
            WriteResult(".ok.xml");
            outcome = osSuccess;
            SetState(TKalvioSendThreadState::dtsFinished);
          } else {
            fItem = fErrorItem;
            DoItem();
            WriteResult(".ko.xml");
            outcome = osRejected;
          }
          // An answer, positive or not, is final; only a failed exchange is repeated.
          if (attempt == MaxRepetitions) break;
          ++attempt;
          if (outcome != osTransportFailure) break;
        }
        if (outcome != osSuccess && !Terminated()) {
          fItem = MsgSendFileGiveUp;
          DoItem();
          SetState(TKalvioSendThreadState::dtsFailed);
        }
      }
    }
  } catch (const std::exception& e) {
    fItem = e.what();
    DoItem();
    SetState(TKalvioSendThreadState::dtsFailed);
  } catch (...) {
    fItem = "Unknown error";
    DoItem();
    SetState(TKalvioSendThreadState::dtsFailed);
  }
  // Reported here, in the worker, so that the base does not report it a second time.
  if (OnTerminate) {
    auto handler = OnTerminate;
    OnTerminate = nullptr;
    handler(this);
  }
}

bool TKalvioApiThread::SendFile(const std::string& FileName) {
  fHttp->SetOptions(fSettings.ProxyUse, fSettings.ProxyHost, fSettings.ProxyPort, fSettings.ProxyUser,
                    fSettings.ProxyPassword);
  fHttp->OnLog = [this](const std::string& Text, bool Overwrite) { HttpLog(Text, Overwrite); };
  fHttp->ClearMime(true);
  fHttp->SetMime("user", fUser);
  fHttp->SetMime("password", fPasswd);
  fHttp->SetMime("duplicita", IntToStr(fSettings.Duplicate));
  fHttp->SetFileMime("soubor", FileName);
  fHttp->SetMime("aplikace_info", AppInfo());

  const std::string url = ServiceBaseUrl(fSettings.TestUrl) + KalvioApiPath;
  THttpClient http;
  TMemoryStream data;
  if (!fHttp->DownloadPage(http, url, hmPOST, data)) {
    fErrorItem = fHttp->GetLastErrorMsg();
    return false;
  }
  fDataItem->Clear();
  fDataItem->Write(data.Bytes.data(), data.Bytes.size());
  fDataItem->Position = 0;
  return true;
}

bool TKalvioApiThread::ParseAnswer() {
  TKalvioAnswer a{fKodObj, fKodRR, fErrorItem, fCodeError};
  bool positive = ParseKalvioAnswer(fDataItem->Bytes, a);
  fKodObj = a.KodObj;
  fKodRR = a.KodRR;
  fErrorItem = a.ErrorItem;
  fCodeError = a.CodeError;
  return positive;
}

void TKalvioApiThread::WriteResult(const std::string& Suffix) {
  const std::string path = fLogs + fFileOptionName + Suffix;
  std::string err;
  if (!Platform::WriteFile(path, fDataItem->Bytes, &err))
    throw EInOutError(Format("Cannot create file \"%s\". %s", path, err));
}

void TKalvioApiThread::HttpLog(const std::string& Text, bool /*Overwrite*/) {
  if (Log) Log->Error(Text, LogTag);
}

void TKalvioApiThread::DoItem() {
  if (OnItem) OnItem(this, fItem);
}

void TKalvioApiThread::SetState(TKalvioSendThreadState State) {
  fState = State;
  if (OnStateChange) Synchronize([this] { DoStateChange(); });
}

void TKalvioApiThread::DoStateChange() {
  if (OnStateChange) OnStateChange(this, fState);
}
