#include "foundation/program_folders.h"

#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "resources/covers/cover_templates.h"

#include <unistd.h>

#include <cerrno>

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
    if (!platform::DirectoryExistsCI(GetProgramFolder() + "Covers")) {
        try {
            platform::EnsureFolderCI(GetProgramFolder() + "Covers");
        } catch (...) {
            return;
        }
        InstallCoverTemplates();
    }
}

namespace {

// 0 or an errno value.
int WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

int InstallCoverTemplates()
{
    int installed = 0;
    for (const resources::ShippedFile* f = resources::ShippedCoverTemplates(); f->Name; ++f) {
        const std::string target = GetCoversFolder() + f->Name;
        if (platform::FileExistsCI(target))
            continue;
        // Each file appears whole or not at all; one the user already has is never replaced.
        platform::FileReplacement file(target);
        if (file.Open() == 0 && WriteAll(file.Descriptor(), f->Data, f->Size) == 0 && file.CommitNew() == 0)
            ++installed;
    }
    return installed;
}

} // namespace zn::foundation
