#include "uSandboxArchive.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

std::string Hex(const unsigned char* Data, size_t Size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < Size; ++i) {
    out += digits[Data[i] >> 4];
    out += digits[Data[i] & 15];
  }
  return out;
}

// The volumes seen as one seekable stream; only the volume being read is open.
struct TVolumeStream {
  std::vector<std::string> Paths;
  std::vector<int64_t> Starts;  // offset of each volume in the whole
  int64_t Total = 0;
  int64_t Pos = 0;
  int OpenIndex = -1;
  int Fd = -1;
  std::string Error;
  std::vector<char> Buffer = std::vector<char>(256 * 1024);

  ~TVolumeStream() { CloseCurrent(); }
  void CloseCurrent() {
    if (Fd >= 0) close(Fd);
    Fd = -1;
    OpenIndex = -1;
  }
  int IndexAt(int64_t P) const {
    auto it = std::upper_bound(Starts.begin(), Starts.end(), P);
    return static_cast<int>(it - Starts.begin()) - 1;
  }
};

la_ssize_t ReadCb(struct archive* A, void* Data, const void** Out) {
  auto* s = static_cast<TVolumeStream*>(Data);
  // The last volume starting at or before Pos holds it; empty volumes are passed over so.
  if (s->Pos < s->Total) {
    int idx = s->IndexAt(s->Pos);
    int64_t end = idx + 1 < static_cast<int>(s->Starts.size()) ? s->Starts[idx + 1] : s->Total;
    if (idx != s->OpenIndex) {
      s->CloseCurrent();
      s->Fd = open(s->Paths[idx].c_str(), O_RDONLY | O_CLOEXEC);
      if (s->Fd < 0) {
        archive_set_error(A, errno, "cannot open volume %s", s->Paths[idx].c_str());
        return -1;
      }
      s->OpenIndex = idx;
    }
    size_t want = static_cast<size_t>(std::min<int64_t>(end - s->Pos, static_cast<int64_t>(s->Buffer.size())));
    ssize_t got = pread(s->Fd, s->Buffer.data(), want, s->Pos - s->Starts[idx]);
    if (got < 0) {
      archive_set_error(A, errno, "cannot read volume %s", s->Paths[idx].c_str());
      return -1;
    }
    if (got == 0) {
      archive_set_error(A, EIO, "volume %s is shorter than it was", s->Paths[idx].c_str());
      return -1;
    }
    s->Pos += got;
    *Out = s->Buffer.data();
    return got;
  }
  *Out = nullptr;
  return 0;
}

la_int64_t SeekCb(struct archive*, void* Data, la_int64_t Offset, int Whence) {
  auto* s = static_cast<TVolumeStream*>(Data);
  int64_t base = Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? s->Pos : s->Total;
  int64_t p = base + Offset;
  if (p < 0) return ARCHIVE_FATAL;
  s->Pos = std::min(p, s->Total);
  return s->Pos;
}

la_int64_t SkipCb(struct archive*, void* Data, la_int64_t Request) {
  auto* s = static_cast<TVolumeStream*>(Data);
  int64_t step = std::min<int64_t>(Request, s->Total - s->Pos);
  if (step < 0) step = 0;
  s->Pos += step;
  return step;
}

// libarchive converts entry names through the thread's character type; under the "C"
// locale a name like "dopis č.1.txt" would not convert. UTF-8 for the scope of one call.
class TUtf8Scope {
 public:
  TUtf8Scope() : fLocale(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
    if (fLocale) fPrevious = uselocale(fLocale);
  }
  ~TUtf8Scope() {
    if (!fLocale) return;
    uselocale(fPrevious);
    freelocale(fLocale);
  }
  TUtf8Scope(const TUtf8Scope&) = delete;
  TUtf8Scope& operator=(const TUtf8Scope&) = delete;

 private:
  locale_t fLocale;
  locale_t fPrevious = static_cast<locale_t>(0);
};

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;

std::string ArchiveError(struct archive* A, const std::string& Fallback) {
  const char* e = archive_error_string(A);
  return e && *e ? e : Fallback;
}

void CollectFiles(const std::string& Root, const std::string& Rel, std::vector<std::string>& Out) {
  std::string dir = Rel.empty() ? Root : Root + "/" + Rel;
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto& n : names) {
    std::string rel = Rel.empty() ? n : Rel + "/" + n;
    struct stat st;
    if (stat((Root + "/" + rel).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      CollectFiles(Root, rel, Out);
    else if (S_ISREG(st.st_mode))
      Out.push_back(rel);
  }
}

la_ssize_t ZipWriteCb(struct archive*, void* Data, const void* Buffer, size_t Length) {
  static_cast<std::string*>(Data)->append(static_cast<const char*>(Buffer), Length);
  return static_cast<la_ssize_t>(Length);
}

}  // namespace

