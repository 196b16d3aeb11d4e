#include "uPackFiles.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <memory>

#include "uPlatform.h"
#include "uProgressLine.h"
#include "uStrings.h"

namespace {

// Documents are read in pieces of this size; the writer's output blocks are of the same order.
constexpr size_t ReadChunk = 1 << 20;
constexpr int OutputBlock = 64 * 1024;

}  // namespace

// The writer's output callbacks.
struct TVolumeSink {
  static la_ssize_t Write(struct archive*, void* Self, const void* Buffer, size_t Length) {
    return static_cast<TVolumeArchive*>(Self)->Write(static_cast<const char*>(Buffer), Length);
  }
  static int Close(struct archive*, void* Self) {
    return static_cast<TVolumeArchive*>(Self)->CloseVolume() ? ARCHIVE_OK : ARCHIVE_FATAL;
  }
};

TVolumeArchive::TVolumeArchive(const std::string& VolumeBase, int64_t VolumeSize)
    : fVolumeBase(VolumeBase), fVolumeSize(VolumeSize > 0 ? VolumeSize : 1) {}

TVolumeArchive::~TVolumeArchive() {
  // Releasing the writer finishes an unclosed archive; after a failure that output is waste.
  fAbandoned = true;
  if (fArchive) archive_write_free(fArchive);
  if (fVolume) std::fclose(fVolume);
}

std::string TVolumeArchive::VolumeName(const std::string& VolumeBase, int Number) {
  return VolumeBase + ".7z." + Format("%.3d", Number);
}

bool TVolumeArchive::Fail(const std::string& Text) {
  if (fError.empty()) fError = Text;
  return false;
}

bool TVolumeArchive::FailArchive() {
  const char* text = fArchive ? archive_error_string(fArchive) : nullptr;
  return Fail(text && *text ? text : "Archive writer failed");
}

bool TVolumeArchive::Open() {
  fArchive = archive_write_new();
  if (!fArchive) return Fail("Cannot create the archive writer");
  if (archive_write_set_format_7zip(fArchive) != ARCHIVE_OK) return FailArchive();
  if (archive_write_set_options(fArchive, "7zip:compression-level=4") != ARCHIVE_OK) return FailArchive();
  // No padding of the last block: the archive ends where the 7z stream ends.
  if (archive_write_set_bytes_per_block(fArchive, OutputBlock) != ARCHIVE_OK) return FailArchive();
  if (archive_write_set_bytes_in_last_block(fArchive, 1) != ARCHIVE_OK) return FailArchive();
  if (archive_write_open2(fArchive, this, nullptr, &TVolumeSink::Write, &TVolumeSink::Close, nullptr) != ARCHIVE_OK)
    return FailArchive();
  return true;
}

long TVolumeArchive::Write(const char* Data, size_t Length) {
  if (fAbandoned) return -1;
  size_t done = 0;
  while (done < Length) {
    if (fVolume && fVolumeFill >= fVolumeSize && !CloseVolume()) break;
    if (!fVolume) {
      const std::string name = VolumeName(fVolumeBase, static_cast<int>(fVolumes.size()) + 1);
      fVolume = std::fopen(name.c_str(), "wb");
      if (!fVolume) {
        Fail(Format("Cannot create the volume %s: %s", name, Platform::ErrorText(errno)));
        break;
      }
      fVolumes.push_back(name);
      fVolumeFill = 0;
    }
    const size_t room = static_cast<size_t>(fVolumeSize - fVolumeFill);
    const size_t piece = std::min(room, Length - done);
    if (std::fwrite(Data + done, 1, piece, fVolume) != piece) {
      Fail(Format("Cannot write the volume %s: %s", fVolumes.back(), Platform::ErrorText(errno)));
      break;
    }
    fVolumeFill += static_cast<int64_t>(piece);
    fBytesWritten += static_cast<int64_t>(piece);
    done += piece;
  }
  if (done < Length) {
    archive_set_error(fArchive, EIO, "%s", fError.c_str());
    return -1;
  }
  if (OnProgress) OnProgress();
  return static_cast<long>(Length);
}

