// Compound index file in the compact format: a tag directory and one B+tree per tag, 512-byte
// pages, compressed leaves. Keys are fixed-length byte strings ordered by (key, record number).
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "xbase_common.h"
#include "xbase_file.h"

namespace zn::xbase {

class KeySorter;

constexpr uint32_t kCdxPage = 512;
constexpr uint32_t kCdxNone = 0xFFFFFFFF;
constexpr int kMaxKeyLength = 240;

struct CdxTag {
    std::string name;    // upper case, at most 10 characters
    uint32_t header = 0; // offset of the tag's 1024-byte header
    uint32_t root = 0;
    int keyLength = 0;
    uint8_t options = 0x60;
    bool descending = false;
    std::string keyExpression;
    std::string forExpression;
    uint8_t fill = 0x20; // 0x20 for character keys, 0 for the others
};

// A decoded leaf and a place in it; the caller re-finds its place after the tree changed.
struct CdxPosition {
    uint32_t leaf = kCdxNone;
    int index = 0;
    int keyLength = 0;
    uint32_t left = kCdxNone, right = kCdxNone;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> recnos;
    bool Valid() const { return leaf != kCdxNone && index >= 0 && index < static_cast<int>(recnos.size()); }
    const uint8_t* Key() const { return keys.data() + size_t(index) * keyLength; }
    uint32_t Recno() const { return recnos[index]; }
};

using Progress = std::function<void(int percent)>;

// Key bytes of typed values, ordered by memcmp.
void NumberKey(double value, uint8_t* out); // 8 bytes

class CdxFile {
public:
    CdxFile() = default;
    ~CdxFile() { Close(); }
    CdxFile(const CdxFile&) = delete;
    CdxFile& operator=(const CdxFile&) = delete;

    static constexpr uint64_t kIndexLockOffset = 0x7FFFFFFE;

    // A new index without tags under path; FileOpen when a file of that name exists already (made by
    // another process meanwhile: open that one instead).
    [[nodiscard]] static Err CreateEmpty(const std::string& path);
    // Writes an index without tags into an empty open file.
    [[nodiscard]] static Err WriteEmpty(File& file);
    [[nodiscard]] Err Open(const std::string& path, bool write, bool shared, int lockTimeoutSeconds = 1);
    // Opens the index in a file already open (a replacement being written, used alone).
    [[nodiscard]] Err Open(File file);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }
    bool Writable() const { return file_.Writable(); }
    const std::string& Path() const { return file_.Path(); }

    // Tags in the order they were built (their headers' order in the file).
    std::vector<CdxTag>& Tags() { return tags_; }
    int FindTag(const std::string& name) const; // -1 when absent

    // Shared access: the index lock around every read and write, and a change counter telling the
    // holder whether pages it keeps are still current. Without sharing these do no locking.
    // `optimistic` (a read): when the header shows no write in progress and no write since the
    // pages held were read, no lock is taken; a page that is not held is then read under the lock,
    // and if the index changed meanwhile the reading operation gets IndexChanged and must start
    // again (its positions are stale).
    [[nodiscard]] Err Acquire(bool write, int timeoutSeconds, bool optimistic = false);
    void Release();
    // While a write is in progress the file carries a mark, so that an index left half-written by a
    // crash is recognised and rebuilt instead of trusted.
    [[nodiscard]] Err BeginWrite();
    [[nodiscard]] Err EndWrite();
    // Ends a write as EndWrite does, durably: the pages reach the disk before the mark is cleared,
    // and the cleared mark before it returns. Pages written and already ended are synced too.
    [[nodiscard]] Err Commit();
    // Bumped whenever the trees may have changed; positions taken before must be re-found.
    uint64_t Generation() const { return generation_; }
    // The header's write counter as this handle last read it (or wrote it).
    uint32_t Counter() const { return counter_; }
    // Shared: whether the file is as this handle last read it — no write in progress, none since —
    // told by the header page mapped into memory, without a system call. Always so when not shared.
    bool Unchanged() const;
    // Outside Acquire/Release: `counter` is the write counter the file holds now, with no write in
    // progress; when the file changed since it was last read, its header is read again under the
    // lock (one try: a writer at work gives LockTimeout). Inside: IndexChanged unless Unchanged().
    // Every write through a shared index bumps the counter, the table's records and count included,
    // so what was read while the counter had a value is still current while it keeps it.
    [[nodiscard]] Err Settle(uint32_t& counter);