bool NaturalLess(const std::string& A, const std::string& B) {
  size_t i = 0, j = 0;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < A.size() && j < B.size()) {
    if (digit(A[i]) && digit(B[j])) {
      size_t ie = i, je = j;
      while (ie < A.size() && digit(A[ie])) ++ie;
      while (je < B.size() && digit(B[je])) ++je;
      // Compare the values without leading zeros: first by length, then digit by digit.
      size_t is = i, js = j;
      while (is + 1 < ie && A[is] == '0') ++is;
      while (js + 1 < je && B[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      int c = A.compare(is, ie - is, B, js, je - js);
      if (c != 0) return c < 0;
      if (ie - i != je - j) return ie - i < je - j;  // "01" before "001": keep a strict order
      i = ie;
      j = je;
    } else {
      if (A[i] != B[j]) return static_cast<unsigned char>(A[i]) < static_cast<unsigned char>(B[j]);
      ++i;
      ++j;
    }
  }
  return A.size() - i < B.size() - j;
}

bool ReadVolumeSet(const std::vector<std::string>& Volumes, std::vector<TArchiveEntry>& Entries, std::string& Err) {
  Entries.clear();
  if (Volumes.empty()) {
    Err = "no volumes";
    return false;
  }
  TUtf8Scope utf8;
  TVolumeStream s;
  for (const auto& p : Volumes) {
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
      Err = "cannot read volume " + p;
      return false;
    }
    s.Paths.push_back(p);
    s.Starts.push_back(s.Total);
    s.Total += st.st_size;
  }
  ArchivePtr a(archive_read_new(), archive_read_free);
  archive_read_support_format_7zip(a.get());
  archive_read_set_callback_data(a.get(), &s);
  archive_read_set_read_callback(a.get(), ReadCb);
  archive_read_set_seek_callback(a.get(), SeekCb);
  archive_read_set_skip_callback(a.get(), SkipCb);
  if (archive_read_open1(a.get()) != ARCHIVE_OK) {
    Err = ArchiveError(a.get(), "not a 7z archive");
    return false;
  }
  std::vector<char> buf(64 * 1024);
  while (true) {
    struct archive_entry* e = nullptr;
    int r = archive_read_next_header(a.get(), &e);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN) {
      Err = ArchiveError(a.get(), "damaged archive header");
      return false;
    }
    const char* name = archive_entry_pathname_utf8(e);
    if (!name) name = archive_entry_pathname(e);
    if (!name || !*name) {
      Err = "an entry name cannot be read";
      return false;
    }
    std::string entryName = name;
    if (archive_entry_is_encrypted(e)) {
      Err = "entry " + entryName + " is encrypted";
      return false;
    }
    if (archive_entry_filetype(e) == AE_IFDIR) continue;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr);
    int64_t size = 0;
    while (true) {
      la_ssize_t got = archive_read_data(a.get(), buf.data(), buf.size());
      if (got < 0) {
        Err = "entry " + entryName + ": " + ArchiveError(a.get(), "cannot unpack");
        return false;
      }
      if (got == 0) break;
      EVP_DigestUpdate(md.get(), buf.data(), static_cast<size_t>(got));
      size += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(md.get(), digest, &len);
    Entries.push_back({entryName, size, Hex(digest, len)});
  }
  return true;
}

bool BuildZipFromFolder(const std::string& Dir, std::string& Zip, std::string& Err) {
  Zip.clear();
  struct stat st;
  if (stat(Dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Err = "package folder " + Dir + " does not exist";
    return false;
  }
  TUtf8Scope utf8;
  std::vector<std::string> files;
  CollectFiles(Dir, "", files);
  std::stable_partition(files.begin(), files.end(), [](const std::string& f) { return f == "update.list"; });
  ArchivePtr a(archive_write_new(), archive_write_free);
  archive_write_set_format_zip(a.get());
  if (archive_write_open(a.get(), &Zip, nullptr, ZipWriteCb, nullptr) != ARCHIVE_OK) {
    Err = ArchiveError(a.get(), "cannot start the zip");
    return false;
  }
  for (const auto& rel : files) {
    std::string path = Dir + "/" + rel;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) close(fd);
      Err = "cannot read " + path;
      return false;
    }
    std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)> e(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname_utf8(e.get(), rel.c_str());
    archive_entry_set_filetype(e.get(), AE_IFREG);
    archive_entry_set_perm(e.get(), (st.st_mode & 0111) ? 0755 : 0644);
    archive_entry_set_size(e.get(), st.st_size);
    archive_entry_set_mtime(e.get(), st.st_mtime, 0);
    bool ok = archive_write_header(a.get(), e.get()) == ARCHIVE_OK;
    char buf[64 * 1024];
    ssize_t got;
    while (ok && (got = read(fd, buf, sizeof buf)) > 0) ok = archive_write_data(a.get(), buf, static_cast<size_t>(got)) == got;
    close(fd);
    if (!ok) {
      Err = rel + ": " + ArchiveError(a.get(), "cannot add to the zip");
      return false;
    }
  }
  if (archive_write_close(a.get()) != ARCHIVE_OK) {
    Err = ArchiveError(a.get(), "cannot finish the zip");
    return false;
  }
  return true;
}

std::string Sha256Hex(const std::string& Bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(Bytes.data(), Bytes.size(), digest, &len, EVP_sha256(), nullptr);
  return Hex(digest, len);
}

std::string RandomSha1Hex() {
  unsigned char random[32];
  if (RAND_bytes(random, sizeof random) != 1) {
    // No entropy source: still unique per process and moment, never a fixed value.
    std::string seed = std::to_string(getpid()) + ":" + std::to_string(time(nullptr)) + ":" +
                       std::to_string(reinterpret_cast<uintptr_t>(&random));
    std::memcpy(random, Sha256Hex(seed).data(), sizeof random);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(random, sizeof random, digest, &len, EVP_sha1(), nullptr);
  return Hex(digest, len);
}
