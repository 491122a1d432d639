// The printer queue: deleting an earlier installation's queues, creating the
// model's queue or moving an existing one to another port, and its properties
// window.
#pragma once

#include "install/clock.h"
#include "install/model.h"
#include "install/shell.h"
#include "spooler/spooler.h"

#include <string>
#include <string_view>
#include <vector>

namespace tde {

// The pause after each queue deletion, so the spooler settles before the next.
inline constexpr uint32_t kQueueDeletionPauseMs = 200;

// Deletes each named queue and pauses after each, also when it could not be
// opened. A local queue is opened with all access, deleted and closed; a
// connection (a name starting "\\") is only disconnected, so the server's
// shared queue stays. Failures are silent.
void DeletePrinterQueues(Spooler& spooler, Clock& clock,
                         const std::vector<std::u16string>& queueNames);

// The level-2 record of the model's new queue: its queueName, portName and
// driverName, print processor "WinPrint", datatype "RAW", attribute local, the
// rest empty. The record points into `model`, which must outlive it.
PrinterInfo2 MakeQueueRecord(const PrinterModel& model);

struct QueueCreation {
    bool created = false;
    uint32_t error = 0;  // the last error after a failed creation; 1287 when it set none
};

// Creates the model's queue; with success makes it the default printer when the
// model's makeDefault is 1, closes it and opens its properties window.
QueueCreation CreatePrinterQueue(Spooler& spooler, Shell& shell, const PrinterModel& model);

// Moves an existing queue to another port and nothing else: the level-2 record
// as read, its port changed, no security descriptor (the queue's stays as it is)
// and its DEVMODE as read; then the port read back. 0 when the queue is read
// back on the port, else the error of the call that failed (1287 when it set
// none, or when the spooler took the record and the queue is elsewhere).
uint32_t SetPrinterPort(Spooler& spooler, std::u16string_view queueName,
                        std::u16string_view portName);

// The parameters handed to rundll32.exe: " printui.dll, PrintUIEntry /p /n"<queue>" ".
std::u16string PrinterPropertiesParameters(std::u16string_view queueName);

// Starts rundll32.exe from the system folder (never by bare name) to open the
// queue's printer properties window; does not wait. Nothing starts when the
// system folder is unknown.
void ShowPrinterProperties(Shell& shell, std::u16string_view queueName);

}  // namespace tde
