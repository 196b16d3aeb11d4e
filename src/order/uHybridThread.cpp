#include "uHybridThread.h"

#include <pugixml.hpp>

#include "ZentrikLogRenderer.h"
#include "uCommonHttp.h"
#include "uErrors.h"
#include "uFunctionIO.h"
#include "uLog.h"
#include "uMessages.h"
#include "uOptions.h"
#include "uPackFiles.h"
#include "uPlatform.h"
#include "uProgressLine.h"
#include "uServiceUrls.h"
#include "uStrings.h"
#include "uVersion.h"

namespace {

constexpr const char* CommandPath = "/commandApi/common.php";
constexpr size_t HashLength = 40;
// A failed upload or close is repeated at once, up to three times.
constexpr int LastAttempt = 3;

// First L + 1 characters of the file name (L: length of its extension with the dot), then the
// creation time as two-digit month and two-digit second, then "0".
std::string TemporaryBaseName(const std::string& FileName) {
  const std::string name = Platform::ExtractFileName(FileName);
  const size_t extLength = Utf16Length(Platform::ExtractFileExt(name));
  const Platform::TDateTime now = Platform::Now();
  return Utf16Left(name, extLength + 1) + Format("%.2d%.2d", now.Month, now.Second) + "0";
}

// An answer of the order service: values are the first text of an element of that name
// directly below the root, or of the root itself.
class TAnswer {
 public:
  explicit TAnswer(const std::string& Body) {
    // A body that is not XML leaves an empty document: its elements are then missing.
    if (!fDoc.load_buffer(Body.data(), Body.size(), pugi::parse_default | pugi::parse_ws_pcdata))
      fDoc.reset();
  }
  bool Has(const char* Name) const { return Element(Name); }
  // Raises when the element is missing; an element without text gives the empty text.
  std::string Text(const char* Name) const {
    pugi::xml_node e = Element(Name);
    if (!e) throw EConvertError(Format("GetNodeTextStr: No text in the the %s node", Name));
    for (pugi::xml_node n = e.first_child(); n; n = n.next_sibling())
      if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) return n.value();
    return "";
  }
  // The result code; raises for a text that is not a decimal integer.
  int64_t Code() const { return StrToInt(Text("hodnota")); }

 private:
  pugi::xml_node Element(const char* Name) const {
    pugi::xml_node root = fDoc.document_element();
    if (!root) return {};
    if (std::string(root.name()) == Name) return root;
    return root.child(Name);
  }
  pugi::xml_document fDoc;
};

}  // namespace

THybridApiThread::THybridApiThread(const std::string& FileName, const TSettings& Settings, bool CreateSuspended)
    : TThread(true) {
  fOption = std::make_unique<TOptions>(FileName);
  fOption->SetSettings(Settings);
  fFileOptionName = Platform::ExtractFileName(FileName);
  fHttp = std::make_unique<TCommonHttp>();
  fHttp->CreateMime();
  fDataItem = std::make_unique<TMemoryStream>();
  fTemp = fOption->Temp();
  fTmpAdr = fTemp.empty() ? std::string() : Platform::IncludeTrailingPathDelimiter(fTemp);
  fTmpFile = TemporaryBaseName(FileName);
  SetState(dtsWaiting);
  fLogsItem = Trim(fOption->LogItem()).empty() ? Platform::ExtractFilePath(FileName)
                                               : Platform::IncludeTrailingPathDelimiter(fOption->LogItem());

  TLogWriterConfig log;
  // An order file named without a directory keeps its transfer log in the program's directory.
  log.Directory = fLogsItem.empty() ? Platform::ProgramDirectory() : fLogsItem;
  log.FileNamePattern = FileNameTag(fOption->LogItemName()) + "_pid_{pid}.{number}.{tag}.log";
  log.MaxFiles = fOption->LogItemName().empty() ? 1 : 10;
  log.MaxFileSize = 1024000;
  log.Renderer = &TZentrikLogRenderer::RenderLogItem;
  log.MinLevel = TLogLevel::llDebug;
  Log = std::make_unique<TLogWriter>(log);

  fHttp->OnLog = [this](const std::string& Text, bool Overwrite) { HttpLog(Text, Overwrite); };
  if (!CreateSuspended) Start();
}

THybridApiThread::~THybridApiThread() { WaitFor(); }

uint8_t THybridApiThread::ControlFile() const { return fOption->ControleFile() ? 1 : 0; }

void THybridApiThread::HttpLog(const std::string& Text, bool /*Overwrite*/) {
  if (Log) Log->Error(Text, fFileOptionName);
}

