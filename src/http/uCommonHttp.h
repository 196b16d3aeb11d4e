// The single HTTP component: one exchange per DownloadPage, over HTTPS (TLS 1.2/1.3),
// optionally through a proxy, with a multipart form and a diagnostic record of every failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum THttpMethod { hmGET = 0, hmPOST = 1, hmHEAD = 2 };

// Receiver of one diagnostic line.
using TCommonHttpLogEvent = std::function<void(const std::string& Text, bool Overwrite)>;

// In-memory answer body with a read position.
class TMemoryStream {
 public:
  std::string Bytes;
  size_t Position = 0;
  void Clear() {
    Bytes.clear();
    Position = 0;
  }
  size_t Size() const { return Bytes.size(); }
  void Write(const char* Data, size_t Len) {
    Bytes.append(Data, Len);
    Position = Bytes.size();
  }
  // Everything from the current position to the end.
  std::string ReadRest() {
    std::string r = Bytes.substr(Position < Bytes.size() ? Position : Bytes.size());
    Position = Bytes.size();
    return r;
  }
};

// One libcurl handle; a new one is created by the caller for every exchange, so nothing
// (connections, cookies) carries from one exchange to the next.
class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;
  void* Handle() const { return fHandle; }

 private:
  void* fHandle;  // CURL*
};

struct TProxySettings {
  std::string Scheme;  // never set
  std::string Host;
  int32_t Port = 0;
  std::string UserName;
  std::string Password;
};

class TCommonHttp {
 public:
  TCommonHttp();
  virtual ~TCommonHttp();
  TCommonHttp(const TCommonHttp&) = delete;
  TCommonHttp& operator=(const TCommonHttp&) = delete;

  // Raises EConvertError "'%s' is not a valid integer value" for a non-numeric port when Proxy is true.
  virtual void SetOptions(bool Proxy, const std::string& Host, const std::string& Port, const std::string& UserName,
                          const std::string& Password);
  virtual void CreateMime();
  virtual void ClearMime(bool aCreate);
  // A text field, in the order of the calls.
  virtual void SetMime(const std::string& Attr, const std::string& Value);
  // A file part streamed from disk, named after the file.
  virtual void SetFileMime(const std::string& Attr, const std::string& Value);
  virtual std::string GetLastErrorMsg() const { return fLastErrorMsg; }

  // True only for status 200; Data then holds the body, positioned at 0.
  bool DownloadPage(THttpClient& Http, const std::string& Url, THttpMethod Method, TMemoryStream& Data);

  TCommonHttpLogEvent OnLog;

  // Diagnostics helpers (public for their tests).
  static bool IsSecretKey(const std::string& Key);
  static std::string MaskUrl(const std::string& Url);
  static void MaskJsonValue(std::string& S, const std::string& Key);
  static std::string MaskSecrets(const std::string& Text);
  static bool IsLoggedHeader(const std::string& Name);
  static bool IsTextContent(const std::string& ContentType);
  static std::string DescribeBody(const TMemoryStream* Stream, const std::string& ContentType);
  static std::string MethodName(THttpMethod Method);

 protected:
  virtual void SetLastErrorMsg(const std::string& Text) { fLastErrorMsg = Text; }
  virtual void WriteLog(const std::string& Text, bool Overwrite);

 private:
  struct TMimePart {
    std::string Name;
    std::string Value;  // text, or the file path
    bool IsFile = false;
  };
  std::string fLastErrorMsg;
  TProxySettings fDefaultProxy;
  std::unique_ptr<std::vector<TMimePart>> fMime;
  bool fProxy = false;
};
