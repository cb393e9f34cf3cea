#include "faxdoc/tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace zn::faxdoc::test {

TTempDir::TTempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "znfaxdoc-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> TTempDir::Files() const
{
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
        out.push_back(e.path().filename().string());
    return out;
}

std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& name, const std::vector<uint8_t>& data)
{
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string& name, const std::string& text)
{
    WriteFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

bool FileExists(const std::string& name) { return std::filesystem::exists(name); }

static void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

std::vector<uint8_t> MakeApf(const std::vector<TTestPage>& pages, int page1Offset)
{
    std::vector<uint8_t> out(static_cast<size_t>(page1Offset), 0);
    const char sig[] = "APF10\x1A";
    std::memcpy(out.data(), sig, 6);
    out[32] = static_cast<uint8_t>(pages.size());
    out[33] = static_cast<uint8_t>(pages.size() >> 8);
    Put32(out, 34, static_cast<uint32_t>(page1Offset));
    for (const TTestPage& p : pages) {
        std::vector<uint8_t> head(16, 0);
        Put32(head, 0, static_cast<uint32_t>(p.data.size()));
        head[4] = static_cast<uint8_t>(p.flags);
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    return out;
}

std::vector<uint8_t> Records(const std::vector<std::vector<uint8_t>>& rows)
{
    std::vector<uint8_t> out;
    for (const auto& r : rows) {
        out.push_back(static_cast<uint8_t>(r.size()));
        out.push_back(static_cast<uint8_t>(r.size() >> 8));
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

TRaster Blank(int width, int height)
{
    TRaster r;
    r.width = width;
    r.height = height;
    r.bits.assign(static_cast<size_t>(r.Stride()) * static_cast<size_t>(height), 0);
    return r;
}

TRaster ReadPbm(const std::string& name)
{
    const std::vector<uint8_t> d = ReadFile(name);
    size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < d.size()) {
            const char c = static_cast<char>(d[pos]);
            if (c == '#') {
                while (pos < d.size() && d[pos] != '\n')
                    ++pos;
            } else if (isspace(static_cast<unsigned char>(c))) {
                ++pos;
                if (!t.empty())
                    return t;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    const std::string magic = token();
    const int w = std::stoi(token());
    const int h = std::stoi(token());
    TRaster r = Blank(w, h);
    if (magic == "P4") {
        std::memcpy(r.bits.data(), d.data() + pos, std::min(r.bits.size(), d.size() - pos));
    } else if (magic == "P1") {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                while (pos < d.size() && d[pos] != '0' && d[pos] != '1')
                    ++pos;
                if (pos < d.size() && d[pos++] == '1')
                    r.Set(x, y);
            }
    } else {
        throw std::runtime_error(name + ": not a PBM file");
    }
    return r;
}

void WritePbm(const std::string& name, const TRaster& r)
{
    std::string head = "P4\n" + std::to_string(r.width) + " " + std::to_string(r.height) + "\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    out.insert(out.end(), r.bits.begin(), r.bits.end());
    WriteFile(name, out);
}

TRaster FromBitmap(const TMonoBitmap& bm, int width)
{
    TRaster r = Blank(width, bm.height);
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < width && x < bm.width; ++x)
            if (bm.Pixel(x, y) == bm.blackIsOne)
                r.Set(x, y);
    return r;
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (output)
            output->append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0; }

std::string TestData(const std::string& relative)
{
    const char* dir = std::getenv("ZN_TESTDATA");
    return std::string(dir && *dir ? dir : ZN_DEFAULT_TESTDATA) + "/" + relative;
}

std::string ZnfaxPath()
{
    const char* dir = std::getenv("ZN_BUILD_DIR");
    return std::string(dir && *dir ? dir : ZN_DEFAULT_BUILD_DIR) + "/tools/znfax/znfax";
}

} // namespace zn::faxdoc::test