void THybridApiThread::DoItem() {
  if (OnItem) OnItem(this, fItem);
}

void THybridApiThread::SetState(THybSendThreadState State) {
  fState = State;
  if (OnStateChange) Synchronize([this] { DoStateChange(); });
}

void THybridApiThread::DoStateChange() {
  if (OnStateChange) OnStateChange(this, fState);
}

void THybridApiThread::Progress(const std::string& Message) {
  fItem = WithoutCode(Message);
  DoItem();
}

bool THybridApiThread::SendStep(int Step, const std::string& Hash, const std::string& FileName) {
  fHttp->SetOptions(fOption->ProxyUse(), fOption->ProxyHost(), fOption->ProxyPort(), fOption->ProxyUser(),
                    fOption->ProxyPassword());
  fHttp->ClearMime(true);
  fHttp->SetMime("krok", IntToStr(Step));
  fHttp->SetMime("typvystupu", "xml");
  switch (Step) {
    case 1:
      fHttp->SetMime("user", fOption->User());
      fHttp->SetMime("passwd", fOption->Passwd());
      fHttp->SetMime("jobzak", fOption->JobZak());
      fHttp->SetMime("poznamka", fOption->Note());
      fHttp->SetMime("standzak", fOption->StandZak());
      fHttp->SetMime("aplikace_info", AppInfo());
      break;
    case 2:
      fHttp->SetMime("hash", Hash);
      fHttp->SetFileMime("soubor", FileName);
      break;
    default:
      fHttp->SetMime("hash", Hash);
      break;
  }
  const std::string url = ServiceBaseUrl(fOption->TestUrl()) + CommandPath;
  THttpClient client;
  TMemoryStream data;
  // A volume of 150 MiB takes a while: on a terminal its upload shows its progress.
  bool ok;
  if (Step == 2) {
    TProgressLine progress("Odes\xC3\xADl\xC3\xA1n\xC3\xAD", Platform::FileSize(FileName));
    struct TUnhook {
      TCommonHttp& Http;
      ~TUnhook() { Http.OnUploadProgress = nullptr; }
    } unhook{*fHttp};
    fHttp->OnUploadProgress = [&progress](int64_t Sent, int64_t) { progress.Update(Sent); };
    ok = fHttp->DownloadPage(client, url, hmPOST, data);
  } else {
    ok = fHttp->DownloadPage(client, url, hmPOST, data);
  }
  if (!ok) {
    fErrorItem = fHttp->GetLastErrorMsg();
    return false;
  }
  fDataItem->Bytes.append(data.Bytes);
  return true;
}

std::string THybridApiThread::ReadHash() {
  try {
    TAnswer answer(fDataItem->Bytes);
    if (answer.Code() != 0) {
      if (answer.Has("popis")) fErrorItem = answer.Text("popis");
      return "";
    }
    return answer.Has("hash") ? answer.Text("hash") : "";
  } catch (const std::exception& E) {
    fErrorItem = E.what();
    return "";
  }
}

bool THybridApiThread::CheckAnswer() {
  try {
    TAnswer answer(fDataItem->Bytes);
    if (answer.Code() != 0) {
      fErrorItem = answer.Text("popis");
      return false;
    }
    fKodObj = answer.Has("kodobjednavky") ? answer.Text("kodobjednavky") : "";
    answer.Text("popis");  // required in every answer of steps 2 and 3
    return true;
  } catch (const std::exception& E) {
    fErrorItem = E.what();
    return false;
  }
}

bool THybridApiThread::PackFiles(const std::string& Prefix) {
  const std::vector<std::string>& documents = fOption->ListFiles();
  if (documents.empty()) return false;
  std::string error;
  const bool ok = PackDocuments(documents, Prefix + "_" + IntToStr(ThreadID()), fVolumeSize, fListFiles, error,
                                [this](const std::string& Document) {
                                  Log->Info(Format(MsgFileAdded, Document), fFileOptionName);
                                });
  if (!ok) fErrorItem = error;
  return ok;
}

void THybridApiThread::Execute() {
  const std::string& tag = fFileOptionName;
  try {
    Log->Info(MsgThreadStart + fFileOptionName, tag);
    Progress(MsgThreadStart + fFileOptionName);
    if (Terminated()) {
      SetState(dtsAborted);
    } else {
      SetState(dtsPreparing);
      Transfer();
    }
  } catch (const std::exception& E) {
    try {
      Log->Error(E.what(), tag);
      SetState(dtsFailed);
    } catch (...) {
    }
  } catch (...) {
    try {
      Log->Error("Unknown error", tag);
      SetState(dtsFailed);
    } catch (...) {
    }
  }

  // Only the volumes this transfer wrote are removed: another file that merely shares the
  // base name is not ours.
  for (const std::string& volume : fListFiles) Platform::DeleteFile(volume);
  if (OnTerminate) {
    auto handler = std::move(OnTerminate);
    OnTerminate = nullptr;
    try {
      handler(this);
    } catch (...) {
    }
  }
}

