#include "comms/tapi/tapi_binding.h"

#include "comms/base/error_codes.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zn::comms::tapi {

namespace {

std::atomic<LineProvider*> installed{nullptr};

// Loads (finds the provider) and binds (the provider offers the function) before each call.
template <typename Call>
int32_t Bound(const char* name, Call call)
{
    LineProvider* p = installed.load();
    if (!p)
        return ecTapiLoadFail;
    if (!p->Offers(name))
        return ecTapiGetAddrFail;
    return static_cast<int32_t>(call(*p));
}

// Places the texts after the fixed part when the buffer holds them all; the sizes say what was
// needed and what was used, as TAPI does.
struct TextPlacer {
    VarHeader& header;
    size_t fixed;
    std::vector<std::pair<uint32_t*, std::pair<uint32_t*, std::string>>> texts;
    void Add(uint32_t* size, uint32_t* offset, const std::string& text) { texts.push_back({size, {offset, text}}); }
    void Place()
    {
        uint32_t needed = uint32_t(fixed);
        for (auto& t : texts)
            needed += t.second.second.empty() ? 0 : uint32_t(t.second.second.size() + 1);
        header.neededSize = needed;
        header.usedSize = uint32_t(fixed);
        bool fits = needed <= header.totalSize;
        auto* base = reinterpret_cast<uint8_t*>(&header);
        for (auto& [size, where] : texts) {
            auto& [offset, text] = where;
            *size = *offset = 0;
            if (!fits || text.empty())
                continue;
            *offset = header.usedSize;
            *size = uint32_t(text.size() + 1);
            std::memcpy(base + *offset, text.c_str(), text.size() + 1);
            header.usedSize += *size;
        }
    }
};

template <typename T>
bool ClearFixedPart(T* s)
{
    if (s->totalSize < sizeof(T))
        return false;
    uint32_t total = s->totalSize;
    std::memset(static_cast<void*>(s), 0, sizeof(T));
    s->totalSize = total;
    return true;
}

template <typename T, typename Fill>
int32_t FetchStructure(uint32_t initial, bool zeroFill, Fill fill, StructurePtr<T>& out)
{
    out.reset();
    auto allocate = [zeroFill](uint32_t size) {
        size = std::max<uint32_t>(size, sizeof(VarHeader));
        void* p = zeroFill ? std::calloc(1, size) : std::malloc(size);
        if (p)
            static_cast<VarHeader*>(p)->totalSize = size;
        return StructurePtr<T>(static_cast<T*>(p));
    };
    StructurePtr<T> buffer = allocate(initial);
    if (!buffer)
        return static_cast<int32_t>(LineErrNoMem);
    int32_t result = fill(buffer.get());
    if (uint32_t(result) == LineErrStructureTooSmall) {
        buffer = allocate(1024);
        if (!buffer)
            return static_cast<int32_t>(LineErrNoMem);
        result = fill(buffer.get());
        if (result < 0)
            return result;
    }
    if (result >= 0 && buffer->neededSize > buffer->totalSize) {
        buffer = allocate(buffer->neededSize);
        if (!buffer)
            return static_cast<int32_t>(LineErrNoMem);
        result = fill(buffer.get());
        if (result < 0)
            return result;
    }
    if (result >= 0)
        out = std::move(buffer);
    return result;
}

} // namespace

void SetLineProvider(LineProvider* provider) { installed = provider; }
LineProvider* CurrentLineProvider() { return installed.load(); }

InitialSizes& StructureSizes()
{
    static InitialSizes sizes;
    return sizes;
}

int32_t lineInitialize(HLineApp* app, void*, LineCallback callback, const char* appName, uint32_t* numDevs)
{
    return Bound("lineInitialize", [&](LineProvider& p) {
        HLineApp a = 0;
        uint32_t n = 0;
        uint32_t r = p.Initialize(a, std::move(callback), appName ? appName : "", n);
        if (app)
            *app = a;
        if (numDevs)
            *numDevs = n;
        return r;
    });
}

int32_t lineShutdown(HLineApp app)
{
    return Bound("lineShutdown", [&](LineProvider& p) { return p.Shutdown(app); });
}

int32_t lineNegotiateAPIVersion(HLineApp app, uint32_t deviceId, uint32_t apiLowVersion, uint32_t apiHighVersion,
                                uint32_t* apiVersion, LINEEXTENSIONID* extensionId)
{
    return Bound("lineNegotiateAPIVersion", [&](LineProvider& p) {
        uint32_t v = 0;
        uint32_t r = p.NegotiateApiVersion(app, deviceId, apiLowVersion, apiHighVersion, v);
        if (apiVersion)
            *apiVersion = v;
        if (extensionId)
            *extensionId = LINEEXTENSIONID{};
        return r;
    });
}

int32_t lineOpen(HLineApp app, uint32_t deviceId, HLine* line, uint32_t, uint32_t, uintptr_t callbackInstance,
                 uint32_t privileges, uint32_t mediaModes, const LINECALLPARAMS*)
{
    return Bound("lineOpen", [&](LineProvider& p) {
        HLine l = 0;
        uint32_t r = p.Open(app, deviceId, l, callbackInstance, privileges, mediaModes);
        if (line)
            *line = l;
        return r;
    });
}

int32_t lineMakeCall(HLine line, HCall* call, const char* destAddress, uint32_t, const LINECALLPARAMS* params)
{
    return Bound("lineMakeCall", [&](LineProvider& p) {
        HCall c = 0;
        uint32_t r = p.MakeCall(line, c, destAddress ? destAddress : "", params ? params->bearerMode : BearerModeVoice);
        if (call)
            *call = c;
        return r;
    });
}

