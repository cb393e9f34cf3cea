// Keys of an index build put in (key, record number) order within a bounded amount of memory:
// runs are sorted in memory and, once the keys outgrow it, written to a temporary file and merged.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "xbase_common.h"
#include "xbase_file.h"

namespace zn::xbase {

// Anonymous memory of a fixed capacity taken straight from the kernel: a page counts towards the
// process's memory only once touched, and all of it goes back when the array is freed (a heap
// keeps large freed blocks and the process stays big after an index build).
void* MapPages(size_t bytes); // null when the kernel refuses
void UnmapPages(void* p, size_t bytes);
void DiscardPages(void* p, size_t bytes);

template <typename T>
class PageArray {
public:
    PageArray() = default;
    explicit PageArray(size_t capacity)
        : data_(capacity ? static_cast<T*>(MapPages(capacity * sizeof(T))) : nullptr), capacity_(capacity)
    {
    }
    ~PageArray()
    {
        if (data_)
            UnmapPages(data_, capacity_ * sizeof(T));
    }
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    PageArray(PageArray&& other) noexcept { Swap(other); }
    PageArray& operator=(PageArray&& other) noexcept
    {
        Swap(other);
        return *this;
    }

    bool Ok() const { return capacity_ == 0 || data_ != nullptr; }
    T* Data() { return data_; }
    const T* Data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t Capacity() const { return capacity_; }
    // Hands the touched pages back while keeping the range.
    void Discard()
    {
        if (data_)
            DiscardPages(data_, capacity_ * sizeof(T));
    }

private:
    void Swap(PageArray& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
    }
    T* data_ = nullptr;
    size_t capacity_ = 0;
};

class KeySorter {
public:
    // folder: where a temporary file may go when the keys do not fit in memoryBytes. The default
    // keeps an index build, with the table pages it reads, well under 16 MB.
    static constexpr size_t kDefaultMemory = 4u << 20;
    KeySorter(int keyLength, const std::string& folder, size_t memoryBytes = kDefaultMemory);
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    int KeyLength() const { return keyLength_; }
    [[nodiscard]] Err Add(const uint8_t* key, uint32_t recno);
    // After the last Add; then Next hands the keys out in order.
    [[nodiscard]] Err Finish();
    // The next key (valid until the following call); more false past the last.
    [[nodiscard]] Err Next(const uint8_t*& key, uint32_t& recno, bool& more);
    uint64_t Count() const { return count_; }
    uint32_t MaxRecno() const { return maxRecno_; }

private:
    // The first bytes of a key held with it, so that most comparisons stay within the item.
    struct Item {
        uint64_t prefix[3];
        uint32_t index;
        uint32_t recno;
    };
    struct Run {
        uint64_t offset = 0;    // in the spill file
        uint64_t remaining = 0; // entries not yet read into the buffer
        std::vector<uint8_t> buffer;
        size_t position = 0, filled = 0; // entries
    };
    void SortRun();
    static_assert(sizeof(Item::prefix) == 24, "the sort compares three prefix words");
    [[nodiscard]] Err Spill();
    [[nodiscard]] Err Refill(Run& run);
    const uint8_t* Head(const Run& run) const { return run.buffer.data() + run.position * entrySize_; }
    bool Before(size_t a, size_t b) const; // run a's head before run b's
    void SiftDown(size_t at);

    int keyLength_;
    size_t entrySize_;   // key + record number in the spill file
    size_t runCapacity_; // entries sorted in memory at once
    std::string folder_;
    uint64_t count_ = 0;
    uint32_t maxRecno_ = 0;
    // One run in memory: its keys, record numbers, sort items and sorted order.
    [[nodiscard]] Err Allocate();
    size_t held_ = 0; // keys in the current run
    PageArray<uint8_t> keys_;
    PageArray<uint32_t> recnos_;
    PageArray<Item> items_;
    PageArray<uint32_t> order_; // indices into keys_/recnos_, sorted
    size_t sorted_ = 0;         // entries of order_ in use
    size_t cursor_ = 0;
    File spill_;
    uint64_t spillEnd_ = 0;
    std::vector<Run> runs_;
    std::vector<size_t> heap_;     // runs with entries left, smallest head first
    std::vector<uint8_t> current_; // the key handed out by Next when merging
};

} // namespace zn::xbase
