// The process-wide current printer: an index into the system's printer list, -1 for the default.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace zn::foundation {

std::vector<std::string> PrinterNames();
// Tests replace the system's list (nullopt: the system's list again).
void SetPrinterNamesForTest(std::optional<std::vector<std::string>> names);

int PrinterIndex();
// An index outside the list (other than -1) leaves the current printer unchanged.
void SetPrinterIndex(int index);
// The current printer's name; empty for the default printer.
std::string CurrentPrinterName();
// Selects the current printer again (drops a stale index when the list has changed); never fails.
void RefreshPrinterSettings();

// Before printing: makes sure a usable printer is selected. A printer other than the first is taken
// as chosen; else [Receive] PrintOnReceiptPrinter when it is in the list past the first place; else,
// with askUser, the user picks one in the "Select Printer" dialog. False when no printer is usable.
bool SelectUsablePrinter(bool askUser);

} // namespace zn::foundation
