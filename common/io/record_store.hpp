#pragma once
// Anonymous scratch stores that vanish when closed. A fit streams them many times,
// so all access goes through one large in-memory block over a temporary file:
// consecutive records cost a memory copy, and only whole blocks touch the disk. A
// block that lies wholly in the file is read in place through a mapping of the file,
// since copying from the system's file cache costs more than the pass's arithmetic.
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <vector>

namespace rg {

// Bytes of a file in place for reading, held until destroyed or reset.
class SharedView {
 public:
  SharedView() = default;
  ~SharedView() { reset(); }
  SharedView(const SharedView&) = delete;
  SharedView& operator=(const SharedView&) = delete;
  const unsigned char* data() const { return data_; }
  void reset();

 private:
  friend class BlockFile;
  const unsigned char* data_ = nullptr;
  void* map_ = nullptr;  // the mapping, when the bytes are not in the block in memory
  std::size_t length_ = 0;
};

class BlockFile {
 public:
  explicit BlockFile(std::size_t block_bytes = std::size_t{1} << 20);
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  bool is_open() const { return file_ != nullptr; }
  // False when the bytes cannot be stored (disk full or other I/O failure).
  bool write_at(std::int64_t offset, const void* data, std::size_t n);
  // False when the range reaches beyond what was written.
  bool read_at(std::int64_t offset, void* data, std::size_t n);
  // The n written bytes at offset where they lie in the block in memory, or null
  // when they reach beyond what was written or across a block boundary (or cannot
  // be read). Valid until the next access to the file.
  const unsigned char* view(std::int64_t offset, std::size_t n);
  std::int64_t size() const { return size_; }
  // True once a transfer to or from the disk has failed.
  bool failed() const { return failed_; }

  // Access by several threads at once, each to its own byte ranges below `reach`:
  // settle(reach) keeps a file that fits in the block in memory and otherwise puts
  // the block on the disk and forgets it; from then until any other call only
  // view_shared and write_shared may be used, and grow() records how far the bytes
  // written by write_shared reach.
  bool settle(std::int64_t reach);
  bool view_shared(std::int64_t offset, std::size_t n, SharedView& view);
  bool write_shared(std::int64_t offset, const void* data, std::size_t n);
  void grow(std::int64_t size);

 private:
  bool load(std::int64_t block);
  // Maps n bytes of the file from offset; null when the system refuses.
  const unsigned char* map(std::int64_t offset, std::size_t n, void*& mapping, std::size_t& length) const;
  // Turns a mapped block into the block's own copy, before it is written.
  void own();
  // Visits the block pieces of a byte range: copy(block bytes, bytes done, length);
  // a writing visit gets the block's own copy.
  template <class Copy>
  bool walk(std::int64_t offset, std::size_t n, bool writing, Copy copy);
  bool flush();

  std::FILE* file_ = nullptr;
  std::vector<unsigned char> block_;
  unsigned char* bytes_ = nullptr;  // the current block: block_, or within the mapping
  void* mapping_ = nullptr;         // the file mapped for the current block, if it is
  std::size_t mapped_ = 0;
  std::int64_t current_ = -1;  // index of the block in memory
  bool dirty_ = false;
  std::int64_t size_ = 0;      // bytes written so far (logical end)
  std::int64_t on_disk_ = 0;   // bytes that have reached the file
  bool resident_ = false;      // settled in memory: shared access goes to the block
  bool failed_ = false;
};

// Direct-access store of fixed-length records addressed by number 1, 2, ...
class RecordStore {
 public:
  // Blocks hold whole records, so every record can be read where it lies.
  explicit RecordStore(std::size_t record_length)
      : length_(record_length), file_(record_length == 0 ? BLOCK_BYTES : whole_records(record_length)) {}
  bool is_open() const { return file_.is_open(); }
  std::size_t record_length() const { return length_; }
  // False when the record is longer than the record length or cannot be stored.
  bool write(std::int64_t recno, const void* data, std::size_t n);
  // False for a record number never written.
  bool read(std::int64_t recno, void* data, std::size_t n);
  // The first n bytes of record recno in place, without a copy; null for a record
  // never written or an I/O failure. Valid until the next access to the store.
  const unsigned char* view(std::int64_t recno, std::size_t n);
  std::int64_t count() const { return count_; }
  bool failed() const { return file_.failed(); }

  // Runs of whole records for passes split over threads: after settle(records),
  // view_run and write_run may be called from several threads, each for records of
  // its own among the first `records`, and written_upto(last) then records the
  // highest record number written that way.
  bool settle(std::int64_t records) { return file_.settle(records * static_cast<std::int64_t>(length_)); }
  bool view_run(std::int64_t first, std::int64_t count, SharedView& view);
  bool write_run(std::int64_t first, std::int64_t count, const void* data);
  void written_upto(std::int64_t last);

 private:
  static constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20;
  static std::size_t whole_records(std::size_t length) {
    return length * (BLOCK_BYTES > length ? BLOCK_BYTES / length : 1);
  }
  std::size_t length_;
  std::int64_t count_ = 0;
  std::vector<unsigned char> zeros_;
  BlockFile file_;
};

// Sequential store: bytes written one after the other and read back after rewind().
class SequentialStore {
 public:
  bool is_open() const { return file_.is_open(); }
  void rewind() { pos_ = 0; }
  // Writing truncates: what lay beyond the written bytes is gone.
  bool write(const void* data, std::size_t n);
  bool read(void* data, std::size_t n);

 private:
  std::int64_t pos_ = 0;
  std::int64_t end_ = 0;
  BlockFile file_;
};

}  // namespace rg
