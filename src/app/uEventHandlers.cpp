#include "uEventHandlers.h"

#include "uFunction.h"
#include "uMessages.h"
#include "uPlatform.h"
#include "uStrings.h"

namespace {
const std::string AppTag = "APL";
}

void OrderItem(THybridApiThread*, const std::string& Item) { Platform::ConsoleWriteLine(Item); }

void OrderStateChange(TLogWriter& Log, THybridApiThread* Sender, THybSendThreadState State) {
  if (State == dtsFinished) {
    Platform::ConsoleWriteLine(Format(MsgOrderClosedConsole, Sender->FileOptionName(), Sender->KodObj()));
    Log.Info(Format(MsgOrderClosed, Sender->FileOptionName(), Sender->KodObj()), AppTag);
    if (Sender->ControlFile() == 1) CreateEmptyFile(Sender->LogsItem() + Sender->FileOptionName() + ".ok");
  } else if (State == dtsFailed) {
    Platform::ConsoleWriteLine(Format(MsgOrderFailedConsole, Sender->FileOptionName()));
    Log.Error(Format(MsgOrderFailed, Sender->FileOptionName(), Sender->ErrStr()), AppTag);
    if (Sender->ControlFile() == 1) CreateEmptyFile(Sender->LogsItem() + Sender->FileOptionName() + ".ko");
  }
}

void ShipmentItem(TKalvioApiThread*, const std::string& Item) { Platform::ConsoleWriteLine(Item); }

void ShipmentStateChange(TLogWriter& Log, TKalvioApiThread* Sender, TKalvioSendThreadState State) {
  if (State == TKalvioSendThreadState::dtsFinished) {
    Platform::ConsoleWriteLine(Format(MsgShipmentCreatedConsole, Sender->KodObj()));
    Log.Info(Format(MsgShipmentCreated, Sender->KodObj()), AppTag);
  } else if (State == TKalvioSendThreadState::dtsFailed) {
    Platform::ConsoleWriteLine(Format(MsgShipmentFailedConsole, Sender->FileOptionName()));
    if (Sender->ErrCode() == -35)
      Log.Error(Format(MsgShipmentDuplicate, Sender->FileOptionName(), Sender->ErrStr(), Sender->KodObj()), AppTag);
    else
      Log.Error(Format(MsgShipmentFailed, Sender->FileOptionName(), Sender->ErrStr()), AppTag);
  }
}

void InstallHandlers(THybridApiThread& Worker, TLogWriter& Log) {
  Worker.OnItem = OrderItem;
  Worker.OnTerminate = [](TThread*) {};
  Worker.OnStateChange = [&Log](THybridApiThread* Sender, THybSendThreadState State) {
    OrderStateChange(Log, Sender, State);
  };
}

void InstallHandlers(TKalvioApiThread& Worker, TLogWriter& Log) {
  Worker.OnItem = ShipmentItem;
  Worker.OnTerminate = [](TThread*) {};
  Worker.OnStateChange = [&Log](TKalvioApiThread* Sender, TKalvioSendThreadState State) {
    ShipmentStateChange(Log, Sender, State);
  };
}