    [[nodiscard]] Err Insert(CdxTag& tag, const uint8_t* key, uint32_t recno);
    [[nodiscard]] Err Remove(CdxTag& tag, const uint8_t* key, uint32_t recno);
    // First entry >= (key, recno); invalid position past the end.
    [[nodiscard]] Err Find(const CdxTag& tag, const uint8_t* key, uint32_t recno, CdxPosition& pos);
    [[nodiscard]] Err First(const CdxTag& tag, CdxPosition& pos);
    [[nodiscard]] Err Last(const CdxTag& tag, CdxPosition& pos);
    [[nodiscard]] Err Next(const CdxTag& tag, CdxPosition& pos);
    [[nodiscard]] Err Prev(const CdxTag& tag, CdxPosition& pos);
    // Entries of the tag whose key is `key` (every entry when key is null). The tree is walked
    // from the root: a leaf that holds nothing but that key (its bounds in the parent say so) is
    // counted from its header, only the leaves at the ends of the run are decoded.
    [[nodiscard]] Err CountKeys(const CdxTag& tag, const uint8_t* key, uint64_t& count);

    // Bulk-builds a tag from the sorted keys and adds it to the directory; a tag of that name is
    // replaced in its place. progress gets 50..100 for the sorting and writing.
    [[nodiscard]] Err AddTag(CdxTag tag, KeySorter& keys, const Progress& progress);

private:
    struct Node {
        uint16_t attr = 0;
        uint32_t left = kCdxNone, right = kCdxNone;
        std::vector<uint8_t> keys;
        std::vector<uint32_t> recnos;
        std::vector<uint32_t> children; // interior nodes only
        bool Leaf() const { return (attr & 2) != 0; }
        int Count() const { return static_cast<int>(recnos.size()); }
    };
    struct TreePath {
        std::vector<uint32_t> nodes; // root first
        std::vector<int> index;      // child chosen in each interior node
    };

    // CountKeys' walk below one node; lowIsKey / highIsKey: the node's bounds in its parent are the
    // key counted (every entry is counted when both are).
    struct KeyCount {
        const CdxTag& tag;
        const uint8_t* key;
        uint64_t count = 0;
        uint64_t pagesLeft; // a damaged tree that reaches a page twice runs out of these
    };
    // Adds a leaf's key count from its header; false when the page is no leaf.
    [[nodiscard]] static Err CountLeafHeader(KeyCount& c, const uint8_t* page, bool& leaf);
    [[nodiscard]] Err CountBelow(KeyCount& c, uint32_t offset, int depth, bool lowIsKey, bool highIsKey);
    [[nodiscard]] Err LoadTags();
    [[nodiscard]] Err ReadTagHeader(uint32_t offset, CdxTag& tag);
    [[nodiscard]] Err WriteTagHeader(const CdxTag& tag);
    [[nodiscard]] Err ReadPage(uint32_t offset, const uint8_t*& page);
    [[nodiscard]] Err WritePage(uint32_t offset, const uint8_t* page);
    [[nodiscard]] Err ReadNode(uint32_t offset, int keyLength, uint8_t fill, Node& node);
    [[nodiscard]] Err WriteNode(uint32_t offset, int keyLength, uint8_t fill, const Node& node);
    [[nodiscard]] Err SetSiblingLink(uint32_t offset, bool leftLink, uint32_t value);
    uint32_t Allocate(uint32_t bytes = kCdxPage);
    [[nodiscard]] Err Descend(const CdxTag& tag, const uint8_t* key, uint32_t recno, TreePath& path, Node& leaf);
    [[nodiscard]] Err Store(CdxTag& tag, TreePath& path, int level, Node& node);
    [[nodiscard]] Err SetParentKey(CdxTag& tag, TreePath& path, int level, const uint8_t* key, uint32_t recno);
    [[nodiscard]] Err Unlink(CdxTag& tag, TreePath& path, int level);
    [[nodiscard]] Err LoadPosition(const CdxTag& tag, uint32_t leaf, CdxPosition& pos);
    [[nodiscard]] Err Touch();
    [[nodiscard]] Err WriteCounter();
    // Takes the lock for a holder that read without it and checks the header; IndexChanged when a
    // write came between.
    [[nodiscard]] Err LockAfterOptimisticRead(bool write);
    // Reads the header under the lock: a mark left by a dead writer, or a changed counter, which
    // drops the pages held and reloads the tags.
    [[nodiscard]] Err CheckHeader(bool first, bool& changed);

    File file_;
    const uint8_t* header_ = nullptr; // the first page, mapped (shared opens)
    bool shared_ = false;
    int lockDepth_ = 0;
    bool lockedWrite_ = false;
    bool optimistic_ = false; // held without the lock (see Acquire)
    int lockTimeoutSeconds_ = 1;
    bool dirty_ = false;
    bool unsynced_ = false;
    uint32_t counter_ = 0;
    uint64_t size_ = 0;
    uint64_t generation_ = 1;
    CdxTag directory_;
    std::vector<CdxTag> tags_;
    std::unordered_map<uint32_t, std::array<uint8_t, kCdxPage>> cache_;
};

} // namespace zn::xbase
