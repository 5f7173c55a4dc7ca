#include "app/window/job_runner.h"

#include <QThread>
#include <exception>
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
  request.cancel = &cancel_;
  request.progress = [this](uint64_t done, std::optional<uint64_t> total) {
    if (total && *total > 0) ReportProgress(int(done * 1000 / *total));
  };
  // Shared, so that the work stays copyable while the request holds move-only secrets.
  auto held = std::make_shared<JobRequest>(std::move(request));
  Launch([this, held]() -> std::function<void()> {
    JobOutcome outcome = RunFileJob(*held);
    return [this, outcome = std::move(outcome)] { emit Finished(outcome); };
  });
}

void JobRunner::StartIdentify(std::string path, std::vector<PassphraseReading> readings) {
  if (Running()) return;
  auto held = std::make_shared<std::vector<PassphraseReading>>(std::move(readings));
  Launch([this, path = std::move(path), held]() -> std::function<void()> {
    IdentifyOptions options;
    options.cancel = &cancel_;
    options.progress = [this](std::size_t done, std::size_t total) {
      if (total > 0) ReportProgress(int(done * 1000 / total));
    };
    Identification found;
    QString error;
    try {
      found = IdentifyFile(path, *held, options);
    } catch (const std::exception& e) {
      error = QString::fromStdString(e.what());
    }
    return [this, found = std::move(found), error] { emit Identified(found, error); };
  });
}

void JobRunner::Cancel() {
  if (Running()) cancel_.store(true);
}

void JobRunner::ReportProgress(int permille) {
  // Only a changed figure crosses threads: a 2 GiB job reports far more often than that.
  if (permille_.exchange(permille) == permille) return;
  QMetaObject::invokeMethod(
      this, [this, permille] { emit Progress(permille); }, Qt::QueuedConnection);
}

void JobRunner::Launch(std::function<std::function<void()>()> work) {
  cancel_.store(false);
  permille_.store(-1);
  thread_.reset(QThread::create([this, work = std::move(work)] {
    std::function<void()> report = work();
    QMetaObject::invokeMethod(
        this, [this, report = std::move(report)] { Done(report); }, Qt::QueuedConnection);
  }));
  thread_->start();
}

void JobRunner::Done(const std::function<void()>& report) {
  thread_->wait();  // its last act was to post this call
  thread_.reset();
  report();
}

}  // namespace kryvane