void THybridApiThread::Transfer() {
  const std::string& tag = fFileOptionName;

  // Configuration check.
  fOption->Init();
  if (fOption->ErrorSate() == 1) {
    Log->Error(Format(MsgConfigNotRead, fOption->FileName()), tag);
    fCodeError = 1;
  } else {
    if (fOption->ErrorSate() == 2) {
      fErrorItem = fOption->ErrorStr();
      Log->Error(Format(MsgFileNotRead, fOption->ErrorStr()), tag);
      fCodeError = 1;
    }
    if (Trim(fOption->User()).empty()) {
      Log->Error(MsgConfigNoUser, tag);
      fCodeError = 1;
    }
    if (Trim(fOption->Passwd()).empty()) {
      Log->Error(MsgConfigNoPassword, tag);
      fCodeError = 1;
    }
    if (Trim(fOption->StandZak()).empty()) {
      Log->Error(MsgConfigNoStandZak, tag);
      fCodeError = 1;
    }
  }
  if (fCodeError == 1) throw EThreadError(MsgConfigError);
  Log->Info(Format(MsgPassOn, fOption->Note()), tag);

  // Packing.
  Log->Info(MsgCompress, tag);
  Progress(MsgCompress);
  if (!PackFiles(fTmpAdr + fTmpFile)) throw EThreadError(Format(MsgCompressFailed, fErrorItem));
  if (Terminated()) return;

  // Opening the transfer.
  Log->Info(MsgConnect, tag);
  SetState(dtsProcess);
  if (!SendStep(1, "", "")) {
    const std::string text = Format(MsgConnectFailed, fErrorItem);
    Log->Fatal(text, tag);
    SetState(dtsFailed);
    throw EThreadError(text);
  }
  fHash = ReadHash();
  if (Utf16Length(fHash) != HashLength) {
    const std::string text = Format(MsgAnswerFailed, fErrorItem);
    Log->Fatal(text, tag);
    SetState(dtsFailed);
    throw EThreadError(text);
  }
  Log->Info(Format(MsgHashMade, fHash), tag);

  // Uploading the volumes: exactly those the packing wrote, in number order.
  const int count = static_cast<int>(fListFiles.size());
  for (int j = 1; j <= count && !Terminated(); ++j) {
    const std::string& volume = fListFiles[j - 1];
    SetState(dtsSend);
    bool sent = false;
    for (int k = 0; !Terminated(); ++k) {
      const std::string text = k == 0 ? Format(MsgSendVolume, volume, j, count)
                                      : Format(MsgSendVolumeRetry, k, volume, j, count);
      Log->Info(text, tag);
      Progress(text);
      fErrorItem.clear();
      fDataItem->Clear();
      if (!SendStep(2, fHash, volume))
        Log->Warn(Format(MsgSendVolumeFailed, volume, fErrorItem), tag);
      else if (!CheckAnswer())
        Log->Warn(Format(MsgSendAnswerFailed, fErrorItem), tag);
      else
        sent = true;
      if (sent || k == LastAttempt) break;
    }
    if (!sent) {
      if (Terminated()) return;
      throw EThreadError(MsgSendVolumesFailed);
    }
  }

  // Closing the order.
  bool closed = false;
  for (int k = 0; !Terminated(); ++k) {
    fErrorItem.clear();
    if (k == 0)
      Log->Info(MsgCloseOrder, tag);
    else
      Log->Warn(Format(MsgCloseOrderRetry, k), tag);
    Progress(MsgCloseOrder);
    fDataItem->Clear();
    SetState(dtsProcess);
    if (SendStep(3, fHash, "")) {
      if (CheckAnswer()) {
        Log->Info(Format(MsgOrderTransferred, fKodObj), tag);
        SetState(dtsFinished);
        closed = true;
      } else {
        Log->Warn(Format(MsgCloseAnswerFailed, fErrorItem), tag);
      }
    } else if (!fErrorItem.empty()) {
      Log->Warn(Format(MsgCloseConnectFailed, fErrorItem), tag);
    }
    if (closed || k == LastAttempt) break;
  }
  if (!closed && !Terminated()) {
    SetState(dtsFailed);
    throw EThreadError(MsgCloseFailed);
  }
}
