// Peak memory of a large file-part upload: the file must stream from disk, so the client's
// peak resident memory should grow by a small fraction of the file's size.
//
//   uCommonHttp_upload_bench [MiB]      (default 150)
//
// The receiving server runs in the same process and discards the body; its memory is
// counted too, so the figure is an upper bound for the client.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "uCommonHttp.h"
#include "uTestHttpsServer.h"

namespace {

// VmHWM / VmRSS of this process in KiB.
long StatusKiB(const char* Field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(Field, 0) == 0) return std::stol(line.substr(std::string(Field).size()));
  return -1;
}

// Resets the peak to the current resident size, so the next peak belongs to what follows.
bool ResetPeak() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  return bool(f.flush());
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::stol(argv[1]) : 150;
  TestSupport::TTempDir dir;
  const std::string path = dir / "volume.7z.001";
  {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string chunk(1 << 20, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (long i = 0; i < mib; ++i)
      if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) return 2;
    ::close(fd);
  }

  TestSupport::TTestHttpsServer server;
  size_t received = 0;
  server.Server().Post("/upload", [&](const httplib::Request&, httplib::Response& r, const httplib::ContentReader& read) {
    read([&](const httplib::MultipartFormData&) { return true; },
         [&](const char*, size_t n) {
           received += n;
           return true;
         });
    r.set_content("ok", "text/plain");
  });
  server.Start();

  TCommonHttp http;
  http.OnLog = [](const std::string& t, bool) { std::fprintf(stderr, "%s\n", t.c_str()); };
  http.ClearMime(true);
  http.SetMime("hash", "0123456789012345678901234567890123456789");
  http.SetFileMime("soubor", path);

  const bool reset = ResetPeak();
  const long before = StatusKiB("VmRSS:");
  auto t0 = std::chrono::steady_clock::now();
  bool ok;
  {
    THttpClient client;
    TMemoryStream data;
    ok = http.DownloadPage(client, server.BaseUrl() + "/upload", hmPOST, data);
  }
  const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long peak = StatusKiB("VmHWM:");

  std::printf("upload of %ld MiB: %s in %.2f s, server received %.1f MiB\n", mib, ok ? "ok" : "FAILED", sec,
              received / 1048576.0);
  std::printf("resident before %ld KiB, peak during %ld KiB, growth %ld KiB (%.2f%% of the file)%s\n", before, peak,
              peak - before, 100.0 * (peak - before) / (mib * 1024.0), reset ? "" : " [peak not reset]");
  return ok ? 0 : 1;
}