int32_t lineAccept(HCall call, const char*, uint32_t)
{
    return Bound("lineAccept", [&](LineProvider& p) { return p.Accept(call); });
}

int32_t lineAnswer(HCall call, const char*, uint32_t)
{
    return Bound("lineAnswer", [&](LineProvider& p) { return p.Answer(call); });
}

int32_t lineDeallocateCall(HCall call)
{
    return Bound("lineDeallocateCall", [&](LineProvider& p) { return p.DeallocateCall(call); });
}

int32_t lineDrop(HCall call, const char*, uint32_t)
{
    return Bound("lineDrop", [&](LineProvider& p) { return p.Drop(call); });
}

int32_t lineClose(HLine line)
{
    return Bound("lineClose", [&](LineProvider& p) { return p.Close(line); });
}

int32_t lineGetID(HLine, uint32_t, HCall call, uint32_t select, VARSTRING* deviceId, const char* deviceClass)
{
    return Bound("lineGetID", [&](LineProvider& p) -> uint32_t {
        if (!deviceId || deviceId->totalSize < sizeof(VARSTRING))
            return LineErrStructureTooSmall;
        if (select != CallSelectCall || !deviceClass || std::strcmp(deviceClass, "comm/datamodem") != 0)
            return LineErrOperationUnavail;
        int fd = -1;
        if (uint32_t r = p.CommHandle(call, fd); r != 0)
            return r;
        uint32_t total = deviceId->totalSize;
        std::memset(static_cast<void*>(deviceId), 0, sizeof(VARSTRING));
        deviceId->totalSize = total;
        deviceId->neededSize = sizeof(VARSTRING) + sizeof(int32_t);
        deviceId->usedSize = sizeof(VARSTRING);
        deviceId->stringFormat = 4; // binary
        if (deviceId->neededSize <= total) {
            int32_t handle = fd;
            std::memcpy(reinterpret_cast<uint8_t*>(deviceId) + sizeof(VARSTRING), &handle, sizeof handle);
            deviceId->stringOffset = sizeof(VARSTRING);
            deviceId->stringSize = sizeof handle;
            deviceId->usedSize = deviceId->neededSize;
        }
        return 0;
    });
}

int32_t lineSetStatusMessages(HLine line, uint32_t lineStates, uint32_t addressStates)
{
    return Bound("lineSetStatusMessages",
                 [&](LineProvider& p) { return p.SetStatusMessages(line, lineStates, addressStates); });
}

int32_t lineMonitorDigits(HCall call, uint32_t digitModes)
{
    return Bound("lineMonitorDigits", [&](LineProvider& p) { return p.MonitorDigits(call, digitModes); });
}

int32_t lineGetDevCaps(HLineApp app, uint32_t deviceId, uint32_t, uint32_t, StructurePtr<LINEDEVCAPS>& out)
{
    return FetchStructure<LINEDEVCAPS>(
        StructureSizes().devCaps, false,
        [&](LINEDEVCAPS* caps) {
            return Bound("lineGetDevCaps", [&](LineProvider& p) -> uint32_t {
                LineDeviceInfo info;
                if (uint32_t r = p.DeviceInfo(app, deviceId, info); r != 0)
                    return r;
                if (!ClearFixedPart(caps))
                    return LineErrStructureTooSmall;
                caps->mediaModes = info.mediaModes;
                caps->lineFeatures = info.lineFeatures;
                caps->permanentLineId = deviceId;
                TextPlacer texts{*caps, sizeof(LINEDEVCAPS), {}};
                texts.Add(&caps->lineNameSize, &caps->lineNameOffset, info.name);
                texts.Place();
                return 0;
            });
        },
        out);
}

int32_t lineGetCallInfo(HCall call, StructurePtr<LINECALLINFO>& out)
{
    return FetchStructure<LINECALLINFO>(
        StructureSizes().callInfo, true,
        [&](LINECALLINFO* info) {
            return Bound("lineGetCallInfo", [&](LineProvider& p) -> uint32_t {
                CallInformation known;
                if (uint32_t r = p.CallInfo(call, known); r != 0)
                    return r;
                if (!ClearFixedPart(info))
                    return LineErrStructureTooSmall;
                info->mediaMode = known.mediaMode;
                info->callerIdFlags = known.callerIdFlags;
                TextPlacer texts{*info, sizeof(LINECALLINFO), {}};
                texts.Add(&info->callerIdSize, &info->callerIdOffset, known.callerId);
                texts.Add(&info->callerIdNameSize, &info->callerIdNameOffset, known.callerName);
                texts.Place();
                return 0;
            });
        },
        out);
}

int32_t lineGetCallStatus(HCall call, StructurePtr<LINECALLSTATUS>& out)
{
    return FetchStructure<LINECALLSTATUS>(
        StructureSizes().callStatus, false,
        [&](LINECALLSTATUS* status) {
            return Bound("lineGetCallStatus", [&](LineProvider& p) -> uint32_t {
                uint32_t state = 0;
                if (uint32_t r = p.CallState(call, state); r != 0)
                    return r;
                if (!ClearFixedPart(status))
                    return LineErrStructureTooSmall;
                status->callState = state;
                status->neededSize = status->usedSize = sizeof(LINECALLSTATUS);
                return 0;
            });
        },
        out);
}

std::string StructureText(const void* structure, uint32_t offset, uint32_t size)
{
    auto* header = static_cast<const VarHeader*>(structure);
    if (size == 0 || offset < sizeof(VarHeader) || uint64_t(offset) + size > header->usedSize)
        return {};
    std::string text(static_cast<const char*>(structure) + offset, size);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::string TrimmedText(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace zn::comms::tapi
