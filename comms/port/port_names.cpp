#include "comms/port/port_names.h"

#include "platform/folders.h"
#include "platform/ini_file.h"

#include <cctype>
#include <cstdlib>
#include <sys/stat.h>

namespace zn::comms {

namespace {

std::string PortsFilePath() { return platform::ResolvePath(platform::WindowsFolder() + "/" + PortsFileName); }

const char* EnvValue(const std::string& name)
{
    const char* v = std::getenv(name.c_str());
    return v && *v ? v : nullptr;
}

} // namespace

std::string ComPortDevice(int number)
{
    std::string key = "COM" + std::to_string(number);
    if (const char* v = EnvValue("ZN_" + key))
        return v;
    std::string configured = platform::IniFile(PortsFilePath()).ReadString("Ports", key, "");
    if (!configured.empty())
        return configured;
    return "/dev/ttyS" + std::to_string(number - 1);
}

bool ComPortCarrier(int number)
{
    std::string key = "COM" + std::to_string(number);
    if (const char* v = EnvValue("ZN_" + key + "_CARRIER"))
        return std::atoi(v) != 0;
    return platform::IniFile(PortsFilePath()).ReadBool("Ports", key + "Carrier", true);
}

bool ComPortDeviceThere(int number)
{
    struct stat info {};
    return ::stat(ComPortDevice(number).c_str(), &info) == 0;
}

int ComNumberFromName(const std::string& name)
{
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0)
        rest = rest.substr(4);
    if (rest.size() < 4 || std::toupper(static_cast<unsigned char>(rest[0])) != 'C'
        || std::toupper(static_cast<unsigned char>(rest[1])) != 'O'
        || std::toupper(static_cast<unsigned char>(rest[2])) != 'M')
        return 0;
    int n = 0;
    for (size_t i = 3; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i])) || n > 9999)
            return 0;
        n = n * 10 + (rest[i] - '0');
    }
    return n;
}

std::string DeviceForName(const std::string& name)
{
    int n = ComNumberFromName(name);
    return n > 0 ? ComPortDevice(n) : name;
}

} // namespace zn::comms
