// The single HTTP component: one exchange per DownloadPage, over HTTPS (TLS 1.2/1.3),
// optionally through a proxy, with a multipart form and a diagnostic record of every failure.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum THttpMethod { hmGET = 0, hmPOST = 1, hmHEAD = 2 };

// Receiver of one diagnostic line.
using TCommonHttpLogEvent = std::function<void(const std::string& Text, bool Overwrite)>;
// Upload progress of the exchange under way: bytes sent and bytes to send (0 while unknown).
using TCommonHttpProgressEvent = std::function<void(int64_t Sent, int64_t Total)>;

// In-memory answer body with a read/write position.
class TMemoryStream {
 public:
  std::string Bytes;
  size_t Position = 0;
  void Clear() {
    Bytes.clear();
    Position = 0;
  }
  size_t Size() const { return Bytes.size(); }
  // Writes at the current position (overwriting, then extending) and moves past the data.
  void Write(const char* Data, size_t Len) {
    if (Position > Bytes.size()) Position = Bytes.size();
    if (Position == Bytes.size()) {
      Bytes.append(Data, Len);
    } else {
      size_t over = std::min(Len, Bytes.size() - Position);
      Bytes.replace(Position, over, Data, over);
      Bytes.append(Data + over, Len - over);
    }
    Position += Len;
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
  void* Handle() const { return fHandle; }  // CURL*, null when libcurl could not make one

 private:
  friend class TCommonHttp;
  void* fHandle;           // CURL*
  void* fMime = nullptr;   // curl_mime* of the current exchange, released with the handle
  void* fHeaders = nullptr;  // curl_slist* of the request's extra headers, released with the handle
  std::array<char, 256> fErrorBuffer{};  // libcurl's detailed error text (CURL_ERROR_SIZE)
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

  // Raises EConvertError "'%s' is not a valid integer value" for a non-numeric port when Proxy is true;
  // Proxy false clears the stored proxy.
  virtual void SetOptions(bool Proxy, const std::string& Host, const std::string& Port, const std::string& UserName,
                          const std::string& Password);
  virtual void CreateMime();
  virtual void ClearMime(bool aCreate);
  // A text field, in the order of the calls.
  virtual void SetMime(const std::string& Attr, const std::string& Value);
  // A file part streamed from disk, named after the file.
  virtual void SetFileMime(const std::string& Attr, const std::string& Value);
  virtual std::string GetLastErrorMsg() const { return fLastErrorMsg; }

  // True only for status 200; Data then holds the body, positioned at 0. On false the reason
  // is in GetLastErrorMsg and a diagnostic record has gone through WriteLog.
  bool DownloadPage(THttpClient& Http, const std::string& Url, THttpMethod Method, TMemoryStream& Data);

  TCommonHttpLogEvent OnLog;
  // Optional; called from inside DownloadPage while the request body is sent.
  TCommonHttpProgressEvent OnUploadProgress;

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

  // Seconds to connect, and seconds without any progress while sending or receiving.
  long fConnectTimeoutSec = 60;
  long fStallTimeoutSec = 60;
  // An answer body larger than this ends the exchange as a failure instead of exhausting memory.
  size_t fMaxBodySize = size_t(256) << 20;

 private:
  struct TMimePart {
    std::string Name;
    std::string Value;  // text, or the file path
    bool IsFile = false;
  };
  // Every record line goes through here: a failing receiver never changes the exchange's result.
  void Log(const std::string& Text);
  void LogLines(const std::vector<std::string>& Lines);

  std::string fLastErrorMsg;
  TProxySettings fDefaultProxy;
  std::unique_ptr<std::vector<TMimePart>> fMime;
  bool fProxy = false;
};
