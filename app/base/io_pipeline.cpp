#include "app/base/io_pipeline.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <utility>

#include "app/base/io.h"
#include "app/base/io_pipeline_test_hook.h"
#include "app/base/spare_list.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

// How much written data may still be on its way to the disk before the writer waits for it:
// enough to keep the disk busy, little enough that the final flush is short.
constexpr off_t kWriteBackWindow = off_t(8) << 20;

constexpr std::size_t kPoolBytes = IoPipeline::kBuffers * IoPipeline::kBufferSize;

// Up to four wiped pools outlive their jobs (see SpareList); never destroyed, since a job may
// still be ending on another thread while the program exits.
SpareList<void*, 4>& SparePools() {
  static auto* const pools = new SpareList<void*, 4>;
  return *pools;
}

void* TakePool() {
  if (const auto pool = SparePools().Take()) return *pool;
  void* pool =
      ::mmap(nullptr, kPoolBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pool == MAP_FAILED) throw std::bad_alloc();
  // The buffers hold plaintext: keep them out of core dumps.
  ::madvise(pool, kPoolBytes, MADV_DONTDUMP);
  return pool;
}

// pool must be wiped already.
void GivePool(void* pool) {
  if (!SparePools().Keep(pool)) ::munmap(pool, kPoolBytes);
}

// The error that every wait, and every flush, of write-back gives instead of its own, for tests;
// 0: none.
std::atomic<int> gFailedWait{0}, gFailedFlush{0};

}  // namespace

namespace test_hooks {
void FailWriteBack(int errnum, bool waits, bool flushes) {
  gFailedWait.store(waits ? errnum : 0);
  gFailedFlush.store(flushes ? errnum : 0);
}
}  // namespace test_hooks

IoPipeline::IoPipeline(int in, std::string inName, int out, std::string outName,
                       bool startWriteBack, std::size_t unit)
    : IoPipeline(in, std::move(inName), out, std::move(outName), nullptr, startWriteBack, unit) {}

IoPipeline::IoPipeline(int in, std::string inName, Sink sink, int out, std::string outName,
                       bool startWriteBack, std::size_t unit)
    : IoPipeline(in, std::move(inName), out, std::move(outName), std::move(sink), startWriteBack,
                 unit) {}

IoPipeline::IoPipeline(int in, std::string inName, int out, std::string outName, Sink sink,
                       bool startWriteBack, std::size_t unit)
    : in_(in),
      out_(out),
      inName_(std::move(inName)),
      outName_(std::move(outName)),
      sink_(std::move(sink)),
      writeBack_(startWriteBack) {
  memory_ = TakePool();
  for (std::size_t i = 0; i < kBuffers; ++i) free_.push_back(i);
  // A pipe or terminal is read and written on the caller's thread, a piece at a time: a read
  // that waits for more input then never keeps a failed or cancelled job from ending. So is a
  // file that one buffer holds, which threads would only slow down.
  struct stat st;
  const bool regular = ::fstat(in_, &st) == 0 && S_ISREG(st.st_mode);
  threaded_ = regular && st.st_size > off_t(kBufferSize);
  // Input that trickles in goes on in small pieces, as soon as each is complete.
  if (!regular) readSize_ = std::min(unit, kBufferSize);
  if (threaded_) ::posix_fadvise(in_, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A file written in one piece gains nothing from an early start: its flush follows at once.
  writeBack_ = writeBack_ && threaded_;
  if (writeBack_) {
    writtenTo_ = durableTo_ = flushAskedAt_ = ::lseek(out_, 0, SEEK_CUR);
    writeBack_ = writtenTo_ >= 0;
  }
  try {
    if (threaded_) {
      reader_ = std::thread([this] { ReadLoop(); });
      writer_ = std::thread([this] { WriteLoop(); });
    }
    if (writeBack_) flusher_ = std::thread([this] { FlushLoop(); });
  } catch (...) {
    Stop();
    for (std::thread* t : {&reader_, &writer_}) {
      if (t->joinable()) t->join();
    }
    Release();
    throw;
  }
}

IoPipeline::~IoPipeline() {
  Stop();
  for (std::thread* t : {&reader_, &writer_, &flusher_}) {
    if (t->joinable()) t->join();
  }
  Release();
}

void IoPipeline::Stop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

void IoPipeline::Release() {
  // Pages never written were never mapped in; wiping them would only fault them in.
  for (std::size_t i = 0; i < kBuffers; ++i) SecureZero(Slot(i), used_[i]);
  GivePool(memory_);
  memory_ = nullptr;
}

uint8_t* IoPipeline::Slot(std::size_t i) const {
  return static_cast<uint8_t*>(memory_) + i * kBufferSize;
}

IoPipeline::Buffer IoPipeline::Take() {
  if (!threaded_) {
    bool waiting;
    {
      std::lock_guard lock(mutex_);
      waiting = filled_.empty() && !readEnded_ && !error_;
    }
    if (waiting) ReadOne();
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return error_ || !filled_.empty() || readEnded_; });
  if (error_) std::rethrow_exception(error_);
  if (filled_.empty()) return {};
  taken_ = filled_.front();
  filled_.pop_front();
  return Buffer{Slot(taken_), sizes_[taken_]};
}

