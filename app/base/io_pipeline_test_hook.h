// For tests only: makes the waits, or the flushes, that write-back runs during a pipeline's work
// fail with errnum (0: the system's own results again), as a disk that lost a write would, so
// that tests can see such a failure fail the job.
#pragma once

namespace kryvane::test_hooks {

void FailWriteBack(int errnum, bool waits, bool flushes);

}  // namespace kryvane::test_hooks
