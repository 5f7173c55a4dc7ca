// For tests only: makes every AtomicOutput use a named temporary file, the path that file systems
// without unnamed files take, so that tests can check it leaves nothing behind.
#pragma once

namespace kryvane::test_hooks {

void ForceNamedTemporaryFiles(bool on);

}  // namespace kryvane::test_hooks
