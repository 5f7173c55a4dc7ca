#include "app/base/error.h"

#include <utility>

namespace kryvane {

std::string FormatError(std::string_view file, std::string_view operation, std::string_view cause) {
  std::string text;
  for (const std::string_view part : {file, operation, cause}) {
    if (part.empty()) continue;
    if (!text.empty()) text += ": ";
    text += part;
  }
  return text;
}

ErrorException::ErrorException(Error error)
    : StreamError(error.Describe()), error_(std::move(error)) {}

ErrorException::ErrorException(std::string file, std::string operation, int errnum)
    : ErrorException(Error{std::move(file), std::move(operation), ErrnoText(errnum), ErrorKind::kIo,
                           errnum}) {}

ErrorException::ErrorException(std::string file, std::string operation, std::string cause)
    : ErrorException(
          Error{std::move(file), std::move(operation), std::move(cause), ErrorKind::kIo, 0}) {}

ErrorException::ErrorException(ErrorKind kind, std::string cause)
    : ErrorException(Error{"", "", std::move(cause), kind, 0}) {}

}  // namespace kryvane
