#include "app/gui_job.h"

#include <QFile>

#include "app/file_job.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

// Paths go to the job in the file system's own encoding.
std::string LocalPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

void WipeString(std::string& s) {
  SecureZero(s.data(), s.size());
  s.clear();
}

}  // namespace

GuiJobResult RunGuiJob(const GuiJobInputs& in, const std::atomic<bool>& cancel,
                       const std::function<void(double)>& progress) {
  JobRequest request;
  request.direction = in.encrypt ? JobDirection::kEncrypt : JobDirection::kDecrypt;
  request.sourcePath = LocalPath(in.source);
  request.targetPath = LocalPath(in.target);
  request.passphrase = in.passphrase.toStdString();
  request.retypedPassphrase = in.retyped.toStdString();
  if (in.cipherPosition >= 0) request.cipherPosition = in.cipherPosition;
  if (in.hashPosition >= 0) request.hashPosition = in.hashPosition;
  request.cipherMenuText = in.cipherText.toStdString();
  request.hashMenuText = in.hashText.toStdString();
  request.deleteSource = in.deleteSource;
  request.saveSettings = in.encrypt && in.saveSettings;
  request.cancel = &cancel;
  request.progress = [&progress](uint64_t done, std::optional<uint64_t> total) {
    if (progress && total && *total > 0) progress(double(done) / double(*total));
  };
  const JobOutcome outcome = RunFileJob(request);
  WipeString(request.passphrase);
  WipeString(request.retypedPassphrase);
  GuiJobResult result;
  result.success = outcome.Succeeded();
  if (outcome.error) result.detail = QString::fromStdString(outcome.error->Describe());
  return result;
}

}  // namespace kryvane
