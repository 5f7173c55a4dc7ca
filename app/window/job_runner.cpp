#include "app/window/job_runner.h"

#include <QThread>
#include <utility>

namespace kryvane {

JobRunner::JobRunner(QObject* parent) : QObject(parent) {}

JobRunner::~JobRunner() {
  if (thread_) {
    // The job removes its partial target on the way out; what it posts back dies with this object.
    Cancel();
    thread_->wait();
  }
}

void JobRunner::Start(JobRequest request) {
  if (Running()) return;
  cancel_.store(false);
  permille_.store(-1);
  request.cancel = &cancel_;
  request.progress = [this](uint64_t done, std::optional<uint64_t> total) {
    if (!total || *total == 0) return;
    const int permille = int(done * 1000 / *total);
    // Only a changed figure crosses threads: a 2 GiB job reports far more often than that.
    if (permille_.exchange(permille) == permille) return;
    QMetaObject::invokeMethod(
        this, [this, permille] { emit Progress(permille); }, Qt::QueuedConnection);
  };
  thread_.reset(QThread::create([this, request = std::move(request)] {
    const JobOutcome outcome = RunFileJob(request);
    QMetaObject::invokeMethod(
        this, [this, outcome] { Done(outcome); }, Qt::QueuedConnection);
  }));
  thread_->start();
}

void JobRunner::Cancel() {
  if (Running()) cancel_.store(true);
}

void JobRunner::Done(const JobOutcome& outcome) {
  thread_->wait();  // its last act was to post this call
  thread_.reset();
  emit Finished(outcome);
}

}  // namespace kryvane
