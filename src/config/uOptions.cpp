#include "uOptions.h"

TOptions::TOptions(const std::string& FileName) : fFileName(FileName) {}
void TOptions::Init() {}
std::string TOptions::User() const { return ""; }
std::string TOptions::Passwd() const { return ""; }
std::string TOptions::StandZak() const { return ""; }
std::string TOptions::JobZak() const { return ""; }
std::string TOptions::Note() const { return ""; }
void TOptions::GetFilesAddr(std::vector<std::string>&, int&, const std::string&, const std::string&) {}
bool TOptions::LoadConf() { return false; }
bool TOptions::ParseConf() { return false; }
std::string TOptions::GetConfValue(const std::string&) const { return ""; }
