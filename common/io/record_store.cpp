#include "record_store.hpp"

#include <algorithm>
#include <cstring>

#include <sys/types.h>
#include <sys/mman.h>
#include <unistd.h>

namespace rg {

BlockFile::BlockFile(std::size_t block_bytes) : file_(std::tmpfile()), block_(block_bytes) {
  if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
}

void SharedView::reset() {
  if (map_) ::munmap(map_, length_);
  map_ = nullptr;
  data_ = nullptr;
  length_ = 0;
}

BlockFile::~BlockFile() {
  if (mapping_) ::munmap(mapping_, mapped_);
  if (file_) std::fclose(file_);
}

const unsigned char* BlockFile::map(std::int64_t offset, std::size_t n, void*& mapping, std::size_t& length) const {
  static const std::int64_t page = ::sysconf(_SC_PAGESIZE);
  const std::int64_t start = offset / page * page;
  length = static_cast<std::size_t>(offset - start) + n;
  void* p = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, ::fileno(file_), static_cast<off_t>(start));
  if (p == MAP_FAILED) {
    mapping = nullptr;
    return nullptr;
  }
  mapping = p;
  return static_cast<const unsigned char*>(p) + (offset - start);
}

void BlockFile::own() {
  if (!mapping_) return;
  std::memcpy(block_.data(), bytes_, block_.size());
  ::munmap(mapping_, mapped_);
  mapping_ = nullptr;
  bytes_ = block_.data();
}

bool BlockFile::flush() {
  if (!dirty_) return true;
  auto bsize = static_cast<std::int64_t>(block_.size());
  std::int64_t start = current_ * bsize;
  auto n = static_cast<std::size_t>(std::min(bsize, size_ - start));
  if (::fseeko(file_, static_cast<off_t>(start), SEEK_SET) != 0 || std::fwrite(block_.data(), 1, n, file_) != n) {
    failed_ = true;
    return false;
  }
  on_disk_ = std::max(on_disk_, start + static_cast<std::int64_t>(n));
  dirty_ = false;
  return true;
}

bool BlockFile::load(std::int64_t block) {
  if (block == current_) return true;
  if (!flush()) return false;
  if (mapping_) {
    ::munmap(mapping_, mapped_);
    mapping_ = nullptr;
  }
  current_ = -1;
  auto bsize = static_cast<std::int64_t>(block_.size());
  std::int64_t start = block * bsize;
  if (start + bsize <= on_disk_) {
    if (const unsigned char* p = map(start, block_.size(), mapping_, mapped_)) {
      bytes_ = const_cast<unsigned char*>(p);  // read only until own() replaces it
      current_ = block;
      return true;
    }
  }
  bytes_ = block_.data();
  std::size_t got = 0;
  if (start < on_disk_) {
    auto want = static_cast<std::size_t>(std::min(bsize, on_disk_ - start));
    if (::fseeko(file_, static_cast<off_t>(start), SEEK_SET) == 0) got = std::fread(block_.data(), 1, want, file_);
    if (got != want) {
      failed_ = true;
      return false;
    }
  }
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(got), block_.end(), 0);
  current_ = block;
  return true;
}

template <class Copy>
bool BlockFile::walk(std::int64_t offset, std::size_t n, bool writing, Copy copy) {
  auto bsize = static_cast<std::int64_t>(block_.size());
  std::size_t done = 0;
  while (done < n) {
    std::int64_t block = offset / bsize;
    if (!load(block)) return false;
    if (writing) own();
    auto within = static_cast<std::size_t>(offset - block * bsize);
    std::size_t take = std::min(n - done, block_.size() - within);
    copy(bytes_ + within, done, take);
    offset += static_cast<std::int64_t>(take);
    done += take;
  }
  return true;
}

bool BlockFile::write_at(std::int64_t offset, const void* data, std::size_t n) {
  if (!file_) return false;
  auto src = static_cast<const unsigned char*>(data);
  return walk(offset, n, true, [&](unsigned char* at, std::size_t done, std::size_t take) {
    std::memcpy(at, src + done, take);
    dirty_ = true;
    size_ = std::max(size_, offset + static_cast<std::int64_t>(done + take));
  });
}

bool BlockFile::read_at(std::int64_t offset, void* data, std::size_t n) {
  if (!file_ || offset < 0 || offset + static_cast<std::int64_t>(n) > size_) return false;
  auto dst = static_cast<unsigned char*>(data);
  return walk(offset, n, false, [&](const unsigned char* at, std::size_t done, std::size_t take) {
    std::memcpy(dst + done, at, take);
  });
}

