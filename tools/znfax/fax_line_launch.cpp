// send and receive in znfax itself: they need the toolkit's event loop, which the file commands do
// without, so they run in znfax-line (built next to znfax from the same sources) and znfax starts
// light for everything else.
#include "tools/znfax/commands.h"

namespace zn::tools {

namespace {

int Send(const TArgs& args) { return RunSiblingProgram("znfax-line", "send", args); }
int Receive(const TArgs& args) { return RunSiblingProgram("znfax-line", "receive", args); }

} // namespace

const TCommand kFaxLineCommands[] = {{"send", kSendUsage, Send}, {"receive", kReceiveUsage, Receive}};
const size_t kFaxLineCommandCount = sizeof kFaxLineCommands / sizeof kFaxLineCommands[0];

} // namespace zn::tools
