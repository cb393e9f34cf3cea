#include "foundation/program_folders.h"

#include "platform/folders.h"

namespace zn::foundation {

namespace {

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The one spelling of each folder this program creates.
constexpr const char* kSendFolder = "SEND";
constexpr const char* kReceiveFolder = "Receive";

// An existing folder of that name in any letter case, else the name as given.
std::string SubFolder(const std::string& name) { return WithSlash(platform::ResolvePath(GetProgramFolder() + name)); }

} // namespace

std::string GetProgramFolder() { return WithSlash(platform::ProgramFolder()); }

std::string GetIniFileName() { return platform::ResolvePath(GetProgramFolder() + "ZN.INI"); }

std::string GetSendFolder() { return SubFolder(kSendFolder); }

std::string GetReceiveFolder() { return SubFolder(kReceiveFolder); }

std::string GetCoversFolder() { return SubFolder("Covers"); }

void CreateDataFolders()
{
    for (const char* name : {kSendFolder, kReceiveFolder}) {
        try {
            platform::EnsureFolderCI(GetProgramFolder() + name);
        } catch (...) {
        }
    }
}

} // namespace zn::foundation
