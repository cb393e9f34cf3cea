// The fax printer driver's conversion channel: where it lives and what its messages hold. Shared by
// znptf (the server) and the printer backend (the client); plain C++.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zn::ptf {

constexpr size_t kChannelMessageSize = 257;
constexpr uint8_t kCodeDocStart = 1;
constexpr uint8_t kCodeDocEnd = 2;
constexpr uint8_t kCodeFileName = 3;
constexpr const char* kChannelName = "FxFaxCnv";
constexpr const char* kSemaphoreName = "/FxFaxCnvSem";

using ChannelMessage = std::array<uint8_t, kChannelMessageSize>;
// Code and text (cut to 255 characters) as one 257-byte message; the unused tail is zero.
ChannelMessage MakeChannelMessage(uint8_t code, const std::string& text);
// The text of a message (its length byte bounded by 255 and by the bytes received).
std::string ChannelMessageText(const uint8_t* data, size_t received);

// The folder of the channel of the user uid. The server (znptf) uses $XDG_RUNTIME_DIR, else the
// user's private fallback folder in their home (platform/runtime_folder.h). A client (the printer
// backend) looks in $ZN_FAX_CHANNEL_DIR/<uid> when that variable is set (a scheduler's own folder
// of runtime folders), else in /run/user/<uid> and then the fallback, taking a folder only when it
// belongs to that user and nobody else may enter it. Empty when there is none.
std::string ChannelFolder(unsigned uid, bool forServer);
std::string ChannelPath(unsigned uid, bool forServer);
// The mark znptf keeps beside a job's image until the job's dialog is done: the image path with
// the extension ".PTF". The driver removes it with the image of a job that fails.
std::string UnfinishedMarkPath(const std::string& imagePath);

// The lock beside the channel that a job holds from its document start to its document end.
std::string JobLockPath(const std::string& channelPath);

} // namespace zn::ptf
