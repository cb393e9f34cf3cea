#include "xbase_sort.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace zn::xbase {

namespace {

constexpr int kPrefix = 24;
constexpr size_t kRunBuffer = 1 << 16;

int CompareEntry(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, int keyLength)
{
    int c = memcmp(a, b, keyLength);
    if (c)
        return c;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

} // namespace

void* MapPages(size_t bytes)
{
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void UnmapPages(void* p, size_t bytes) { munmap(p, bytes); }

void DiscardPages(void* p, size_t bytes) { madvise(p, bytes, MADV_DONTNEED); }

KeySorter::KeySorter(int keyLength, const std::string& folder, size_t memoryBytes)
    : keyLength_(keyLength), entrySize_(keyLength + 4), folder_(folder)
{
    // Per key: its bytes, its record number, a sort item and its place in the order.
    runCapacity_ = std::max<size_t>(1024, memoryBytes / (keyLength + 4 + sizeof(Item) + 4));
}

Err KeySorter::Allocate()
{
    keys_ = PageArray<uint8_t>(runCapacity_ * keyLength_);
    recnos_ = PageArray<uint32_t>(runCapacity_);
    items_ = PageArray<Item>(runCapacity_);
    order_ = PageArray<uint32_t>(runCapacity_);
    return keys_.Ok() && recnos_.Ok() && items_.Ok() && order_.Ok() ? Err::Ok : Err::OutOfMemory;
}

Err KeySorter::Add(const uint8_t* key, uint32_t recno)
{
    if (!keys_.Data())
        if (Err e = Allocate(); e != Err::Ok)
            return e;
    if (held_ >= runCapacity_)
        if (Err e = Spill(); e != Err::Ok)
            return e;
    memcpy(keys_.Data() + held_ * keyLength_, key, keyLength_);
    recnos_[held_++] = recno;
    maxRecno_ = std::max(maxRecno_, recno);
    ++count_;
    return Err::Ok;
}

void KeySorter::SortRun()
{
    const int kl = keyLength_;
    const uint8_t* keys = keys_.Data();
    Item* items = items_.Data();
    for (size_t i = 0; i < held_; ++i) {
        Item& item = items[i];
        const uint8_t* k = keys + i * kl;
        for (int w = 0; w < kPrefix / 8; ++w) {
            uint64_t v = 0;
            for (int b = w * 8; b < w * 8 + 8; ++b)
                v = (v << 8) | (b < kl ? k[b] : 0);
            item.prefix[w] = v;
        }
        item.index = static_cast<uint32_t>(i);
        item.recno = recnos_[i];
    }
    std::sort(items, items + held_, [keys, kl](const Item& a, const Item& b) {
        for (int w = 0; w < kPrefix / 8; ++w)
            if (a.prefix[w] != b.prefix[w])
                return a.prefix[w] < b.prefix[w];
        if (kl > kPrefix) {
            int c = memcmp(keys + size_t(a.index) * kl + kPrefix, keys + size_t(b.index) * kl + kPrefix, kl - kPrefix);
            if (c)
                return c < 0;
        }
        return a.recno < b.recno;
    });
    for (size_t i = 0; i < held_; ++i)
        order_[i] = items[i].index;
    sorted_ = held_;
    cursor_ = 0;
}

Err KeySorter::Spill()
{
    if (!spill_.IsOpen())
        if (Err e = spill_.OpenTemporary(folder_); e != Err::Ok)
            return e;
    SortRun();
    std::vector<uint8_t> block;
    block.reserve(std::min(sorted_ * entrySize_, size_t(1) << 22));
    Run run;
    run.offset = spillEnd_;
    run.remaining = sorted_;
    for (size_t i = 0; i < sorted_; ++i) {
        uint32_t index = order_[i];
        const uint8_t* k = keys_.Data() + size_t(index) * keyLength_;
        block.insert(block.end(), k, k + keyLength_);
        uint32_t r = recnos_[index];
        uint8_t b[4] = {uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24)};
        block.insert(block.end(), b, b + 4);
        if (block.size() >= (1u << 22)) {
            if (Err e = spill_.WriteAt(spillEnd_, block.data(), block.size()); e != Err::Ok)
                return e;
            spillEnd_ += block.size();
            block.clear();
        }
    }
    if (Err e = spill_.WriteAt(spillEnd_, block.data(), block.size()); e != Err::Ok)
        return e;
    spillEnd_ += block.size();
    runs_.push_back(std::move(run));
    held_ = sorted_ = 0;
    return Err::Ok;
}

Err KeySorter::Refill(Run& run)
{
    size_t entries = static_cast<size_t>(std::min<uint64_t>(run.remaining, kRunBuffer / entrySize_ + 1));
    run.buffer.resize(entries * entrySize_);
    if (entries && spill_.ReadAt(run.offset, run.buffer.data(), run.buffer.size()) != Err::Ok)
        return Err::FileRead;
    run.offset += run.buffer.size();
    run.remaining -= entries;
    run.position = 0;
    run.filled = entries;
    return Err::Ok;
}

bool KeySorter::Before(size_t a, size_t b) const
{
    const uint8_t* x = Head(runs_[a]);
    const uint8_t* y = Head(runs_[b]);
    return CompareEntry(x, Le32(x + keyLength_), y, Le32(y + keyLength_), keyLength_) < 0;
}

void KeySorter::SiftDown(size_t at)
{
    size_t n = heap_.size();
    while (true) {
        size_t smallest = at, l = 2 * at + 1, r = l + 1;
        if (l < n && Before(heap_[l], heap_[smallest]))
            smallest = l;
        if (r < n && Before(heap_[r], heap_[smallest]))
            smallest = r;
        if (smallest == at)
            return;
        std::swap(heap_[at], heap_[smallest]);
        at = smallest;
    }
}

Err KeySorter::Finish()
{
    if (runs_.empty()) {
        SortRun();
        return Err::Ok;
    }
    if (held_)
        if (Err e = Spill(); e != Err::Ok)
            return e;
    // Only the merge's buffers are needed from here on.
    keys_ = {};
    recnos_ = {};
    items_ = {};
    order_ = {};
    for (size_t i = 0; i < runs_.size(); ++i) {
        if (Err e = Refill(runs_[i]); e != Err::Ok)
            return e;
        if (runs_[i].filled)
            heap_.push_back(i);
    }
    for (size_t i = heap_.size(); i-- > 0;)
        SiftDown(i);
    current_.resize(keyLength_);
    return Err::Ok;
}

Err KeySorter::Next(const uint8_t*& key, uint32_t& recno, bool& more)
{
    if (runs_.empty()) {
        more = cursor_ < sorted_;
        if (!more)
            return Err::Ok;
        // Keys are visited in sorted order, scattered over the key list: fetch ahead.
        if (cursor_ + 16 < sorted_)
            __builtin_prefetch(keys_.Data() + size_t(order_[cursor_ + 16]) * keyLength_);
        uint32_t index = order_[cursor_++];
        key = keys_.Data() + size_t(index) * keyLength_;
        recno = recnos_[index];
        return Err::Ok;
    }
    more = !heap_.empty();
    if (!more)
        return Err::Ok;
    Run& run = runs_[heap_[0]];
    const uint8_t* head = Head(run);
    memcpy(current_.data(), head, keyLength_);
    recno = Le32(head + keyLength_);
    key = current_.data();
    if (++run.position == run.filled) {
        if (Err e = Refill(run); e != Err::Ok)
            return e;
        if (run.filled == 0) {
            heap_[0] = heap_.back();
            heap_.pop_back();
        }
    }
    if (!heap_.empty())
        SiftDown(0);
    return Err::Ok;
}

} // namespace zn::xbase