void IoPipeline::Put(Buffer buffer) {
  std::unique_lock lock(mutex_);
  if (error_) std::rethrow_exception(error_);
  sizes_[taken_] = buffer.size;
  ++writing_;
  if (!threaded_) {
    lock.unlock();
    WriteOne(taken_);
    return;
  }
  transformed_.push_back(taken_);
  changed_.notify_all();
}

void IoPipeline::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return error_ || writing_ == 0; });
  // A flush asked for must report its error here, since the system reports a write-back error
  // to one flush only: the caller's final flush would not see it.
  changed_.wait(lock, [&] { return error_ || (!flushWanted_ && !flushing_); });
  if (error_) std::rethrow_exception(error_);
}

uint64_t IoPipeline::BytesRead() const {
  std::lock_guard lock(mutex_);
  return bytesRead_;
}

void IoPipeline::Fail(std::exception_ptr error) {
  std::lock_guard lock(mutex_);
  if (!error_) error_ = std::move(error);
  stopping_ = true;
  changed_.notify_all();
}

void IoPipeline::ReadLoop() {
  try {
    while (ReadOne()) {
    }
  } catch (...) {
    Fail(std::current_exception());
  }
}

bool IoPipeline::ReadOne() {
  std::size_t slot;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || !free_.empty(); });
    if (stopping_) return false;
    slot = free_.front();
    free_.pop_front();
  }
  int err;
  const std::size_t got = ReadFd(in_, Slot(slot), readSize_, &err);
  std::lock_guard lock(mutex_);
  used_[slot] = std::max(used_[slot], got);
  if (err != 0) {
    free_.push_back(slot);
    throw IoError(inName_, "read", err);
  }
  bytesRead_ += got;
  sizes_[slot] = got;
  if (got > 0) {
    filled_.push_back(slot);
  } else {
    free_.push_back(slot);
  }
  if (got < readSize_) readEnded_ = true;
  changed_.notify_all();
  return !readEnded_;
}

void IoPipeline::WriteLoop() {
  try {
    for (;;) {
      std::size_t slot;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || !transformed_.empty(); });
        if (stopping_) return;
        slot = transformed_.front();
        transformed_.pop_front();
      }
      WriteOne(slot);
    }
  } catch (...) {
    Fail(std::current_exception());
  }
}

void IoPipeline::FlushLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || flushWanted_; });
    if (stopping_) return;
    flushWanted_ = false;
    flushing_ = true;
    lock.unlock();
    int err = gFailedFlush.load();
    if (err == 0 && ::fdatasync(out_) != 0) err = errno;
    lock.lock();
    flushing_ = false;
    if (err != 0) {
      if (!error_) error_ = std::make_exception_ptr(IoError(outName_, "write", err));
      stopping_ = true;
    }
    changed_.notify_all();
    if (err != 0) return;
  }
}

void IoPipeline::WriteOne(std::size_t slot) {
  const std::size_t size = sizes_[slot];
  off_t end = writtenTo_ + off_t(size);
  if (sink_) {
    if (size > 0) sink_(Slot(slot), size);
    // The sink wrote what it wrote, header and held bytes included: the file says how far.
    if (writeBack_) end = ::lseek(out_, 0, SEEK_CUR);
  } else if (const int err = WriteFd(out_, Slot(slot), size); err != 0) {
    throw IoError(outName_, "write", err);
  }
  if (writeBack_) {
    // Start the disk on this buffer now, and wait for what is older than the window; a refusal
    // to start only ends the early start.
    writeBack_ = end >= writtenTo_ &&
                 ::sync_file_range(out_, writtenTo_, end - writtenTo_, SYNC_FILE_RANGE_WRITE) == 0;
    writtenTo_ = end;
    if (writeBack_ && writtenTo_ - durableTo_ > kWriteBackWindow) {
      const off_t upTo = writtenTo_ - kWriteBackWindow;
      // The wait reports a failed write-back, and the system reports it to one call only: it
      // is the job's failure, not a refusal.
      int err = gFailedWait.load();
      if (err == 0 && ::sync_file_range(out_, durableTo_, upTo - durableTo_,
                                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                            SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        err = errno;
      }
      if (err != 0 && err != EINVAL && err != ESPIPE && err != ENOSYS) {
        throw IoError(outName_, "write", err);
      }
      durableTo_ = upTo;
      if (durableTo_ - flushAskedAt_ >= kFlushStep) {
        flushAskedAt_ = durableTo_;
        std::lock_guard lock(mutex_);
        flushWanted_ = true;
        changed_.notify_all();
      }
    }
  }
  std::lock_guard lock(mutex_);
  free_.push_back(slot);
  --writing_;
  changed_.notify_all();
}

}  // namespace kryvane
