// Archive work of the sandbox: reading a set of received volumes as one 7z archive, and
// building the zip package of an upgrade.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TArchiveEntry {
  std::string Name;
  int64_t Size = 0;     // unpacked
  std::string Sha256;   // of the unpacked contents, lower-case hex
};

// Name order for volumes: runs of digits compare by value, so "x.7z.999" comes before
// "x.7z.1000"; otherwise byte order.
bool NaturalLess(const std::string& A, const std::string& B);

// Reads the concatenation of Volumes, in the order given, as one 7z archive and lists its
// file entries with their sizes and checksums. False with Err when it does not read.
bool ReadVolumeSet(const std::vector<std::string>& Volumes, std::vector<TArchiveEntry>& Entries, std::string& Err);

// A zip archive of every file below Dir, with paths relative to Dir ("update.list" first).
bool BuildZipFromFolder(const std::string& Dir, std::string& Zip, std::string& Err);

std::string Sha256Hex(const std::string& Bytes);
// 40 lower-case hex characters: SHA-1 of fresh random bytes.
std::string RandomSha1Hex();
