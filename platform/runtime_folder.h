// Where a user's sockets and locks live when the session has no runtime folder ($XDG_RUNTIME_DIR):
// a folder in the user's own home, which no other user can make first. Plain C++, shared by the
// programs and the printer backend (which looks for another user's folder).
#pragma once
#include <string>

namespace zn::platform {

// True when folder is a folder (not a link) of the user uid that nobody else may enter.
bool IsPrivateFolderOf(const std::string& folder, unsigned uid);

// The user's fallback runtime folder, <home>/.cache/zn-runtime (home as the user database has it),
// made with mode 0700 when create is set. Empty when it is not a private folder of that user.
std::string FallbackRuntimeFolder(unsigned uid, bool create);

} // namespace zn::platform
