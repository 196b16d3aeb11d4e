// Reactions to the workers' events: the progress text as a console line; the final states as
// console lines, application log records and, for orders, the ".ok"/".ko" control files.
// The state handlers run in the main thread (the worker waits); they keep no state.
#pragma once

#include <string>

#include "uHybridThread.h"
#include "uKalvioThread.h"
#include "uLog.h"

void OrderItem(THybridApiThread* Sender, const std::string& Item);
void OrderStateChange(TLogWriter& Log, THybridApiThread* Sender, THybSendThreadState State);

void ShipmentItem(TKalvioApiThread* Sender, const std::string& Item);
void ShipmentStateChange(TLogWriter& Log, TKalvioApiThread* Sender, TKalvioSendThreadState State);

// Installs the three handlers on a worker before it is started.
void InstallHandlers(THybridApiThread& Worker, TLogWriter& Log);
void InstallHandlers(TKalvioApiThread& Worker, TLogWriter& Log);
