// A 7z archive written in one pass and cut into numbered volumes of a fixed size. The
// volumes carry no headers of their own: their concatenation in number order is the archive.
// Documents are read in chunks and volumes written as the stream arrives, so memory stays
// bounded whatever the size of the order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class TVolumeArchive {
 public:
  // Volumes are named VolumeBase + ".7z." + number with at least three digits, from 001.
  TVolumeArchive(const std::string& VolumeBase, int64_t VolumeSize);
  ~TVolumeArchive();
  TVolumeArchive(const TVolumeArchive&) = delete;
  TVolumeArchive& operator=(const TVolumeArchive&) = delete;

  // Creates the writer: 7z format, compression level 4.
  bool Open();
  // Adds the file at Path under EntryName, its content streamed from disk.
  bool AddFile(const std::string& Path, const std::string& EntryName);
  // Finishes the archive; every volume is complete afterwards.
  bool Close();

  // Paths of the volumes this archive wrote, in number order (also after a failure, so
  // that the caller can remove what was left behind).
  const std::vector<std::string>& Volumes() const { return fVolumes; }
  const std::string& ErrorText() const { return fError; }
  // Bytes of documents read so far, and bytes of volumes written so far.
  int64_t BytesRead() const { return fBytesRead; }
  int64_t BytesWritten() const { return fBytesWritten; }

  // Called now and then while documents are read and volumes written.
  std::function<void()> OnProgress;

  static std::string VolumeName(const std::string& VolumeBase, int Number);

 private:
  friend struct TVolumeSink;
  long Write(const char* Data, size_t Length);
  bool CloseVolume();
  bool Fail(const std::string& Text);
  bool FailArchive();

  std::string fVolumeBase;
  int64_t fVolumeSize;
  struct archive* fArchive = nullptr;
  std::FILE* fVolume = nullptr;  // the volume being written
  int64_t fVolumeFill = 0;       // bytes in the current volume
  std::vector<std::string> fVolumes;
  std::string fError;
  int64_t fBytesRead = 0;
  int64_t fBytesWritten = 0;
  bool fClosed = false;
  bool fAbandoned = false;  // released unfinished: nothing more is written
};

// Packs Documents into one archive in volumes VolumeBase + ".7z.NNN": one entry per document,
// under its file name without directory, in list order. Volumes gets the paths of every
// volume written, also after a failure. OnAdding is called before each document is added.
// Shows the progress on standard error when that is a terminal.
bool PackDocuments(const std::vector<std::string>& Documents, const std::string& VolumeBase, int64_t VolumeSize,
                   std::vector<std::string>& Volumes, std::string& Error,
                   const std::function<void(const std::string& Document)>& OnAdding = {});
