#include "uCommonHttp.h"

#include <curl/curl.h>

#include "uErrors.h"
#include "uHttpDiagnostics.h"
#include "uPlatform.h"
#include "uServiceUrls.h"
#include "uStrings.h"

static_assert(CURL_ERROR_SIZE == 256, "THttpClient::fErrorBuffer must hold CURL_ERROR_SIZE bytes");

namespace {

// libcurl's global set-up, once per process and safe from any thread.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// What one exchange collects while libcurl runs.
struct TExchange {
  TMemoryStream* Data = nullptr;
  size_t Limit = 0;
  size_t Received = 0;
  bool TooLarge = false;
  bool HaveStatusLine = false;
  std::string Reason;  // as received on the last status line
  std::vector<HttpDiagnostics::THttpHeader> Headers;
};

int OnTransferInfo(void* User, curl_off_t, curl_off_t, curl_off_t UploadTotal, curl_off_t UploadNow) {
  try {
    static_cast<TCommonHttp*>(User)->OnUploadProgress(static_cast<int64_t>(UploadNow), static_cast<int64_t>(UploadTotal));
  } catch (...) {
    // Progress is a display only: its receiver cannot break the exchange.
  }
  return 0;
}

size_t OnBody(char* Ptr, size_t Size, size_t Count, void* User) {
  auto* x = static_cast<TExchange*>(User);
  size_t len = Size * Count;
  if (len > x->Limit - x->Received) {
    x->TooLarge = true;
    return 0;  // stops the transfer
  }
  x->Data->Write(Ptr, len);
  x->Received += len;
  return len;
}

std::string Lenient(std::string_view Bytes) {
  return IsValidUtf8(Bytes) ? std::string(Bytes) : CodePointsToUtf8(Utf8ToCodePoints(Bytes));
}

// Status lines and headers of the answer. Each status line (an interim 100 Continue, then the
// final one) starts a new header list, so only the final answer's headers remain.
size_t OnHeader(char* Ptr, size_t Size, size_t Count, void* User) {
  auto* x = static_cast<TExchange*>(User);
  size_t len = Size * Count;
  std::string_view line(Ptr, len);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty()) return len;
  if (StartsWith(line, "HTTP/")) {
    x->HaveStatusLine = true;
    x->Headers.clear();
    x->Reason.clear();
    // "HTTP/1.1 404 Not Found": the reason is everything after the code and one blank.
    size_t sp = line.find(' ');
    if (sp != std::string_view::npos) {
      std::string_view rest = line.substr(sp + 1);
      size_t sp2 = rest.find(' ');
      if (sp2 != std::string_view::npos) x->Reason = Trim(Lenient(rest.substr(sp2 + 1)));
    }
    return len;
  }
  if (line.front() == ' ' || line.front() == '\t') {
    // A folded continuation of the previous header.
    if (!x->Headers.empty()) x->Headers.back().Value += " " + Trim(Lenient(line));
    return len;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return len;
  x->Headers.push_back({Lenient(line.substr(0, colon)), Trim(Lenient(line.substr(colon + 1)))});
  return len;
}

std::string CurlMessage(CURLcode Code, const char* Buffer) {
  std::string msg = Trim(Buffer ? Buffer : "");
  if (msg.empty()) msg = curl_easy_strerror(Code);
  return msg;
}

}  // namespace

// ---- THttpClient ------------------------------------------------------------------------------

THttpClient::THttpClient() : fHandle(CurlReady() ? curl_easy_init() : nullptr) {}

THttpClient::~THttpClient() {
  if (fHandle) curl_easy_cleanup(static_cast<CURL*>(fHandle));
  // The form may only go once no handle uses it.
  if (fMime) curl_mime_free(static_cast<curl_mime*>(fMime));
  if (fHeaders) curl_slist_free_all(static_cast<curl_slist*>(fHeaders));
}

// ---- TCommonHttp ------------------------------------------------------------------------------

TCommonHttp::TCommonHttp() {
  SetLastErrorMsg("");
  fProxy = false;
}

TCommonHttp::~TCommonHttp() = default;

