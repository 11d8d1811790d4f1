// Handlers of the command table kept apart from it: frequency modes, sweeps, lists and
// triggers; the status registers; saved states.
#pragma once

#include "cli/scpi_commands.h"

namespace tovrik::cli::scpi {

// FREQuency and OUTPut, which the Siglent dialect's commands run too.
void SetFrequency(Context& c);
void SetOutput(Context& c);

// Starts the sweep of the channel's frequency mode now, or arms it for *TRG under a bus
// trigger; a conflict among the settings leaves the instrument as it was.
void StartSweep(Context& c);
void Initiate(Context& c);
void SetContinuous(Context& c);

void SetMode(Context& c);
void QueryMode(Context& c);
void SetCenter(Context& c);
void QueryCenter(Context& c);
void SetSpan(Context& c);
void QuerySpan(Context& c);
void SetGeneration(Context& c);
void QueryGeneration(Context& c);
void SetSweepMode(Context& c);
void QuerySweepMode(Context& c);
void SetManualPoint(Context& c);
void SetDirection(Context& c);
void QueryDirection(Context& c);
void SetListFrequencies(Context& c);
void QueryListFrequencies(Context& c);
void SetListDwells(Context& c);
void QueryListDwells(Context& c);
void QueryListPoints(Context& c);
void SetListDirection(Context& c);
void QueryListDirection(Context& c);
void SetTriggerSource(Context& c);
void QueryTriggerSource(Context& c);
void SetSlope(Context& c);
void QuerySlope(Context& c);
void Trigger(Context& c);
void Wait(Context& c);
void QueryOperationComplete(Context& c);

void SetServiceEnable(Context& c);
void QueryServiceEnable(Context& c);
void QueryStatusByte(Context& c);
void QueryOperation(Context& c);
void QueryErrorCount(Context& c);
void QueryAllErrors(Context& c);
void Save(Context& c);
void Recall(Context& c);

}  // namespace tovrik::cli::scpi
