// The user's clicks and focus changes as the window system reports them. A window that a modal
// dialog blocks receives no mouse event from the toolkit, yet the window manager raises it (and its
// dialogs) when it is clicked: a window that must stay above them learns of the click here.
#pragma once
#include <functional>

class QObject;

namespace zn::platform {

// Calls `then` on the GUI thread after each mouse press (at once and again twice within half a second) and each focus change in any window of this
// program, blocked windows included, for as long as `context` lives. On window systems that do not
// report them (offscreen) it is never called.
void WatchUserClicks(QObject* context, std::function<void()> then);

} // namespace zn::platform
