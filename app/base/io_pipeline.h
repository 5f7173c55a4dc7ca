// Streams a descriptor through a transform at the speed of the disk: one thread reads ahead into
// a small fixed pool of large buffers (for a regular file larger than one buffer; anything else is
// read when needed), the caller transforms each buffer in place, and another thread writes the
// results behind it (or hands them to a sink, whose work then overlaps the transform), so the
// transform never waits for a system call. Memory stays at the pool whatever the size of the
// data, and a small file costs no threads and no more memory than it fills: a batch of many small
// files spends its time on them, not on the pool.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kryvane {

class IoPipeline {
 public:
  // Bytes a buffer holds, and how many buffers there are (the most memory that is in flight).
  static constexpr std::size_t kBufferSize = std::size_t(1) << 20;
  static constexpr std::size_t kBuffers = 4;
  // With write-back, how much reaches the disk between two flushes of its cache during the work.
  static constexpr off_t kFlushStep = off_t(32) << 20;

  struct Buffer {
    uint8_t* data = nullptr;
    std::size_t size = 0;  // bytes held; less than kBufferSize only at the end of the data
  };

  // Where the transformed data goes instead of a descriptor: called with each buffer's bytes, in
  // order, on the writer's thread (or the caller's, when there is none). What it throws fails the
  // pipeline as a write failure would, and comes out of Take, Put or Finish as it was thrown.
  using Sink = std::function<void(const uint8_t* data, std::size_t size)>;

  // Reads `in` to its end and writes to `out` (neither is owned); the names go into IoErrors.
  // With startWriteBack, the disk starts writing each buffer as soon as it is written, the writer
  // waits for older buffers to reach the disk, and a thread of its own flushes the disk's cache
  // every kFlushStep bytes while the work goes on, so little is left for the final flush; for a
  // regular file that the caller flushes anyway (a source of one buffer is written at once). A
  // failed flush fails the pipeline as a failed write does.
  // Every buffer but the last holds a multiple of unit bytes (which divides kBufferSize); from a
  // source that is not a regular file, such as a pipe, a buffer holds just unit bytes.
  IoPipeline(int in, std::string inName, int out, std::string outName, bool startWriteBack,
             std::size_t unit);
  // The same, with the results given to sink instead, which writes to out itself (what it writes
  // there is what startWriteBack starts early): the sink's work overlaps the transform of the
  // buffers behind.
  IoPipeline(int in, std::string inName, Sink sink, int out, std::string outName,
             bool startWriteBack, std::size_t unit);
  IoPipeline(const IoPipeline&) = delete;
  IoPipeline& operator=(const IoPipeline&) = delete;
  // Stops both threads (waiting for any system call they are in) and wipes the buffers.
  ~IoPipeline();

  // The next buffer of data, in order; size 0 once the data has ended. Rethrows a read or write
  // failure. Every buffer taken goes back through Put before the next Take.
  Buffer Take();
  // Hands a transformed buffer to the writer; its first `size` bytes are written.
  void Put(Buffer buffer);
  // Waits until everything put is written; rethrows a failure.
  void Finish();

  uint64_t BytesRead() const;

 private:
  IoPipeline(int in, std::string inName, int out, std::string outName, Sink sink,
             bool startWriteBack, std::size_t unit);
  void ReadLoop();
  bool ReadOne();  // reads the next buffer; false once the data has ended or all stops
  void WriteLoop();
  void WriteOne(std::size_t slot);
  void FlushLoop();
  void Fail(std::exception_ptr error);
  void Stop();
  void Release();
  uint8_t* Slot(std::size_t i) const;

  const int in_, out_;
  const std::string inName_, outName_;
  const Sink sink_;  // set: the results go there, not to out_
  bool writeBack_;
  bool threaded_ = false;  // read ahead and written behind on threads of their own
  std::size_t readSize_ = kBufferSize;
  off_t writtenTo_ = 0, durableTo_ = 0;  // the target's offsets written, and waited for on disk
  off_t flushAskedAt_ = 0;               // durableTo_ when the last flush was asked for

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  void* memory_ = nullptr;  // kBuffers slots of kBufferSize bytes
  std::size_t sizes_[kBuffers] = {};
  std::size_t used_[kBuffers] = {};  // the most bytes each slot has held: all there is to wipe
  std::deque<std::size_t> free_, filled_, transformed_;
  bool readEnded_ = false;
  bool stopping_ = false;
  bool flushWanted_ = false, flushing_ = false;
  std::size_t writing_ = 0;  // buffers put and not yet written
  std::exception_ptr error_;
  uint64_t bytesRead_ = 0;
  std::size_t taken_ = 0;  // the slot handed out by Take

  std::thread reader_, writer_, flusher_;
};

}  // namespace kryvane
