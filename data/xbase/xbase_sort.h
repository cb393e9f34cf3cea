// Keys of an index build put in (key, record number) order within a bounded amount of memory:
// runs are sorted in memory and, once the keys outgrow it, written to a temporary file and merged.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "xbase_common.h"
#include "xbase_file.h"

namespace zn::xbase {

class KeySorter {
 public:
  // folder: where a temporary file may go when the keys do not fit in memoryBytes.
  KeySorter(int keyLength, const std::string& folder, size_t memoryBytes = 16u << 20);
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  int KeyLength() const { return keyLength_; }
  // Room for the number of keys expected (no more than one run's worth is taken).
  void Reserve(uint64_t expected);
  [[nodiscard]] Err Add(const uint8_t* key, uint32_t recno);
  // After the last Add; then Next hands the keys out in order.
  [[nodiscard]] Err Finish();
  // The next key (valid until the following call); more false past the last.
  [[nodiscard]] Err Next(const uint8_t*& key, uint32_t& recno, bool& more);
  uint64_t Count() const { return count_; }
  uint32_t MaxRecno() const { return maxRecno_; }

 private:
  struct Item;
  struct Run {
    uint64_t offset = 0;        // in the spill file
    uint64_t remaining = 0;     // entries not yet read into the buffer
    std::vector<uint8_t> buffer;
    size_t position = 0, filled = 0;  // entries
  };
  void SortRun();
  [[nodiscard]] Err Spill();
  [[nodiscard]] Err Refill(Run& run);
  const uint8_t* Head(const Run& run) const { return run.buffer.data() + run.position * entrySize_; }
  bool Before(size_t a, size_t b) const;  // run a's head before run b's
  void SiftDown(size_t at);

  int keyLength_;
  size_t entrySize_;       // key + record number in the spill file
  size_t runCapacity_;     // entries sorted in memory at once
  std::string folder_;
  uint64_t count_ = 0;
  uint32_t maxRecno_ = 0;
  std::vector<uint8_t> keys_;
  std::vector<uint32_t> recnos_;
  std::vector<uint32_t> order_;   // indices into keys_/recnos_, sorted
  size_t cursor_ = 0;
  File spill_;
  uint64_t spillEnd_ = 0;
  std::vector<Run> runs_;
  std::vector<size_t> heap_;      // runs with entries left, smallest head first
  std::vector<uint8_t> current_;  // the key handed out by Next when merging
};

} // namespace zn::xbase
