// What the sandbox keeps in its data folder, and the inventory printed from it:
//   orders/<hash>.txt     one transfer (opened by step 1, closed by step 3)
//   orders/<hash>/        the volumes received for it, under their own file names
//   shipments/<kod>.xml   a shipment as received, shipments/<kod>.txt its record
//   versions.txt, refused.txt, faults.txt   one line per version request, refusal, fault
//   counters.txt          the last numbers given out
//   uploads/              request bodies still being received
// Secrets are never written: of the credentials only the user name is kept.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "uSandboxArchive.h"

struct TTransfer {
  std::string Hash;
  std::string StandIn;  // "production" or "test"
  std::string User;
  std::string StandZak;
  std::string JobZak;
  std::string Note;
  std::string AppInfo;
  long Seq = 0;
  bool Closed = false;
  std::string Order;  // "kodobjednavky", once closed
  std::vector<TArchiveEntry> Entries;
};

struct TShipment {
  std::string Order;          // "kod_objednavky"
  std::string PostingNumber;  // "podaci_cislo"
  std::string StandIn;
  std::string User;
  std::string FileName;
  std::string Duplicita;
  std::string Sha256;
  std::string AppInfo;
  int64_t Size = 0;
  long Seq = 0;
};

struct TVolumeInfo {
  std::string Name;
  int64_t Size = 0;
};

// A value in an inventory line: "%", blanks and control characters as %XX.
std::string InventoryValue(const std::string& Text);
// The last field of a line, which runs to its end: only control characters as %XX.
std::string InventoryTail(const std::string& Text);

// Hashes the sandbox gives out are lower-case hex; nothing else is ever used as a path.
bool IsHashText(const std::string& Text);
// A received file name usable in the volume folder: the part after the last "/" or "\";
// empty when nothing usable is left ("", ".", "..", control characters, over 255 bytes).
std::string SafeFileName(const std::string& Name);

// Reads a whole file; false when it cannot be opened.
bool ReadWhole(const std::string& Path, std::string& Out);

class TSandboxStore {
 public:
  explicit TSandboxStore(std::string DataDir);

  // Creates the folders and clears what an earlier run left half-received.
  bool Prepare(std::string& Err);
  const std::string& DataDir() const { return fDir; }
  std::string UploadDir() const { return fDir + "/uploads"; }

  // Guards read-modify-write sequences over the records (numbers, duplicates, transfers).
  std::mutex& Lock() { return fLock; }

  // The next value of a persistent counter ("order", "shipment", "transfer"); call under Lock().
  long NextNumber(const std::string& Counter);

  bool SaveTransfer(const TTransfer& T, std::string& Err);
  bool LoadTransfer(const std::string& Hash, TTransfer& T) const;
  std::vector<TTransfer> Transfers() const;  // by Seq
  // Moves a received file into the transfer's volume folder (an earlier one of that name is replaced).
  bool StoreVolume(const std::string& Hash, const std::string& Name, const std::string& From, std::string& Err);
  std::vector<TVolumeInfo> Volumes(const std::string& Hash) const;  // in NaturalLess order
  std::string VolumePath(const std::string& Hash, const std::string& Name) const;

  bool SaveShipment(const TShipment& S, const std::string& Content, std::string& Err);
  std::vector<TShipment> Shipments() const;  // by Seq

  // Appends one line to versions.txt, refused.txt or faults.txt.
  void Record(const std::string& File, const std::string& Line);

  // The inventory: stable text lines, one record each (see README).
  std::string Inventory() const;

 private:
  std::string fDir;
  std::mutex fLock;
  std::mutex fRecordLock;
};