bool TVolumeArchive::CloseVolume() {
  if (!fVolume) return true;
  std::FILE* f = fVolume;
  fVolume = nullptr;
  if (std::fclose(f) != 0)
    return Fail(Format("Cannot write the volume %s: %s", fVolumes.back(), Platform::ErrorText(errno)));
  return true;
}

bool TVolumeArchive::AddFile(const std::string& Path, const std::string& EntryName) {
  if (!fArchive) return Fail("The archive writer is not open");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(Path.c_str(), "rb"), &std::fclose);
  if (!in) return Fail(Format("Cannot open file %s: %s", Path, Platform::ErrorText(errno)));
  const int64_t size = Platform::FileSize(Path);
  if (size < 0) return Fail(Format("Cannot open file %s: %s", Path, Platform::ErrorText(ENOENT)));

  std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), &archive_entry_free);
  // A name that is not valid UTF-8 (a file made elsewhere) keeps its other characters.
  archive_entry_set_pathname_utf8(entry.get(), CodePointsToUtf8(Utf8ToCodePoints(EntryName)).c_str());
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), 0644);
  archive_entry_set_size(entry.get(), size);
  {
    // The writer converts the name through the thread's locale; under "C" it would drop it.
    Platform::TUtf8CharacterScope utf8;
    if (archive_write_header(fArchive, entry.get()) != ARCHIVE_OK) return FailArchive();
  }

  std::vector<char> buffer(ReadChunk);
  int64_t total = 0;
  while (true) {
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (got > 0) {
      // The entry's size is fixed in its header: a document that grows meanwhile would be cut.
      if (total + static_cast<int64_t>(got) > size) return Fail(Format("File %s changed while it was packed", Path));
      if (archive_write_data(fArchive, buffer.data(), got) < 0) return FailArchive();
      total += static_cast<int64_t>(got);
      fBytesRead += static_cast<int64_t>(got);
      if (OnProgress) OnProgress();
    }
    if (got < buffer.size()) {
      if (std::ferror(in.get())) return Fail(Format("Cannot read file %s: %s", Path, Platform::ErrorText(errno)));
      break;
    }
  }
  if (total != size) return Fail(Format("File %s changed while it was packed", Path));
  if (archive_write_finish_entry(fArchive) != ARCHIVE_OK) return FailArchive();
  return true;
}

bool TVolumeArchive::Close() {
  if (!fArchive) return Fail("The archive writer is not open");
  if (fClosed) return fError.empty();
  fClosed = true;
  const int r = archive_write_close(fArchive);
  const bool volumeOk = CloseVolume();
  if (r != ARCHIVE_OK) return FailArchive();
  if (!volumeOk || !fError.empty()) return false;
  return true;
}

bool PackDocuments(const std::vector<std::string>& Documents, const std::string& VolumeBase, int64_t VolumeSize,
                   std::vector<std::string>& Volumes, std::string& Error,
                   const std::function<void(const std::string& Document)>& OnAdding) {
  int64_t total = 0;
  for (const auto& d : Documents) total += std::max<int64_t>(0, Platform::FileSize(d));
  TVolumeArchive archive(VolumeBase, VolumeSize);
  TProgressLine progress("Komprese", total);
  bool writing = false;  // the writer copies its compressed stream out at the end
  archive.OnProgress = [&] {
    if (!writing && archive.BytesRead() >= total && archive.BytesWritten() > 0) {
      writing = true;
      progress.SetLabel("Z\xC3\xA1pis svazk\xC5\xAF", 0);
    }
    progress.Update(writing ? archive.BytesWritten() : archive.BytesRead());
  };
  bool ok = archive.Open();
  for (size_t i = 0; ok && i < Documents.size(); ++i) {
    if (OnAdding) OnAdding(Documents[i]);
    ok = archive.AddFile(Documents[i], Platform::ExtractFileName(Documents[i]));
  }
  if (ok) ok = archive.Close();
  progress.Finish();
  Volumes = archive.Volumes();
  if (!ok) Error = archive.ErrorText();
  return ok;
}
