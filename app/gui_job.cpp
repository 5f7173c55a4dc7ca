#include "app/gui_job.h"

namespace kryvane {

GuiJobResult RunGuiJob(const GuiJobInputs&, const std::atomic<bool>&,
                       const std::function<void(double)>&) {
  return {false, QStringLiteral("not wired yet")};
}

}  // namespace kryvane
