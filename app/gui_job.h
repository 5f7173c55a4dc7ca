// The bridge between the window's Qt values and the toolkit-free file job.
#pragma once

#include <QString>
#include <atomic>
#include <functional>

namespace kryvane {

struct GuiJobInputs {
  bool encrypt = true;
  QString source;
  QString target;
  QString passphrase;
  QString retyped;
  int cipherPosition = 0;  // -1: the menu's text matches no entry
  int hashPosition = 0;
  QString cipherText;  // the menu texts as displayed, for the settings file
  QString hashText;
  bool deleteSource = false;
  bool saveSettings = false;
};

struct GuiJobResult {
  bool success = false;
  QString detail;  // file, operation and cause of a failure
};

// Runs on a worker thread. progress receives the done fraction (0..1) now and then.
GuiJobResult RunGuiJob(const GuiJobInputs& in, const std::atomic<bool>& cancel,
                       const std::function<void(double)>& progress);

}  // namespace kryvane
