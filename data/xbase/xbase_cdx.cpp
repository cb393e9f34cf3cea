#include "xbase_cdx.h"
#include "xbase_sort.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sys/mman.h>

namespace zn::xbase {

namespace {

// A crash in the middle of an index write leaves this byte (reserved in the file header, zero at
// rest) set; such a file is treated as unreadable and rebuilt.
constexpr uint32_t kDirtyOffset = 480;
constexpr int kMaxDepth = 64;

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int BitLength(uint64_t v)
{
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

int CompareEntry(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, int keyLength)
{
    int c = memcmp(a, b, keyLength);
    if (c)
        return c;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// Entry layout of a leaf: the smallest width whose record-number bits hold the largest number,
// at least three bytes as the older writers use.
struct LeafLayout {
    int dupBits, trailBits, recBits, bytes;
    LeafLayout(int keyLength, uint32_t maxRecno)
    {
        dupBits = trailBits = BitLength(keyLength);
        bytes = 3;
        while (8 * bytes - 2 * dupBits < std::max(BitLength(maxRecno), 1))
            ++bytes;
        recBits = 8 * bytes - 2 * dupBits;
    }
};

int Trailing(const uint8_t* key, int keyLength, uint8_t fill)
{
    int t = 0;
    while (t < keyLength && key[keyLength - 1 - t] == fill)
        ++t;
    return t;
}

void PutLeafHeader(uint8_t* page, const LeafLayout& l, uint16_t attr, uint16_t count, uint32_t left, uint32_t right,
                   int freeBytes)
{
    PutLe16(page, attr);
    PutLe16(page + 2, count);
    PutLe32(page + 4, left);
    PutLe32(page + 8, right);
    PutLe16(page + 12, static_cast<uint16_t>(freeBytes));
    PutLe32(page + 14, l.recBits >= 32 ? 0xFFFFFFFFu : ((1u << l.recBits) - 1));
    page[18] = static_cast<uint8_t>((1u << l.dupBits) - 1);
    page[19] = static_cast<uint8_t>((1u << l.trailBits) - 1);
    page[20] = static_cast<uint8_t>(l.recBits);
    page[21] = static_cast<uint8_t>(l.dupBits);
    page[22] = static_cast<uint8_t>(l.trailBits);
    page[23] = static_cast<uint8_t>(l.bytes);
}

// Appends leaf entries one at a time; Add refuses an entry that would not fit.
class LeafWriter {
public:
    LeafWriter(int keyLength, uint8_t fill, uint32_t maxRecno)
        : keyLength_(keyLength), fill_(fill), layout_(keyLength, maxRecno)
    {
        Reset();
    }

    void Reset()
    {
        memset(page_, 0, sizeof page_);
        count_ = 0;
        pool_ = kCdxPage;
        havePrev_ = false;
        prevTrail_ = 0;
    }

    bool Add(const uint8_t* key, uint32_t recno)
    {
        int trail = Trailing(key, keyLength_, fill_);
        int dup = 0;
        if (havePrev_) {
            int limit = keyLength_ - std::max(trail, prevTrail_);
            while (dup < limit && key[dup] == prev_[dup])
                ++dup;
        }
        int stored = keyLength_ - dup - trail;
        int entries = 24 + (count_ + 1) * layout_.bytes;
        if (entries > static_cast<int>(pool_) - stored)
            return false;
        uint64_t v =
            recno | (uint64_t(dup) << layout_.recBits) | (uint64_t(trail) << (layout_.recBits + layout_.dupBits));
        uint8_t* e = page_ + 24 + count_ * layout_.bytes;
        for (int i = 0; i < layout_.bytes; ++i)
            e[i] = static_cast<uint8_t>(v >> (8 * i));
        pool_ -= stored;
        memcpy(page_ + pool_, key + dup, stored);
        memcpy(prev_, key, keyLength_); // the caller's key may not outlive this call
        havePrev_ = true;
        prevTrail_ = trail;
        ++count_;
        return true;
    }

    int Count() const { return count_; }

    const uint8_t* Finish(uint16_t attr, uint32_t left, uint32_t right)
    {
        int freeBytes = static_cast<int>(pool_) - 24 - count_ * layout_.bytes;
        PutLeafHeader(page_, layout_, attr, static_cast<uint16_t>(count_), left, right, freeBytes);
        return page_;
    }

private:
    int keyLength_;
    uint8_t fill_;
    LeafLayout layout_;
    uint8_t page_[kCdxPage];
    int count_ = 0;
    uint32_t pool_ = kCdxPage;
    uint8_t prev_[kMaxKeyLength];
    bool havePrev_ = false;
    int prevTrail_ = 0;
};

int InteriorCapacity(int keyLength) { return (kCdxPage - 12) / (keyLength + 8); }

void WriteTagHeaderBytes(uint8_t* h, const CdxTag& tag)
{
    memset(h, 0, 1024);
    PutLe32(h, tag.root);
    PutLe16(h + 12, static_cast<uint16_t>(tag.keyLength));
    h[14] = tag.options;
    h[15] = 0x01;
    size_t keyLen = tag.keyExpression.size() + 1, forLen = tag.forExpression.size() + 1;
    PutLe16(h + 502, tag.descending ? 1 : 0);
    PutLe16(h + 504, static_cast<uint16_t>(keyLen));
    PutLe16(h + 506, static_cast<uint16_t>(forLen));
    PutLe16(h + 508, 0);
    PutLe16(h + 510, static_cast<uint16_t>(keyLen));
    memcpy(h + 512, tag.keyExpression.c_str(), keyLen);
    memcpy(h + 512 + keyLen, tag.forExpression.c_str(), forLen);
}

CdxTag DirectoryTag(uint32_t root)
{
    CdxTag d;
    d.root = root;
    d.keyLength = 10;
    d.options = 0xE0;
    d.fill = 0x20;
    return d;
}

bool ValidTagName(const std::string& name)
{
    if (name.empty() || name.size() > 10)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_')
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

std::string PaddedName(const std::string& name)
{
    std::string k = name;
    for (char& c : k)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    k.resize(10, ' ');
    return k;
}

} // namespace

void NumberKey(double value, uint8_t* out)
{
    if (value == 0)
        value = 0; // -0.0 sorts as +0.0
    uint64_t bits;
    memcpy(&bits, &value, 8);
    if (bits >> 63)
        bits = ~bits;
    else
        bits |= uint64_t(1) << 63;
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
}

Err CdxFile::WriteEmpty(File& file)
{
    std::vector<uint8_t> bytes(1024 + kCdxPage, 0);
    WriteTagHeaderBytes(bytes.data(), DirectoryTag(1024));
    LeafWriter leaf(10, 0x20, 0);
    memcpy(bytes.data() + 1024, leaf.Finish(3, kCdxNone, kCdxNone), kCdxPage);
    return file.WriteAt(0, bytes.data(), bytes.size());
}

Err CdxFile::CreateEmpty(const std::string& path)
{
    // Made whole beside the name and put there only if the name is still free: nobody sees half an
    // index, and a file or link already under the name is neither followed nor replaced.
    FileReplacement out(path);
    if (Err e = out.Open(); e != Err::Ok)
        return e;
    if (Err e = WriteEmpty(out.Out()); e != Err::Ok)
        return e;
    return out.CommitNew();
}

Err CdxFile::Open(File file)
{
    Close();
    file_ = std::move(file);
    shared_ = false;
    Err e = Acquire(false, 0);
    if (e == Err::Ok) {
        Release();
    } else {
        Close();
    }
    return e;
}

Err CdxFile::Open(const std::string& path, bool write, bool shared, int lockTimeoutSeconds)
{
    Close();
    if (Err e = file_.Open(path, write); e != Err::Ok)
        return e;
    shared_ = shared;
    Err e = Acquire(false, lockTimeoutSeconds);
    if (e != Err::Ok) {
        Close();
        return e;
    }
    Release();
    if (shared_) {
        // The file is never shortened in place (a rebuilt index replaces it), so the page stays
        // readable; without the mapping the header is read through the descriptor.
        void* page = mmap(nullptr, kCdxPage, PROT_READ, MAP_SHARED, file_.Descriptor(), 0);
        header_ = page == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(page);
    }
    return Err::Ok;
}

void CdxFile::Close()
{
    if (header_)
        munmap(const_cast<uint8_t*>(header_), kCdxPage);
    header_ = nullptr;
    file_.Close();
    tags_.clear();
    cache_.clear();
    lockDepth_ = 0;
    optimistic_ = false;
    dirty_ = unsynced_ = false;
    counter_ = 0;
    directory_ = CdxTag{};
    directory_.keyLength = 0;
    ++generation_;
}

int CdxFile::FindTag(const std::string& name) const
{
    std::string key = PaddedName(name);
    for (size_t i = 0; i < tags_.size(); ++i)
        if (PaddedName(tags_[i].name) == key)
            return static_cast<int>(i);
    return -1;
}

Err CdxFile::Acquire(bool write, int timeoutSeconds, bool optimistic)
{
    if (write && !file_.Writable())
        return Err::ReadOnly;
    lockTimeoutSeconds_ = timeoutSeconds;
    if (lockDepth_ > 0) {
        if (optimistic_ && write) {
            if (Err e = LockAfterOptimisticRead(true); e != Err::Ok)
                return e;
        } else if (shared_ && write && !lockedWrite_) {
            if (Err e = file_.Lock(kIndexLockOffset, 1, true, timeoutSeconds); e != Err::Ok)
                return e;
            lockedWrite_ = true;
        }
        ++lockDepth_;
        return Err::Ok;
    }
    bool first = tags_.empty() && directory_.keyLength == 0;
    if (shared_ && optimistic && !write && !first && Unchanged()) {
        lockDepth_ = 1;
        optimistic_ = true;
        return Err::Ok;
    }
    if (shared_) {
        if (Err e = file_.Lock(kIndexLockOffset, 1, write, timeoutSeconds); e != Err::Ok)
            return e;
        lockedWrite_ = write;
    }
    lockDepth_ = 1;
    if (!shared_ && !first)
        return Err::Ok;
    bool changed = false;
    Err e = CheckHeader(first, changed);
    if (e != Err::Ok)
        Release();
    return e;
}

bool CdxFile::Unchanged() const
{
    if (!shared_)
        return true;
    // A writer sets the mark before its first page and bumps the counter before it clears the mark,
    // so a clear mark and our counter mean that every page held is what the file holds. The mark is
    // read first: a counter read after a clear mark is at least as new as the mark.
    uint8_t mark = 0;
    uint32_t counter = 0;
    if (header_) {
        mark = __atomic_load_n(header_ + kDirtyOffset, __ATOMIC_ACQUIRE);
        uint8_t c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = __atomic_load_n(header_ + 8 + i, __ATOMIC_ACQUIRE);
        counter = Be32(c);
    } else {
        uint8_t h[kDirtyOffset + 1];
        if (file_.ReadAt(0, h, sizeof h) != Err::Ok)
            return false;
        mark = h[kDirtyOffset];
        counter = Be32(h + 8);
    }
    return mark == 0 && counter == counter_;
}

Err CdxFile::Settle(uint32_t& counter)
{
    if (lockDepth_ > 0) {
        counter = counter_;
        return !dirty_ && Unchanged() ? Err::Ok : Err::IndexChanged;
    }
    if (!Unchanged()) {
        if (Err e = Acquire(false, 0); e != Err::Ok)
            return e;
        Release();
    }
    counter = counter_;
    return Err::Ok;
}

Err CdxFile::CheckHeader(bool first, bool& changed)
{
    uint8_t h[16];
    uint8_t mark = 0;
    size_ = file_.Size();
    changed = false;
    if (size_ < 1024 + kCdxPage || file_.ReadAt(0, h, 16) != Err::Ok
        || file_.ReadAt(kDirtyOffset, &mark, 1) != Err::Ok)
        return Err::CorruptIndex;
    if (mark != 0 && !dirty_)
        return Err::CorruptIndex;
    if (first || Be32(h + 8) != counter_) {
        changed = true;
        counter_ = Be32(h + 8);
        cache_.clear();
        ++generation_;
        return LoadTags();
    }
    return Err::Ok;
}

Err CdxFile::LockAfterOptimisticRead(bool write)
{
    if (Err e = file_.Lock(kIndexLockOffset, 1, write, lockTimeoutSeconds_); e != Err::Ok)
        return e;
    optimistic_ = false;
    lockedWrite_ = write;
    bool changed = false;
    if (Err e = CheckHeader(false, changed); e != Err::Ok)
        return e;
    return changed ? Err::IndexChanged : Err::Ok;
}

void CdxFile::Release()
{
    if (lockDepth_ == 0)
        return;
    if (--lockDepth_ == 0 && shared_) {
        if (!optimistic_)
            file_.Unlock(kIndexLockOffset, 1);
        optimistic_ = false;
        lockedWrite_ = false;
    }
}

Err CdxFile::BeginWrite()
{
    if (!file_.Writable())
        return Err::ReadOnly;
    if (dirty_)
        return Err::Ok;
    uint8_t one = 1;
    if (Err e = file_.WriteAt(kDirtyOffset, &one, 1); e != Err::Ok)
        return e;
    dirty_ = unsynced_ = true;
    return Err::Ok;
}

Err CdxFile::Commit()
{
    if (!unsynced_)
        return Err::Ok;
    if (dirty_) {
        if (Err e = file_.Sync(); e != Err::Ok)
            return e;
        if (Err e = EndWrite(); e != Err::Ok)
            return e;
    }
    if (Err e = file_.Sync(); e != Err::Ok)
        return e;
    unsynced_ = false;
    return Err::Ok;
}

Err CdxFile::EndWrite()
{
    if (!dirty_)
        return Err::Ok;
    ++counter_;
    if (Err e = WriteCounter(); e != Err::Ok)
        return e;
    uint8_t zero = 0;
    if (Err e = file_.WriteAt(kDirtyOffset, &zero, 1); e != Err::Ok)
        return e;
    dirty_ = false;
    return Err::Ok;
}

Err CdxFile::WriteCounter()
{
    uint8_t b[4];
    PutBe32(b, counter_);
    return file_.WriteAt(8, b, 4);
}

Err CdxFile::Touch()
{
    ++generation_;
    return Err::Ok;
}

Err CdxFile::ReadTagHeader(uint32_t offset, CdxTag& tag)
{
    uint8_t h[1024];
    if (offset % kCdxPage != 0 || offset + 1024ull > size_ || file_.ReadAt(offset, h, 1024) != Err::Ok)
        return Err::CorruptIndex;
    tag.header = offset;
    tag.root = Le32(h);
    tag.keyLength = Le16(h + 12);
    tag.options = h[14];
    tag.descending = Le16(h + 502) != 0;
    unsigned forPos = Le16(h + 504), forLen = Le16(h + 506), keyPos = Le16(h + 508), keyLen = Le16(h + 510);
    if (tag.keyLength < 1 || tag.keyLength > kMaxKeyLength)
        return Err::CorruptIndex;
    // Keys under a named collation or with a null marker are not the plain bytes this engine
    // writes; such a file is left alone rather than damaged.
    for (int i = 494; i < 502; ++i)
        if (h[i] != 0)
            return Err::CorruptIndex;
    if (offset != 0 && (tag.options & 0x02))
        return Err::CorruptIndex;
    if (tag.root % kCdxPage != 0 || tag.root + uint64_t(kCdxPage) > size_)
        return Err::CorruptIndex;
    if (keyPos + keyLen > 512 || forPos + forLen > 512)
        return Err::CorruptIndex;
    const char* pool = reinterpret_cast<const char*>(h + 512);
    tag.keyExpression.assign(pool + keyPos, strnlen(pool + keyPos, keyLen));
    tag.forExpression = forLen > 0 ? std::string(pool + forPos, strnlen(pool + forPos, forLen)) : std::string();
    return Err::Ok;
}

Err CdxFile::WriteTagHeader(const CdxTag& tag)
{
    uint8_t h[1024];
    WriteTagHeaderBytes(h, tag);
    return file_.WriteAt(tag.header, h, 1024);
}

Err CdxFile::LoadTags()
{
    CdxTag dir;
    if (Err e = ReadTagHeader(0, dir); e != Err::Ok)
        return e;
    if (dir.keyLength != 10)
        return Err::CorruptIndex;
    dir.fill = 0x20;
    std::vector<CdxTag> old = std::move(tags_);
    tags_.clear();
    directory_ = dir;
    CdxPosition pos;
    if (Err e = First(directory_, pos); e != Err::Ok)
        return e;
    size_t guard = 0;
    while (pos.Valid()) {
        if (++guard > 4096)
            return Err::CorruptIndex;
        CdxTag tag;
        std::string name(reinterpret_cast<const char*>(pos.Key()), 10);
        name.erase(name.find_last_not_of(std::string(" \0", 2)) + 1);
        if (Err e = ReadTagHeader(pos.Recno(), tag); e != Err::Ok)
            return e;
        tag.name = name;
        for (const CdxTag& o : old)
            if (o.name == tag.name && o.header == tag.header)
                tag.fill = o.fill;
        tags_.push_back(tag);
        if (Err e = Next(directory_, pos); e != Err::Ok)
            return e;
    }
    std::sort(tags_.begin(), tags_.end(), [](const CdxTag& a, const CdxTag& b) { return a.header < b.header; });
    return Err::Ok;
}

Err CdxFile::ReadPage(uint32_t offset, const uint8_t*& page)
{
    auto it = cache_.find(offset);
    if (it != cache_.end()) {
        page = it->second.data();
        return Err::Ok;
    }
    if (optimistic_) {
        if (Err e = LockAfterOptimisticRead(false); e != Err::Ok)
            return e;
    }
    if (offset % kCdxPage != 0 || offset < 1024 || offset + uint64_t(kCdxPage) > size_)
        return Err::CorruptIndex;
    if (cache_.size() > 4096)
        cache_.clear(); // 2 MB; the operating system caches the file too
    // The pages that follow come in the same read: a tag's leaves lie one after the other as it was
    // built, so a walk along them reads the file in runs. Pages held already are kept (they are
    // what the file holds: every write goes to both).
    constexpr uint64_t kReadAhead = 16;
    uint64_t end = std::min<uint64_t>(size_ / kCdxPage * kCdxPage, offset + kReadAhead * kCdxPage);
    uint8_t run[kReadAhead * kCdxPage];
    size_t got = file_.ReadSome(offset, run, static_cast<size_t>(end - offset));
    if (got < kCdxPage)
        return Err::FileRead;
    for (size_t at = 0; at + kCdxPage <= got; at += kCdxPage) {
        auto [slot, added] = cache_.try_emplace(static_cast<uint32_t>(offset + at));
        if (added)
            memcpy(slot->second.data(), run + at, kCdxPage);
    }
    page = cache_.find(offset)->second.data();
    return Err::Ok;
}

Err CdxFile::WritePage(uint32_t offset, const uint8_t* page)
{
    if (Err e = file_.WriteAt(offset, page, kCdxPage); e != Err::Ok)
        return e;
    auto& slot = cache_[offset];
    memcpy(slot.data(), page, kCdxPage);
    return Err::Ok;
}

Err CdxFile::ReadNode(uint32_t offset, int keyLength, uint8_t fill, Node& node)
{
    const uint8_t* p;
    if (Err e = ReadPage(offset, p); e != Err::Ok)
        return e;
    node.attr = Le16(p);
    int count = Le16(p + 2);
    node.left = Le32(p + 4);
    node.right = Le32(p + 8);
    node.keys.resize(size_t(count) * keyLength);
    node.recnos.resize(count);
    node.children.clear();
    if (!node.Leaf()) {
        if (count > InteriorCapacity(keyLength))
            return Err::CorruptIndex;
        node.children.resize(count);
        for (int i = 0; i < count; ++i) {
            const uint8_t* e = p + 12 + i * (keyLength + 8);
            memcpy(&node.keys[size_t(i) * keyLength], e, keyLength);
            node.recnos[i] = Be32(e + keyLength);
            node.children[i] = Be32(e + keyLength + 4);
        }
        return Err::Ok;
    }
    int recBits = p[20], dupBits = p[21], trailBits = p[22], bytes = p[23];
    if (bytes < 1 || bytes > 8 || recBits > 32 || recBits + dupBits + trailBits > 8 * bytes || dupBits > 16
        || trailBits > 16 || 24 + count * bytes > static_cast<int>(kCdxPage))
        return Err::CorruptIndex;
    uint64_t recMask = Le32(p + 14);
    uint64_t dupMask = p[18], trailMask = p[19];
    int end = kCdxPage;
    const int entriesEnd = 24 + count * bytes;
    for (int i = 0; i < count; ++i) {
        const uint8_t* e = p + 24 + i * bytes;
        uint64_t v = 0;
        for (int b = 0; b < bytes; ++b)
            v |= uint64_t(e[b]) << (8 * b);
        uint32_t recno = static_cast<uint32_t>(v & recMask);
        int dup = static_cast<int>((v >> recBits) & dupMask);
        int trail = static_cast<int>((v >> (recBits + dupBits)) & trailMask);
        int stored = keyLength - dup - trail;
        if (stored < 0 || (i == 0 && dup > 0) || end - stored < entriesEnd)
            return Err::CorruptIndex;
        uint8_t* key = &node.keys[size_t(i) * keyLength];
        if (dup)
            memcpy(key, key - keyLength, dup);
        memcpy(key + dup, p + end - stored, stored);
        memset(key + dup + stored, fill, trail);
        end -= stored;
        node.recnos[i] = recno;
    }
    return Err::Ok;
}

Err CdxFile::WriteNode(uint32_t offset, int keyLength, uint8_t fill, const Node& node)
{
    uint8_t page[kCdxPage];
    if (node.Leaf()) {
        uint32_t maxRecno = node.recnos.empty() ? 0 : *std::max_element(node.recnos.begin(), node.recnos.end());
        LeafWriter w(keyLength, fill, maxRecno);
        for (int i = 0; i < node.Count(); ++i)
            if (!w.Add(&node.keys[size_t(i) * keyLength], node.recnos[i]))
                return Err::BadArgument;
        memcpy(page, w.Finish(node.attr, node.left, node.right), kCdxPage);
    } else {
        if (node.Count() > InteriorCapacity(keyLength))
            return Err::BadArgument;
        memset(page, 0, sizeof page);
        PutLe16(page, node.attr);
        PutLe16(page + 2, static_cast<uint16_t>(node.Count()));
        PutLe32(page + 4, node.left);
        PutLe32(page + 8, node.right);
        for (int i = 0; i < node.Count(); ++i) {
            uint8_t* e = page + 12 + i * (keyLength + 8);
            memcpy(e, &node.keys[size_t(i) * keyLength], keyLength);
            PutBe32(e + keyLength, node.recnos[i]);
            PutBe32(e + keyLength + 4, node.children[i]);
        }
    }
    return WritePage(offset, page);
}

Err CdxFile::SetSiblingLink(uint32_t offset, bool leftLink, uint32_t value)
{
    if (offset == kCdxNone)
        return Err::Ok;
    const uint8_t* p;
    if (Err e = ReadPage(offset, p); e != Err::Ok)
        return e;
    uint8_t page[kCdxPage];
    memcpy(page, p, kCdxPage);
    PutLe32(page + (leftLink ? 4 : 8), value);
    return WritePage(offset, page);
}

// Offsets in the file are 32 bits wide; kCdxNone when the file would outgrow them.
uint32_t CdxFile::Allocate(uint32_t bytes)
{
    uint64_t at = (size_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    if (at + bytes >= kCdxNone - kCdxPage)
        return kCdxNone;
    size_ = at + bytes;
    return static_cast<uint32_t>(at);
}

namespace {

int LowerBound(const std::vector<uint8_t>& keys, const std::vector<uint32_t>& recnos, int keyLength, const uint8_t* key,
               uint32_t recno)
{
    int lo = 0, hi = static_cast<int>(recnos.size());
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (CompareEntry(&keys[size_t(mid) * keyLength], recnos[mid], key, recno, keyLength) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

} // namespace

Err CdxFile::Descend(const CdxTag& tag, const uint8_t* key, uint32_t recno, TreePath& path, Node& leaf)
{
    path.nodes.clear();
    path.index.clear();
    uint32_t offset = tag.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            return Err::CorruptIndex;
        if (Err e = ReadNode(offset, tag.keyLength, tag.fill, leaf); e != Err::Ok)
            return e;
        path.nodes.push_back(offset);
        if (leaf.Leaf())
            return Err::Ok;
        if (leaf.Count() == 0)
            return Err::CorruptIndex;
        int i = std::min(LowerBound(leaf.keys, leaf.recnos, tag.keyLength, key, recno), leaf.Count() - 1);
        path.index.push_back(i);
        offset = leaf.children[i];
    }
}

Err CdxFile::SetParentKey(CdxTag& tag, TreePath& path, int level, const uint8_t* key, uint32_t recno)
{
    for (; level >= 0; --level) {
        Node parent;
        if (Err e = ReadNode(path.nodes[level], tag.keyLength, tag.fill, parent); e != Err::Ok)
            return e;
        int i = path.index[level];
        if (i >= parent.Count())
            return Err::CorruptIndex;
        uint8_t* k = &parent.keys[size_t(i) * tag.keyLength];
        if (memcmp(k, key, tag.keyLength) == 0 && parent.recnos[i] == recno)
            return Err::Ok;
        memcpy(k, key, tag.keyLength);
        parent.recnos[i] = recno;
        if (Err e = WriteNode(path.nodes[level], tag.keyLength, tag.fill, parent); e != Err::Ok)
            return e;
        if (i != parent.Count() - 1)
            return Err::Ok;
    }
    return Err::Ok;
}

// Writes node back at path level `level`, splitting it when it does not fit and passing the split
// up to its parent (a new root when the root splits).
Err CdxFile::Store(CdxTag& tag, TreePath& path, int level, Node& node)
{
    const int kl = tag.keyLength;
    uint32_t offset = path.nodes[level];
    Err e = WriteNode(offset, kl, tag.fill, node);
    if (e == Err::Ok) {
        if (level > 0 && node.Count() > 0)
            return SetParentKey(tag, path, level - 1, &node.keys[size_t(node.Count() - 1) * kl], node.recnos.back());
        return Err::Ok;
    }
    if (e != Err::BadArgument)
        return e;
    // Split: try the middle first, then points further out, until both halves fit.
    int count = node.Count();
    for (int delta = 0; delta < count; ++delta) {
        for (int sign : {1, -1}) {
            int m = count / 2 + sign * delta;
            if (m < 1 || m >= count)
                continue;
            Node left, right;
            left.attr = right.attr = static_cast<uint16_t>(node.attr & ~1);
            left.keys.assign(node.keys.begin(), node.keys.begin() + size_t(m) * kl);
            right.keys.assign(node.keys.begin() + size_t(m) * kl, node.keys.end());
            left.recnos.assign(node.recnos.begin(), node.recnos.begin() + m);
            right.recnos.assign(node.recnos.begin() + m, node.recnos.end());
            if (!node.Leaf()) {
                left.children.assign(node.children.begin(), node.children.begin() + m);
                right.children.assign(node.children.begin() + m, node.children.end());
            }
            // Check both halves fit before anything is written.
            uint64_t probe = size_;
            uint32_t rightOffset = Allocate();
            if (rightOffset == kCdxNone)
                return Err::FileWrite;
            left.left = node.left;
            left.right = rightOffset;
            right.left = offset;
            right.right = node.right;
            Err el = WriteNode(rightOffset, kl, tag.fill, right);
            if (el == Err::BadArgument) {
                size_ = probe;
                cache_.erase(rightOffset);
                continue;
            }
            if (el != Err::Ok)
                return el;
            Err er = WriteNode(offset, kl, tag.fill, left);
            if (er == Err::BadArgument) {
                size_ = probe;
                cache_.erase(rightOffset);
                continue;
            }
            if (er != Err::Ok)
                return er;
            if (Err s = SetSiblingLink(node.right, true, rightOffset); s != Err::Ok)
                return s;
            const uint8_t* lastLeft = &left.keys[size_t(m - 1) * kl];
            const uint8_t* lastRight = &right.keys[size_t(right.Count() - 1) * kl];
            if (level == 0) {
                Node root;
                root.attr = 1;
                root.keys.assign(lastLeft, lastLeft + kl);
                root.keys.insert(root.keys.end(), lastRight, lastRight + kl);
                root.recnos = {left.recnos.back(), right.recnos.back()};
                root.children = {offset, rightOffset};
                uint32_t rootOffset = Allocate();
                if (rootOffset == kCdxNone)
                    return Err::FileWrite;
                if (Err w = WriteNode(rootOffset, kl, tag.fill, root); w != Err::Ok)
                    return w;
                tag.root = rootOffset;
                return WriteTagHeader(tag);
            }
            Node parent;
            if (Err r = ReadNode(path.nodes[level - 1], kl, tag.fill, parent); r != Err::Ok)
                return r;
            int i = path.index[level - 1];
            memcpy(&parent.keys[size_t(i) * kl], lastLeft, kl);
            parent.recnos[i] = left.recnos.back();
            parent.keys.insert(parent.keys.begin() + size_t(i + 1) * kl, lastRight, lastRight + kl);
            parent.recnos.insert(parent.recnos.begin() + i + 1, right.recnos.back());
            parent.children.insert(parent.children.begin() + i + 1, rightOffset);
            return Store(tag, path, level - 1, parent);
        }
    }
    return Err::CorruptIndex;
}

Err CdxFile::Insert(CdxTag& tag, const uint8_t* key, uint32_t recno)
{
    TreePath path;
    Node leaf;
    if (Err e = Descend(tag, key, recno, path, leaf); e != Err::Ok)
        return e;
    int pos = LowerBound(leaf.keys, leaf.recnos, tag.keyLength, key, recno);
    if (pos < leaf.Count()
        && CompareEntry(&leaf.keys[size_t(pos) * tag.keyLength], leaf.recnos[pos], key, recno, tag.keyLength) == 0)
        return Err::Ok;
    leaf.keys.insert(leaf.keys.begin() + size_t(pos) * tag.keyLength, key, key + tag.keyLength);
    leaf.recnos.insert(leaf.recnos.begin() + pos, recno);
    ++generation_;
    return Store(tag, path, static_cast<int>(path.nodes.size()) - 1, leaf);
}

// Takes the emptied node at `level` out of its level and out of its parent.
Err CdxFile::Unlink(CdxTag& tag, TreePath& path, int level)
{
    const int kl = tag.keyLength;
    Node node;
    if (Err e = ReadNode(path.nodes[level], kl, tag.fill, node); e != Err::Ok)
        return e;
    if (Err e = SetSiblingLink(node.left, false, node.right); e != Err::Ok)
        return e;
    if (Err e = SetSiblingLink(node.right, true, node.left); e != Err::Ok)
        return e;
    Node parent;
    uint32_t parentOffset = path.nodes[level - 1];
    if (Err e = ReadNode(parentOffset, kl, tag.fill, parent); e != Err::Ok)
        return e;
    int i = path.index[level - 1];
    if (i >= parent.Count())
        return Err::CorruptIndex;
    bool wasLast = i == parent.Count() - 1;
    parent.keys.erase(parent.keys.begin() + size_t(i) * kl, parent.keys.begin() + size_t(i + 1) * kl);
    parent.recnos.erase(parent.recnos.begin() + i);
    parent.children.erase(parent.children.begin() + i);
    if (parent.Count() == 0) {
        if (level - 1 == 0) {
            Node empty;
            empty.attr = 3;
            return WriteNode(parentOffset, kl, tag.fill, empty);
        }
        return Unlink(tag, path, level - 1);
    }
    if (Err e = WriteNode(parentOffset, kl, tag.fill, parent); e != Err::Ok)
        return e;
    if (wasLast && level - 1 > 0)
        return SetParentKey(tag, path, level - 2, &parent.keys[size_t(parent.Count() - 1) * kl], parent.recnos.back());
    return Err::Ok;
}

Err CdxFile::Remove(CdxTag& tag, const uint8_t* key, uint32_t recno)
{
    TreePath path;
    Node leaf;
    if (Err e = Descend(tag, key, recno, path, leaf); e != Err::Ok)
        return e;
    int pos = LowerBound(leaf.keys, leaf.recnos, tag.keyLength, key, recno);
    if (pos >= leaf.Count()
        || CompareEntry(&leaf.keys[size_t(pos) * tag.keyLength], leaf.recnos[pos], key, recno, tag.keyLength) != 0)
        return Err::Ok; // not there: nothing to take out
    ++generation_;
    bool wasLast = pos == leaf.Count() - 1;
    leaf.keys.erase(leaf.keys.begin() + size_t(pos) * tag.keyLength,
                    leaf.keys.begin() + size_t(pos + 1) * tag.keyLength);
    leaf.recnos.erase(leaf.recnos.begin() + pos);
    int level = static_cast<int>(path.nodes.size()) - 1;
    if (leaf.Count() == 0 && level > 0)
        return Unlink(tag, path, level);
    if (Err e = WriteNode(path.nodes[level], tag.keyLength, tag.fill, leaf); e != Err::Ok)
        return e;
    if (wasLast && level > 0 && leaf.Count() > 0)
        return SetParentKey(tag, path, level - 1, &leaf.keys[size_t(leaf.Count() - 1) * tag.keyLength],
                            leaf.recnos.back());
    return Err::Ok;
}

Err CdxFile::LoadPosition(const CdxTag& tag, uint32_t leafOffset, CdxPosition& pos)
{
    Node n;
    if (Err e = ReadNode(leafOffset, tag.keyLength, tag.fill, n); e != Err::Ok)
        return e;
    if (!n.Leaf())
        return Err::CorruptIndex;
    pos.leaf = leafOffset;
    pos.keyLength = tag.keyLength;
    pos.left = n.left;
    pos.right = n.right;
    pos.keys = std::move(n.keys);
    pos.recnos = std::move(n.recnos);
    return Err::Ok;
}

Err CdxFile::Find(const CdxTag& tag, const uint8_t* key, uint32_t recno, CdxPosition& pos)
{
    TreePath path;
    Node leaf;
    pos = CdxPosition{};
    if (Err e = Descend(tag, key, recno, path, leaf); e != Err::Ok)
        return e;
    if (Err e = LoadPosition(tag, path.nodes.back(), pos); e != Err::Ok)
        return e;
    pos.index = LowerBound(pos.keys, pos.recnos, tag.keyLength, key, recno);
    if (pos.index >= static_cast<int>(pos.recnos.size())) {
        pos.index = static_cast<int>(pos.recnos.size()) - 1;
        return Next(tag, pos);
    }
    return Err::Ok;
}

Err CdxFile::First(const CdxTag& tag, CdxPosition& pos)
{
    uint32_t offset = tag.root;
    Node n;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            return Err::CorruptIndex;
        if (Err e = ReadNode(offset, tag.keyLength, tag.fill, n); e != Err::Ok)
            return e;
        if (n.Leaf())
            break;
        if (n.Count() == 0)
            return Err::CorruptIndex;
        offset = n.children.front();
    }
    if (Err e = LoadPosition(tag, offset, pos); e != Err::Ok)
        return e;
    pos.index = -1;
    return Next(tag, pos);
}

Err CdxFile::Last(const CdxTag& tag, CdxPosition& pos)
{
    uint32_t offset = tag.root;
    Node n;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            return Err::CorruptIndex;
        if (Err e = ReadNode(offset, tag.keyLength, tag.fill, n); e != Err::Ok)
            return e;
        if (n.Leaf())
            break;
        if (n.Count() == 0)
            return Err::CorruptIndex;
        offset = n.children.back();
    }
    if (Err e = LoadPosition(tag, offset, pos); e != Err::Ok)
        return e;
    pos.index = static_cast<int>(pos.recnos.size());
    return Prev(tag, pos);
}

// Moving to a sibling checks that the order goes on rising (falling), so that a damaged sibling
// chain cannot send a scan round in circles.
Err CdxFile::Next(const CdxTag& tag, CdxPosition& pos)
{
    if (pos.leaf == kCdxNone)
        return Err::Ok;
    if (++pos.index < static_cast<int>(pos.recnos.size()))
        return Err::Ok;
    std::vector<uint8_t> lastKey;
    uint32_t lastRecno = 0;
    bool haveLast = !pos.recnos.empty();
    if (haveLast) {
        lastKey.assign(pos.keys.end() - tag.keyLength, pos.keys.end());
        lastRecno = pos.recnos.back();
    }
    for (size_t steps = 0; pos.right != kCdxNone; ++steps) {
        if (steps > size_ / kCdxPage)
            return Err::CorruptIndex;
        if (Err e = LoadPosition(tag, pos.right, pos); e != Err::Ok)
            return e;
        if (pos.recnos.empty())
            continue;
        if (haveLast && CompareEntry(pos.keys.data(), pos.recnos[0], lastKey.data(), lastRecno, tag.keyLength) <= 0)
            return Err::CorruptIndex;
        pos.index = 0;
        return Err::Ok;
    }
    pos = CdxPosition{};
    return Err::Ok;
}

Err CdxFile::Prev(const CdxTag& tag, CdxPosition& pos)
{
    if (pos.leaf == kCdxNone)
        return Err::Ok;
    if (--pos.index >= 0 && !pos.recnos.empty())
        return Err::Ok;
    std::vector<uint8_t> firstKey;
    uint32_t firstRecno = 0;
    bool haveFirst = !pos.recnos.empty();
    if (haveFirst) {
        firstKey.assign(pos.keys.begin(), pos.keys.begin() + tag.keyLength);
        firstRecno = pos.recnos[0];
    }
    for (size_t steps = 0; pos.left != kCdxNone; ++steps) {
        if (steps > size_ / kCdxPage)
            return Err::CorruptIndex;
        if (Err e = LoadPosition(tag, pos.left, pos); e != Err::Ok)
            return e;
        if (pos.recnos.empty())
            continue;
        if (haveFirst
            && CompareEntry(pos.keys.data() + pos.keys.size() - tag.keyLength, pos.recnos.back(), firstKey.data(),
                            firstRecno, tag.keyLength)
                   >= 0)
            return Err::CorruptIndex;
        pos.index = static_cast<int>(pos.recnos.size()) - 1;
        return Err::Ok;
    }
    pos = CdxPosition{};
    return Err::Ok;
}

Err CdxFile::CountKeys(const CdxTag& tag, const uint8_t* key, uint64_t& count)
{
    count = 0;
    KeyCount c{tag, key, 0, size_ / kCdxPage + 1};
    if (Err e = CountBelow(c, tag.root, 0, !key, !key); e != Err::Ok)
        return e;
    count = c.count;
    return Err::Ok;
}

Err CdxFile::CountBelow(KeyCount& c, uint32_t offset, int depth, bool lowIsKey, bool highIsKey)
{
    if (depth > kMaxDepth || c.pagesLeft == 0)
        return Err::CorruptIndex;
    --c.pagesLeft;
    const int kl = c.tag.keyLength;
    const bool whole = !c.key || (lowIsKey && highIsKey);
    const uint8_t* p;
    if (Err e = ReadPage(offset, p); e != Err::Ok)
        return e;
    if (whole) {
        bool leaf = false;
        if (Err e = CountLeafHeader(c, p, leaf); e != Err::Ok || leaf)
            return e;
    }
    Node n;
    if (Err e = ReadNode(offset, kl, c.tag.fill, n); e != Err::Ok)
        return e;
    if (n.Leaf()) {
        for (int i = 0; i < n.Count(); ++i)
            if (memcmp(&n.keys[size_t(i) * kl], c.key, kl) == 0)
                ++c.count;
        return Err::Ok;
    }
    // Child i holds the entries above child i-1's last one, up to its own last one (its key here).
    auto wholeChild = [&](int i) {
        if (whole)
            return true;
        const uint8_t* high = &n.keys[size_t(i) * kl];
        bool low = i == 0 ? lowIsKey : memcmp(high - kl, c.key, kl) == 0;
        return low && memcmp(high, c.key, kl) == 0;
    };
    constexpr int kRunPages = 64;
    for (int i = 0; i < n.Count(); ++i) {
        const uint8_t* high = &n.keys[size_t(i) * kl];
        bool low = i == 0 ? lowIsKey : c.key && memcmp(high - kl, c.key, kl) == 0;
        if (c.key) {
            if (memcmp(high, c.key, kl) < 0)
                continue; // all below the key
            if (i > 0 && memcmp(high - kl, c.key, kl) > 0)
                break; // all above it
        }
        // Whole children that lie one after the other on disk (as a build lays out leaves) are read
        // in one go, past the page cache: only their headers are wanted.
        int j = i;
        if (wholeChild(i)) {
            j = i + 1;
            while (j < n.Count() && j - i < kRunPages && n.children[j] == n.children[j - 1] + kCdxPage && wholeChild(j))
                ++j;
        }
        if (j - i > 1 && n.children[i] % kCdxPage == 0 && n.children[i] >= 1024
            && n.children[j - 1] + uint64_t(kCdxPage) <= size_) {
            size_t bytes = size_t(j - i) * kCdxPage;
            std::vector<uint8_t> run(bytes); // its own: an interior child read here is walked below
            if (file_.ReadSome(n.children[i], run.data(), bytes) != bytes)
                return Err::FileRead;
            for (int k = i; k < j; ++k) {
                bool leaf = false;
                if (Err e = CountLeafHeader(c, run.data() + size_t(k - i) * kCdxPage, leaf); e != Err::Ok)
                    return e;
                if (leaf) {
                    if (c.pagesLeft == 0)
                        return Err::CorruptIndex;
                    --c.pagesLeft;
                } else if (Err e = CountBelow(c, n.children[k], depth + 1, true, true); e != Err::Ok) {
                    return e;
                }
            }
            i = j - 1;
            continue;
        }
        bool highKey = c.key && memcmp(high, c.key, kl) == 0;
        if (Err e = CountBelow(c, n.children[i], depth + 1, whole || low, whole || highKey); e != Err::Ok)
            return e;
    }
    return Err::Ok;
}

Err CdxFile::CountLeafHeader(KeyCount& c, const uint8_t* page, bool& leaf)
{
    leaf = (Le16(page) & 2) != 0;
    if (!leaf)
        return Err::Ok;
    int count = Le16(page + 2), bytes = page[23];
    if (bytes < 1 || bytes > 8 || 24 + count * bytes > static_cast<int>(kCdxPage))
        return Err::CorruptIndex;
    c.count += static_cast<uint64_t>(count);
    return Err::Ok;
}

Err CdxFile::AddTag(CdxTag tag, KeySorter& keys, const Progress& progress)
{
    const int kl = tag.keyLength;
    if (!ValidTagName(tag.name))
        return Err::BadTagName;
    if (kl < 1 || kl > kMaxKeyLength || keys.KeyLength() != kl)
        return Err::KeyTooLong;
    if (tag.keyExpression.size() + tag.forExpression.size() + 2 > 512)
        return Err::BadArgument;
    for (char& c : tag.name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tag.options = static_cast<uint8_t>(0x60 | (tag.forExpression.empty() ? 0 : 0x08));

    // A tag built again keeps its header, and with it its place in the order of tags.
    int existing = FindTag(tag.name);
    tag.header = existing >= 0 ? tags_[existing].header : Allocate(1024);
    if (tag.header == kCdxNone)
        return Err::FileWrite;
    uint32_t maxRecno = keys.MaxRecno();
    uint64_t n = keys.Count();

    // Pages are laid out one after the other, so they are gathered and written in large blocks.
    std::vector<uint8_t> block;
    uint32_t blockStart = static_cast<uint32_t>(size_);
    auto emit = [&](const uint8_t* page) -> Err {
        if (size_ + 2 * kCdxPage >= kCdxNone)
            return Err::FileWrite;
        if (block.empty())
            blockStart = Allocate(0);
        block.insert(block.end(), page, page + kCdxPage);
        size_ += kCdxPage;
        if (block.size() >= (1u << 20)) {
            if (Err e = file_.WriteAt(blockStart, block.data(), block.size()); e != Err::Ok)
                return e;
            block.clear();
        }
        return Err::Ok;
    };
    auto nextOffset = [&]() { return static_cast<uint32_t>((size_ + kCdxPage - 1) / kCdxPage * kCdxPage); };

    struct Upper {
        std::vector<uint8_t> key;
        uint32_t recno;
        uint32_t child;
    };
    std::vector<Upper> level;
    LeafWriter writer(kl, tag.fill, maxRecno);
    uint32_t left = kCdxNone;
    uint64_t done = 0;
    int lastPercent = 50;
    // One key is read ahead: a leaf is finished when the next key does not fit, or when none is left.
    const uint8_t* key = nullptr;
    uint32_t recno = 0;
    bool more = false;
    if (Err e = keys.Next(key, recno, more); e != Err::Ok)
        return e;
    std::vector<uint8_t> lastKey(kl);
    uint32_t lastRecno = 0;
    while (true) {
        writer.Reset();
        while (more && writer.Add(key, recno)) {
            memcpy(lastKey.data(), key, kl);
            lastRecno = recno;
            ++done;
            if (Err e = keys.Next(key, recno, more); e != Err::Ok)
                return e;
        }
        if (writer.Count() == 0 && more)
            return Err::KeyTooLong;
        uint32_t here = nextOffset();
        bool last = !more;
        bool only = last && left == kCdxNone;
        if (Err e = emit(writer.Finish(static_cast<uint16_t>(only ? 3 : 2), left, last ? kCdxNone : here + kCdxPage));
            e != Err::Ok)
            return e;
        if (writer.Count() > 0)
            level.push_back(Upper{lastKey, lastRecno, here});
        left = here;
        if (progress && n) {
            int percent = 50 + static_cast<int>(40.0 * done / n);
            if (percent != lastPercent)
                progress(lastPercent = percent);
        }
        if (last)
            break;
    }
    uint32_t root = left;
    if (!level.empty() && level.size() == 1)
        root = level[0].child;
    int capacity = InteriorCapacity(kl);
    while (level.size() > 1) {
        std::vector<Upper> above;
        size_t chunks = (level.size() + capacity - 1) / capacity;
        uint32_t prev = kCdxNone;
        for (size_t c = 0; c < chunks; ++c) {
            Node node;
            node.attr = chunks == 1 ? 1 : 0;
            size_t from = c * capacity, to = std::min(level.size(), from + capacity);
            for (size_t j = from; j < to; ++j) {
                node.keys.insert(node.keys.end(), level[j].key.begin(), level[j].key.end());
                node.recnos.push_back(level[j].recno);
                node.children.push_back(level[j].child);
            }
            uint32_t here = nextOffset();
            node.left = prev;
            node.right = c + 1 < chunks ? here + kCdxPage : kCdxNone;
            uint8_t page[kCdxPage] = {};
            PutLe16(page, node.attr);
            PutLe16(page + 2, static_cast<uint16_t>(node.Count()));
            PutLe32(page + 4, node.left);
            PutLe32(page + 8, node.right);
            for (int k = 0; k < node.Count(); ++k) {
                uint8_t* e = page + 12 + k * (kl + 8);
                memcpy(e, &node.keys[size_t(k) * kl], kl);
                PutBe32(e + kl, node.recnos[k]);
                PutBe32(e + kl + 4, node.children[k]);
            }
            if (Err e = emit(page); e != Err::Ok)
                return e;
            above.push_back(
                Upper{std::vector<uint8_t>(node.keys.end() - kl, node.keys.end()), node.recnos.back(), here});
            prev = here;
        }
        level = std::move(above);
        root = level[0].child;
    }
    if (!block.empty())
        if (Err e = file_.WriteAt(blockStart, block.data(), block.size()); e != Err::Ok)
            return e;
    tag.root = root;
    if (Err e = WriteTagHeader(tag); e != Err::Ok)
        return e;
    if (existing >= 0) {
        tags_[existing] = tag;
        return Touch();
    }
    std::string name = PaddedName(tag.name);
    if (Err e = Insert(directory_, reinterpret_cast<const uint8_t*>(name.data()), tag.header); e != Err::Ok)
        return e;
    tags_.push_back(tag);
    std::sort(tags_.begin(), tags_.end(), [](const CdxTag& a, const CdxTag& b) { return a.header < b.header; });
    if (progress)
        progress(100);
    return Touch();
}

} // namespace zn::xbase
