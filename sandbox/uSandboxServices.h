// The three services the sandbox plays, on a request already received: the order command
// API, the letter API and the version service. Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "uSandboxFaults.h"
#include "uSandboxOptions.h"
#include "uSandboxStore.h"

struct TFormFile {
  std::string FileName;  // as the client named the part
  std::string TempPath;  // received content, in the store's upload folder
  int64_t Size = 0;
};

// A received form: text fields in arrival order, file parts by field name (the first of a name counts).
struct TForm {
  std::vector<std::pair<std::string, std::string>> Fields;
  std::map<std::string, TFormFile> Files;
  // The first text field of that name; a file part's name alone does not count.
  const std::string* Field(const std::string& Name) const;
  const TFormFile* File(const std::string& Name) const;
};

struct TAnswer {
  int Status = 200;
  std::string ContentType = "text/xml; charset=UTF-8";
  std::string Body;
  std::string Summary;  // for the request log line: the outcome in a few words
};

// Changes to a normal answer asked for by a fault rule.
struct TAnswerTweaks {
  int HashLength = 40;  // length of the hash step 1 gives out
  bool NoPopis = false; // leave "popis" out of a step 2 / step 3 answer
};

class TSandboxServices {
 public:
  TSandboxServices(const TSandboxConfig& Config, TSandboxStore& Store, TFaultPlan& Faults);

  TAnswer Order(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks);
  TAnswer Letter(const TForm& Form, const std::string& StandIn);
  TAnswer Version(const TForm& Form, const std::string& StandIn);

  // A body that does not parse as the service's answer.
  static TAnswer Malformed(const TRequestKind& Request);
  // Notes a fault that a rule made, with the stand-in it hit.
  void RecordFault(const TRequestKind& Request, const std::string& StandIn, const TFaultRule& Rule);

  bool CheckAccount(const std::string& User, const std::string& Password) const;

 private:
  TAnswer OrderRefusal(int Step, const std::string& StandIn, const std::string& User, int Code,
                       const std::string& Reason, const std::string& Hash = "");
  TAnswer LetterRefusal(const std::string& StandIn, const std::string& User, int Code, const std::string& Reason,
                        const std::string& EarlierOrder = "");
  TAnswer OpenTransfer(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks);
  TAnswer StoreVolume(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks);
  TAnswer CloseOrder(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks);
  // One lock per transfer, so two requests on the same hash do not interleave.
  std::shared_ptr<std::mutex> TransferLock(const std::string& Hash);

  const TSandboxConfig& fConfig;
  TSandboxStore& fStore;
  TFaultPlan& fFaults;
  std::mutex fLocksLock;
  std::map<std::string, std::shared_ptr<std::mutex>> fTransferLocks;
};

// Characters that must not stand as they are in XML text or attribute values, escaped.
std::string XmlEscape(const std::string& Text);