void TCommonHttp::SetOptions(bool Proxy, const std::string& Host, const std::string& Port,
                             const std::string& UserName, const std::string& Password) {
  if (Proxy) {
    // Converted first: a bad port leaves the previous settings as they were.
    auto port = static_cast<int32_t>(StrToInt(Port));
    fProxy = true;
    fDefaultProxy.Host = Host;
    fDefaultProxy.Port = port;
    fDefaultProxy.UserName = UserName;
    fDefaultProxy.Password = Password;
  } else {
    fProxy = false;
    fDefaultProxy.Host.clear();
    fDefaultProxy.Port = 0;
    fDefaultProxy.UserName.clear();
    fDefaultProxy.Password.clear();
  }
}

void TCommonHttp::CreateMime() { fMime = std::make_unique<std::vector<TMimePart>>(); }

void TCommonHttp::ClearMime(bool aCreate) {
  fMime.reset();
  if (aCreate) CreateMime();
}

void TCommonHttp::SetMime(const std::string& Attr, const std::string& Value) {
  if (!fMime) CreateMime();
  fMime->push_back({Attr, Value, false});
}

void TCommonHttp::SetFileMime(const std::string& Attr, const std::string& Value) {
  if (!fMime) CreateMime();
  fMime->push_back({Attr, Value, true});
}

std::string TCommonHttp::MethodName(THttpMethod Method) {
  switch (Method) {
    case hmGET: return "GET";
    case hmPOST: return "POST";
    case hmHEAD: return "HEAD";
  }
  return "UNKNOWN";
}

void TCommonHttp::WriteLog(const std::string& Text, bool Overwrite) {
  if (OnLog) {
    OnLog(Text, Overwrite);
    return;
  }
  const std::string path = "client.TCommonHttp.log";
  const std::string line = Text + "\n";
  if (Overwrite)
    Platform::WriteFile(path, line);
  else
    Platform::AppendFile(path, line);
}

void TCommonHttp::Log(const std::string& Text) {
  try {
    WriteLog(Text, false);
  } catch (...) {
    // A record is a by-product; its receiver cannot turn the exchange's result around.
  }
}

void TCommonHttp::LogLines(const std::vector<std::string>& Lines) {
  for (const auto& l : Lines) Log(l);
}

