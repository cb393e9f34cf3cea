#include "cover/design_filer.h"

#include "cover/property_sink.h"
#include "platform/file_replacement.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace zn::cover {

namespace {

constexpr char kSignature[4] = {'T', 'P', 'F', '0'};
constexpr int kMaxComponentNumber = 1000;
constexpr int kPasteOffset = 15;

void WriteItem(TValueWriter& w, const TFaxGraphicControl& item)
{
    w.WriteBytes(kSignature, 4);
    w.WriteShortString(item.ClassName());
    w.WriteShortString(item.Name);
    TPropertySink sink(w);
    sink.Integer("Left", item.Left);
    sink.Integer("Top", item.Top);
    sink.Integer("Width", item.Width);
    sink.Integer("Height", item.Height);
    item.WriteProperties(sink);
    w.WriteListEnd(); // properties
    w.WriteListEnd(); // children
}

} // namespace

std::vector<uint8_t> TFaxDesignObjectFiler::Encode(const std::vector<const TFaxGraphicControl*>& items)
{
    TValueWriter w;
    w.WriteListBegin();
    for (const TFaxGraphicControl* item : items)
        WriteItem(w, *item);
    w.WriteListEnd();
    return std::move(w.Bytes());
}

TItemList TFaxDesignObjectFiler::Decode(const std::vector<uint8_t>& bytes, const TNameTaken& taken) const
{
    TValueReader r(bytes);
    TItemList items;
    std::set<std::string> given;
    r.ReadListBegin();
    while (!r.EndOfList()) {
        char signature[4];
        r.ReadBytes(signature, 4);
        if (std::memcmp(signature, kSignature, 4) != 0)
            throw TStreamError("not a component stream");
        uint8_t next = r.ReadByte();
        if ((next & 0xF0) == 0xF0) { // filer flags: a child position follows flag 2
            if (next & 2)
                r.ReadInteger();
            next = r.ReadByte();
        }
        std::string className(next, '\0');
        r.ReadBytes(className.data(), next);
        const std::string storedName = r.ReadShortString();
        std::unique_ptr<TFaxGraphicControl> item = CreateItem(className);
        if (!item)
            throw TStreamError("an unknown class: " + className);
        // The first free "Component" name of the form, counting the items read before this one.
        item->Name = storedName;
        for (int n = 0; n <= kMaxComponentNumber; ++n) {
            const std::string name = "Component" + std::to_string(n);
            if (!given.count(name) && !(taken && taken(name))) {
                item->Name = name;
                break;
            }
        }
        given.insert(item->Name);
        while (!r.EndOfList()) {
            const std::string property = r.ReadShortString();
            if (!item->ReadProperty(property, r))
                r.SkipValue(); // an event handler the form lacks, or a property the item does not keep
        }
        r.ReadListEnd();
        // Cover items have no children; skip any a foreign writer put there.
        while (!r.EndOfList())
            throw TStreamError("an item with children");
        r.ReadListEnd();
        if (PasteOffset) {
            item->Top += kPasteOffset;
            item->Left += kPasteOffset;
        }
        item->Loaded();
        items.push_back(std::move(item));
    }
    r.ReadListEnd();
    return items;
}

void TFaxDesignObjectFiler::SaveToFile(const std::vector<const TFaxGraphicControl*>& items, const std::string& fileName)
{
    WriteFileAtomically(fileName, Encode(items));
}

void TFaxDesignObjectFiler::SaveSelection(const std::vector<const TFaxGraphicControl*>& selection,
                                          const std::string& fileName)
{
    if (selection.empty())
        return;
    SaveToFile(selection, fileName);
}

TItemList TFaxDesignObjectFiler::LoadFromFile(const std::string& fileName, const TNameTaken& taken) const
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return {};
    return Decode(ReadFileBytes(fileName), taken);
}

TItemList TFaxDesignObjectFiler::PasteFromFile(const std::string& fileName, const TNameTaken& taken)
{
    PasteOffset = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{PasteOffset};
    return LoadFromFile(fileName, taken);
}

std::unique_ptr<TFaxGraphicControl> TFaxDesignObjectFiler::CloneItem(const TFaxGraphicControl& item,
                                                                     const TNameTaken& taken) const
{
    TItemList items = Decode(Encode({&item}), taken);
    return items.empty() ? nullptr : std::move(items.front());
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw TStreamError("cannot open " + fileName + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw TStreamError("cannot read " + fileName);
    return bytes;
}

void WriteFileAtomically(const std::string& fileName, const std::vector<uint8_t>& bytes)
{
    platform::FileReplacement out(fileName);
    int error = out.Open();
    size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        const ssize_t n = ::write(out.Descriptor(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    if (error == 0)
        error = out.Commit();
    if (error != 0)
        throw TStreamError("cannot write " + fileName + ": " + std::strerror(error));
}

} // namespace zn::cover
