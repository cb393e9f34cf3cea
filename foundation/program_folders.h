// The program's folders and the settings file's path. Every folder name ends in "/"; each folder is
// created in one spelling and found again whatever the spelling on disk.
#pragma once
#include <string>

namespace zn::foundation {

std::string GetProgramFolder(); // ends in "/"
std::string GetIniFileName();   // program folder + "ZN.INI"
std::string GetSendFolder();    // program folder + "SEND/": outgoing faxes, covers, .FCD and .JFD files
std::string GetReceiveFolder(); // program folder + "Receive/": received faxes
std::string GetCoversFolder();  // program folder + "Covers/": cover templates
// Creates SEND and Receive in the program folder, with missing parents; failures are ignored (the
// next file operation in a missing folder reports its own error). A program folder without a
// Covers folder (a new one) gets it, with the shipped cover templates in it.
void CreateDataFolders();
// Writes the shipped cover templates' files into the Covers folder, skipping any file that is
// there already in any letter case; the number of files written.
int InstallCoverTemplates();

} // namespace zn::foundation
