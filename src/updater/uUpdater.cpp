#include "uUpdater.h"

namespace {

const std::string BackupSuffix = ".backup";
const std::string ListName = "update.list";

}  // namespace

std::string SplitField(const std::string& Text, int Index, const std::string& Separator) {
  if (Index < 0) return std::string();
  if (Separator.empty()) return Index == 0 ? Text : std::string();
  std::string rest = Text + Separator;
  for (int i = 0; !rest.empty(); ++i) {
    size_t p = rest.find(Separator);
    if (i == Index) return rest.substr(0, p);
    rest.erase(0, p + Separator.size());
  }
  return std::string();
}

std::string NamePart(const std::string& Path) {
  size_t p = Path.rfind('/');
  return p == std::string::npos ? Path : Path.substr(p + 1);
}

std::string FolderPart(const std::string& Path) {
  size_t p = Path.rfind('/');
  return p == std::string::npos ? std::string() : Path.substr(0, p + 1);
}

std::vector<std::string> SplitTextLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::string cur;
  size_t i = 0;
  while (i < Text.size()) {
    char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
    ++i;
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

int TUpdater::Run(const std::vector<std::string>& Args) {
  try {
    RunUpdate(Args);
  } catch (const TFatal&) {
    return 1;
  }
  return 0;
}

void TUpdater::Say(const std::string& Text, bool Fatal) {
  fSystem.WriteLine(Text);
  if (Fatal) {
    fSystem.Sleep(FatalPauseMs);
    throw TFatal{};
  }
}

std::string TUpdater::BackupPath(const std::string& Target) const {
  return FolderPart(fClientDir) + NamePart(Target) + BackupSuffix;
}

void TUpdater::RunUpdate(const std::vector<std::string>& Args) {
  const std::string arg = Args.empty() ? std::string() : Args[0];
  const std::string listPath = SplitField(arg, 0, ";");
  fClientDir = SplitField(arg, 1, ";");
  if (!fSystem.PathExists(listPath)) Say("Chyba: neexistuje aktualizační seznam." + listPath, true);
  ReadUpdateList(listPath);

  bool first = true;
  for (const auto& line : UpdateLines) {
    OldFile = SplitField(line, 0, ";");
    NewFile = SplitField(line, 1, ";");
    if (OldFile.empty() || NewFile.empty())
      Say("Syntax: " + NamePart(OldFile) + " StarySoubor NovySoubor\r\nProsím, nespouštět tento soubor na přímo.",
          true);
    if (!fSystem.PathExists(NewFile))
      Say("Chyba: Buď cílový \"" + OldFile + "\" nebo stažený soubor \"" + NewFile + "\" neexistuje.", true);
    if (first) {
      Say("Zavíraní aplikace Zentrik");
      CloseClient();
      first = false;
    }
    Say("Vytváří se záloha starého souboru");
    BackupFile = BackupPath(OldFile);
    if (fSystem.PathExists(BackupFile)) fSystem.DeleteFile(BackupFile);
    bool backedUp = false;
    if (fSystem.PathExists(OldFile)) {
      if (!fSystem.MoveNoReplace(OldFile, BackupFile))
        Say("Nepodařilo se vytvořit zálohu souboru \"" + BackupFile + "\" z \"" + OldFile + "\"", true);
      backedUp = true;
      Say("Hotovo.");
    }
    Say("Přesunutí stáhnutého souboru do požadovaného adresáře");
    if (!fSystem.MoveNoReplace(NewFile, OldFile)) {
      // Never leave the client missing under its own name.
      if (backedUp) fSystem.MoveNoReplace(BackupFile, OldFile);
      Say("Chyba při přesunutí \"" + NewFile + "\" do \"" + OldFile + "\"", true);
    }
    if (backedUp) fSystem.CarryExecuteBits(BackupFile, OldFile);
  }

  // Reached only when every entry was moved, and the list holds at least one.
  for (const auto& line : UpdateLines) {
    fSystem.DeleteFile(BackupPath(SplitField(line, 0, ";")));
    fSystem.DeleteFile(SplitField(line, 1, ";"));
  }
  fSystem.DeleteFile(FolderPart(listPath) + ListName);
  fSystem.RemoveDir(FolderPart(listPath));
  Say("Hotovo");
}

void TUpdater::ReadUpdateList(const std::string& Path) {
  std::string bytes;
  // A list that cannot be read is as good as missing.
  if (!fSystem.ReadFile(Path, bytes)) Say("Chyba: neexistuje aktualizační seznam." + Path, true);
  UpdateLines = SplitTextLines(bytes);
  if (UpdateLines.empty() || UpdateLines.back().empty()) Say("Chyba: aktualizační soubor je prázdný.", true);
}

void TUpdater::CloseClient() {
  const int self = UpdaterOs::OwnPid();
  for (const auto& p : fSystem.ListProcesses()) {
    if (p.Pid == self || p.ExePath.empty()) continue;
    if (p.ExePath == OldFile || p.ExePath == NamePart(OldFile)) CloseClientProcess(p.Pid);
  }
}

void TUpdater::CloseClientProcess(int Pid) {
  std::string title = fSystem.ProcessTitle(Pid);
  if (title.size() > 255) title.resize(255);
  Say("Ukončení \"" + title + "\"");
  int elapsed = 0;
  do {
    if (elapsed % ResendMs == 0) fSystem.RequestEnd(Pid);
    fSystem.Sleep(PollMs);
    elapsed += PollMs;
    Say("Ukončení \"" + title + "\", čekání: " + std::to_string((CloseTimeoutMs - elapsed) / 1000) + " sekund.");
  } while (fSystem.ProcessRunning(Pid) && elapsed < CloseTimeoutMs);
  if (fSystem.ProcessRunning(Pid)) Say("Chyba: Nejde ukončit aplikace " + title, true);
}