const unsigned char* BlockFile::view(std::int64_t offset, std::size_t n) {
  if (!file_ || offset < 0 || offset + static_cast<std::int64_t>(n) > size_) return nullptr;
  auto bsize = static_cast<std::int64_t>(block_.size());
  std::int64_t block = offset / bsize;
  auto within = static_cast<std::size_t>(offset - block * bsize);
  if (within + n > block_.size() || !load(block)) return nullptr;
  return bytes_ + within;
}

bool BlockFile::settle(std::int64_t reach) {
  if (!file_) return false;
  // A file that stays within the first block never touches the disk; the block then
  // counts as changed, since the threads may write to it.
  resident_ = std::max(reach, size_) <= static_cast<std::int64_t>(block_.size());
  if (resident_) {
    if (!load(0)) return false;
    own();
    dirty_ = true;
    return true;
  }
  if (!flush()) return false;
  current_ = -1;
  return true;
}

bool BlockFile::view_shared(std::int64_t offset, std::size_t n, SharedView& view) {
  view.reset();
  if (!file_ || offset < 0 || offset + static_cast<std::int64_t>(n) > size_) return false;
  if (resident_) {
    view.data_ = block_.data() + offset;
    return true;
  }
  view.data_ = map(offset, n, view.map_, view.length_);
  return view.data_ != nullptr;
}

bool BlockFile::write_shared(std::int64_t offset, const void* data, std::size_t n) {
  if (!file_ || offset < 0) return false;
  auto src = static_cast<const unsigned char*>(data);
  if (resident_) {
    if (offset + static_cast<std::int64_t>(n) > static_cast<std::int64_t>(block_.size())) return false;
    std::memcpy(block_.data() + offset, src, n);
    return true;
  }
  const int fd = ::fileno(file_);
  while (n > 0) {
    const ssize_t put = ::pwrite(fd, src, n, static_cast<off_t>(offset));
    if (put <= 0) return false;
    src += put;
    offset += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

void BlockFile::grow(std::int64_t size) {
  size_ = std::max(size_, size);
  if (!resident_) on_disk_ = std::max(on_disk_, size);
}

bool RecordStore::write(std::int64_t recno, const void* data, std::size_t n) {
  if (recno < 1 || n > length_) return false;
  auto offset = (recno - 1) * static_cast<std::int64_t>(length_);
  if (!file_.write_at(offset, data, n)) return false;
  // Pad the record to its full length so that every record has the same size.
  if (n < length_) {
    if (zeros_.size() < length_) zeros_.assign(length_, 0);
    if (!file_.write_at(offset + static_cast<std::int64_t>(n), zeros_.data(), length_ - n)) return false;
  }
  count_ = std::max(count_, recno);
  return true;
}

bool RecordStore::read(std::int64_t recno, void* data, std::size_t n) {
  if (recno < 1 || recno > count_ || n > length_) return false;
  return file_.read_at((recno - 1) * static_cast<std::int64_t>(length_), data, n);
}

const unsigned char* RecordStore::view(std::int64_t recno, std::size_t n) {
  if (recno < 1 || recno > count_ || n > length_) return nullptr;
  return file_.view((recno - 1) * static_cast<std::int64_t>(length_), n);
}

bool RecordStore::view_run(std::int64_t first, std::int64_t count, SharedView& view) {
  if (first < 1 || count < 0 || first + count - 1 > count_) return false;
  const auto len = static_cast<std::int64_t>(length_);
  return file_.view_shared((first - 1) * len, static_cast<std::size_t>(count * len), view);
}

bool RecordStore::write_run(std::int64_t first, std::int64_t count, const void* data) {
  if (first < 1 || count < 0) return false;
  const auto len = static_cast<std::int64_t>(length_);
  return file_.write_shared((first - 1) * len, data, static_cast<std::size_t>(count * len));
}

void RecordStore::written_upto(std::int64_t last) {
  count_ = std::max(count_, last);
  file_.grow(last * static_cast<std::int64_t>(length_));
}

bool SequentialStore::write(const void* data, std::size_t n) {
  if (!file_.write_at(pos_, data, n)) return false;
  pos_ += static_cast<std::int64_t>(n);
  end_ = pos_;
  return true;
}

bool SequentialStore::read(void* data, std::size_t n) {
  if (pos_ + static_cast<std::int64_t>(n) > end_) return false;
  if (!file_.read_at(pos_, data, n)) return false;
  pos_ += static_cast<std::int64_t>(n);
  return true;
}

}  // namespace rg