bool TCommonHttp::DownloadPage(THttpClient& Http, const std::string& Url, THttpMethod Method, TMemoryStream& Data) {
  const int64_t started = Platform::MonotonicMs();
  const std::string method = MethodName(Method);
  auto elapsed = [&] { return Platform::MonotonicMs() - started; };
  // A failure before or during the transfer: the exception record with what has arrived.
  auto fail = [&](const std::string& Message) {
    SetLastErrorMsg(Message);
    LogLines(HttpDiagnostics::ExceptionRecord(method, Url, elapsed(), Message, &Data.Bytes));
    return false;
  };

  if (Method != hmGET && Method != hmPOST) return fail("The HTTP method " + method + " is not supported; nothing was sent");

  auto* h = static_cast<CURL*>(Http.fHandle);
  if (!h) return fail("The HTTP client could not be created");
  // A client object used a second time starts from libcurl's defaults again.
  curl_easy_reset(h);
  if (Http.fMime) {
    curl_mime_free(static_cast<curl_mime*>(Http.fMime));
    Http.fMime = nullptr;
  }
  Http.fErrorBuffer[0] = '\0';

  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption Option, auto Value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, Option, Value);
  };

  if (fProxy) {
    std::string problem;
    if (Trim(fDefaultProxy.Host).empty())
      problem = "The proxy host is empty";
    else if (fDefaultProxy.Port < 1 || fDefaultProxy.Port > 65535)
      problem = Format("The proxy port %d is outside 1 to 65535", fDefaultProxy.Port);
    if (problem.empty()) {
      // An IPv6 address comes without its brackets (-x=[::1]:3128 gives the host ::1);
      // libcurl reads a bare one as malformed, so it gets them back.
      std::string host = fDefaultProxy.Host;
      if (Contains(host, ":") && !StartsWith(host, "[")) host = "[" + host + "]";
      set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
      set(CURLOPT_PROXY, host.c_str());
      set(CURLOPT_PROXYPORT, static_cast<long>(fDefaultProxy.Port));
      if (!fDefaultProxy.UserName.empty()) {
        set(CURLOPT_PROXYUSERNAME, fDefaultProxy.UserName.c_str());
        set(CURLOPT_PROXYPASSWORD, fDefaultProxy.Password.c_str());
      }
      if (rc != CURLE_OK) problem = curl_easy_strerror(rc);
    }
    if (!problem.empty()) {
      SetLastErrorMsg(problem);
      Log("Proxy setup error: " + problem);
      return false;
    }
  } else {
    // No proxy means none at all, not one picked up from the environment.
    set(CURLOPT_PROXY, "");
  }

  TExchange x;
  x.Data = &Data;
  x.Limit = fMaxBodySize;
  set(CURLOPT_ERRORBUFFER, Http.fErrorBuffer.data());
  set(CURLOPT_URL, Url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string caFile = ServiceCaFile();
  if (!caFile.empty()) set(CURLOPT_CAINFO, caFile.c_str());
  set(CURLOPT_CONNECTTIMEOUT, fConnectTimeoutSec);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, fStallTimeoutSec);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, &x);
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, &x);
  if (OnUploadProgress) {
    set(CURLOPT_XFERINFOFUNCTION, &OnTransferInfo);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
  }
  if (rc != CURLE_OK) return fail(CurlMessage(rc, Http.fErrorBuffer.data()));

  if (Method == hmPOST) {
    curl_mime* mime = curl_mime_init(h);
    if (!mime) return fail("The form could not be created");
    Http.fMime = mime;
    if (fMime) {
      for (const auto& part : *fMime) {
        curl_mimepart* p = curl_mime_addpart(mime);
        if (!p) return fail("The form could not be created");
        CURLcode prc = curl_mime_name(p, part.Name.c_str());
        if (prc == CURLE_OK) {
          if (part.IsFile) {
            // Streamed from disk while sending; the part takes the file's name.
            prc = curl_mime_filedata(p, part.Value.c_str());
            if (prc != CURLE_OK) return fail("Cannot open file \"" + part.Value + "\"");
          } else {
            prc = curl_mime_data(p, part.Value.data(), part.Value.size());
          }
        }
        if (prc != CURLE_OK) return fail(curl_easy_strerror(prc));
      }
    }
    set(CURLOPT_MIMEPOST, mime);
    // No "Expect: 100-continue": a server that does not answer it would hold every volume
    // back by about a second before the body goes out.
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    if (!headers) return fail("The request headers could not be created");
    Http.fHeaders = headers;
    set(CURLOPT_HTTPHEADER, headers);
  } else {
    set(CURLOPT_HTTPGET, 1L);
  }
  if (rc != CURLE_OK) return fail(CurlMessage(rc, Http.fErrorBuffer.data()));

  rc = curl_easy_perform(h);
  if (rc != CURLE_OK) {
    if (x.TooLarge)
      return fail(Format("The answer is larger than the limit of %d bytes; the transfer was stopped",
                         static_cast<long long>(fMaxBodySize)));
    return fail(CurlMessage(rc, Http.fErrorBuffer.data()));
  }

  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200) {
    Data.Position = 0;
    return true;
  }

  std::string reason = x.Reason;
  if (reason.empty()) reason = HttpDiagnostics::StandardReasonPhrase(status);
  if (reason.empty()) reason = Format("HTTP status %d", static_cast<long long>(status));
  SetLastErrorMsg(reason);
  LogLines(HttpDiagnostics::Non200Record(method, Url, elapsed(), status, reason, x.Headers, &Data.Bytes));
  return false;
}

// ---- diagnostics helpers ---------------------------------------------------------------------

bool TCommonHttp::IsSecretKey(const std::string& Key) { return HttpDiagnostics::IsSecretKey(Key); }
std::string TCommonHttp::MaskUrl(const std::string& Url) { return HttpDiagnostics::MaskUrl(Url); }
void TCommonHttp::MaskJsonValue(std::string& S, const std::string& Key) { HttpDiagnostics::MaskJsonValue(S, Key); }
std::string TCommonHttp::MaskSecrets(const std::string& Text) { return HttpDiagnostics::MaskSecrets(Text); }
bool TCommonHttp::IsLoggedHeader(const std::string& Name) { return HttpDiagnostics::IsLoggedHeader(Name); }
bool TCommonHttp::IsTextContent(const std::string& ContentType) { return HttpDiagnostics::IsTextContent(ContentType); }
std::string TCommonHttp::DescribeBody(const TMemoryStream* Stream, const std::string& ContentType) {
  return HttpDiagnostics::DescribeBody(Stream ? &Stream->Bytes : nullptr, ContentType);
}
