#include "uHybridThread.h"

#include "uCommonHttp.h"
#include "uLog.h"
#include "uOptions.h"

THybridApiThread::THybridApiThread(const std::string& FileName, const TSettings& Settings, bool CreateSuspended)
    : TThread(true), fOption(std::make_unique<TOptions>(FileName)) {
  fOption->SetSettings(Settings);
  fHttp = std::make_unique<TCommonHttp>();
  fDataItem = std::make_unique<TMemoryStream>();
  if (!CreateSuspended) Start();
}

THybridApiThread::~THybridApiThread() { WaitFor(); }

uint8_t THybridApiThread::ControlFile() const { return fOption->ControleFile() ? 1 : 0; }

void THybridApiThread::Execute() {}
void THybridApiThread::DoItem() {
  if (OnItem) OnItem(this, fItem);
}
void THybridApiThread::SetState(THybSendThreadState State) {
  fState = State;
  if (OnStateChange) Synchronize([this] { DoStateChange(); });
}
void THybridApiThread::DoStateChange() {
  if (OnStateChange) OnStateChange(this, fState);
}
bool THybridApiThread::SendStep(int, const std::string&, const std::string&) { return false; }
std::string THybridApiThread::ReadHash() { return ""; }
bool THybridApiThread::CheckAnswer() { return false; }
bool THybridApiThread::PackFiles(const std::string&) { return false; }
void THybridApiThread::HttpLog(const std::string&, bool) {}
void THybridApiThread::Progress(const std::string&) {}
