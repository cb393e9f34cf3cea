#include "ptf/channel.h"

#include "platform/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zn::ptf {

ChannelMessage MakeChannelMessage(uint8_t code, const std::string& text)
{
    ChannelMessage message{};
    const size_t length = std::min<size_t>(text.size(), 255);
    message[0] = code;
    message[1] = static_cast<uint8_t>(length);
    std::memcpy(message.data() + 2, text.data(), length);
    return message;
}

std::string ChannelMessageText(const uint8_t* data, size_t received)
{
    if (received < 2)
        return {};
    const size_t length = std::min<size_t>(data[1], received - 2);
    return std::string(reinterpret_cast<const char*>(data) + 2, length);
}

std::string ChannelFolder(unsigned uid, bool forServer)
{
    if (forServer && uid == ::getuid()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat info {};
        if (runtime && *runtime && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
            return runtime;
    }
    if (!forServer) {
        const char* given = std::getenv("ZN_FAX_CHANNEL_DIR");
        if (given && *given) {
            const std::string folder = std::string(given) + "/" + std::to_string(uid);
            return platform::IsPrivateFolderOf(folder, uid) ? folder : std::string();
        }
        const std::string runUser = "/run/user/" + std::to_string(uid);
        if (platform::IsPrivateFolderOf(runUser, uid))
            return runUser;
    }
    // The same private fallback as the single-instance lock; another user's folder is never used.
    return platform::FallbackRuntimeFolder(uid, forServer);
}

std::string ChannelPath(unsigned uid, bool forServer)
{
    const std::string folder = ChannelFolder(uid, forServer);
    return folder.empty() ? folder : folder + "/" + kChannelName;
}

std::string UnfinishedMarkPath(const std::string& imagePath)
{
    const auto slash = imagePath.find_last_of("/\\");
    const auto dot = imagePath.find_last_of('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (extension ? imagePath.substr(0, dot) : imagePath) + ".PTF";
}

std::string JobLockPath(const std::string& channelPath) { return channelPath + ".job"; }

} // namespace zn::ptf
