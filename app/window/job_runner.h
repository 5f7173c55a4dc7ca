// Runs one file job or cipher-and-hash search at a time on a worker thread it owns, and reports
// back on the thread that created it. Destroying the runner stops a running job and waits for it.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/file_job.h"
#include "app/identify.h"

class QThread;

namespace kryvane {

class JobRunner : public QObject {
  Q_OBJECT

 public:
  explicit JobRunner(QObject* parent = nullptr);
  ~JobRunner() override;

  bool Running() const { return thread_ != nullptr; }

  // Takes the request over; its progress and cancel members are the runner's own. Ignored while a
  // job runs.
  void Start(JobRequest request);
  // Searches the cipher and hash that decrypt the file under one of the readings (IdentifyFile).
  // Ignored while a job runs.
  void StartIdentify(std::string path, std::vector<PassphraseReading> readings);
  // Asks the running job to stop; it then fails with nothing written.
  void Cancel();
  bool CancelRequested() const { return cancel_.load(); }

 signals:
  // Thousandths of the source done, emitted when the figure changes.
  void Progress(int permille);
  void Finished(const kryvane::JobOutcome& outcome);
  // error: why the file could not be read ("FILE: OPERATION: CAUSE"); empty when it was.
  void Identified(const kryvane::Identification& found, const QString& error);

 private:
  // Runs work on the owned thread; what it returns then runs on this object's thread.
  void Launch(std::function<std::function<void()>()> work);
  void Done(const std::function<void()>& report);
  // From the worker thread: thousandths done.
  void ReportProgress(int permille);

  std::unique_ptr<QThread> thread_;
  std::atomic<bool> cancel_{false};
  std::atomic<int> permille_{-1};
};

}  // namespace kryvane
