#include "scripted_port.h"

namespace zn::comms::test {

namespace {
constexpr char DLE = 0x10, ETX = 0x03;
}

std::string ScriptedPort::Frame(uint8_t fcf, bool final, const std::string& info)
{
    std::string f = "\r\nCONNECT\r\n";
    std::string body = std::string("\xFF") + char(final ? 0x13 : 0x03) + char(fcf) + info;
    for (char c : body) {
        f += c;
        if (c == DLE)
            f += DLE;
    }
    f += DLE;
    f += ETX;
    return f + "\r\nOK\r\n";
}

int ScriptedPort::ReadChar(uint8_t& c)
{
    if (input_.empty())
        return -3007;
    c = input_.front();
    input_.pop_front();
    return 0;
}

int ScriptedPort::WriteBlock(const uint8_t* data, uint32_t count)
{
    written_.append(reinterpret_cast<const char*>(data), count);
    for (;;) {
        if (dataMode_) {
            // Data ends at an un-stuffed DLE ETX.
            size_t i = 0;
            std::string plain;
            bool ended = false;
            for (; i < written_.size(); ++i) {
                if (written_[i] != DLE) {
                    plain += written_[i];
                    continue;
                }
                if (i + 1 >= written_.size())
                    break;
                ++i;
                if (written_[i] == ETX || written_[i] == '.' || written_[i] == ',' || written_[i] == ';') {
                    dataEnd_ = written_[i];
                    ended = true;
                    ++i;
                    break;
                }
                plain += written_[i];
            }
            if (!ended)
                return 0;
            written_.erase(0, i);
            dataMode_ = false;
            if (onData)
                onData(plain);
            continue;
        }
        auto cr = written_.find('\r');
        if (cr == std::string::npos)
            return 0;
        std::string command = written_.substr(0, cr);
        written_.erase(0, cr + 1);
        if (onCommand && !command.empty())
            onCommand(command);
    }
}

int ScriptedPort::NewTrigger(int type)
{
    int h = next_ + type;
    next_ += 8;
    triggers_[h] = {type, false};
    return h;
}

int ScriptedPort::RemoveTrigger(int handle)
{
    triggers_.erase(handle);
    return 0;
}

int ScriptedPort::SetTimerTrigger(int handle, int32_t, bool activate)
{
    auto it = triggers_.find(handle);
    if (it == triggers_.end())
        return -5003;
    it->second.armed = activate;
    return 0;
}

int ScriptedPort::SetStatusTrigger(int handle, uint32_t, bool activate) { return SetTimerTrigger(handle, 0, activate); }

int ScriptedPort::AddProcedureHandler(const void*, Handler handler)
{
    handler_ = std::move(handler);
    return 0;
}

bool ScriptedPort::ExchangeBusy(bool busy)
{
    bool old = busy_;
    busy_ = busy;
    return old;
}

bool ScriptedPort::Run(FaxSession& s, int maxEvents)
{
    for (int n = 0; n < maxEvents && !s.Finished() && handler_; ++n) {
        if (!input_.empty() && notified_ != arrivals_) {
            notified_ = arrivals_;
            handler_(kMsgDataAvailable, input_.size(), 0);
            continue;
        }
        bool fired = false;
        for (auto& [h, t] : triggers_)
            if (t.armed && (t.type == stOutputFree || t.type == stOutputSent)) {
                t.armed = false;
                handler_(kMsgStatusTrigger, uintptr_t(h), 0);
                fired = true;
                break;
            }
        if (fired)
            continue;
        // Nothing but time can happen now: the response timer (the first timer trigger) runs out.
        auto it = triggers_.find(s.common.responseTimer);
        if (it != triggers_.end() && it->second.armed) {
            it->second.armed = false;
            handler_(kMsgTimerTrigger, uintptr_t(it->first), 0);
            continue;
        }
        return s.Finished();
    }
    return s.Finished();
}

} // namespace zn::comms::test
