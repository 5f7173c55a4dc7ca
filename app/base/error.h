// The one error of the program: what went wrong (a kind a caller can act on), and where, as data
// ("file: operation: cause"). The file job reports it in its outcome; everything below the job
// throws it inside ErrorException.
#pragma once

#include <string>
#include <string_view>

#include "crypto/streams.h"

namespace kryvane {

// What kind of thing went wrong, for callers that choose what to suggest.
enum class ErrorKind {
  // The file job.
  kMismatch,       // the two passphrases differ
  kRefused,        // the request cannot be carried out as asked; nothing was touched
  kSameFile,       // the target is the source, or the settings file the job is to write
  kIo,             // a file could not be opened, read, written, replaced or deleted
  kCancelled,      // the cancel flag was set
  kSuspectResult,  // the decryption looks random and was refused (refuseSuspectResult)
  kSourceChanged,  // (a warning) the source changed while it was read
  kSourceKept,     // (a warning) the source was to be deleted but is kept
  kInternal,       // anything else, such as memory running out
  // Age files, in the verdicts of the age format's own test suite, so that a caller can tell a
  // damaged file from a key that does not fit without reading the message.
  kKeys,     // a key, key file or recipient given is unusable: no file's fault
  kHeader,   // the header, or the payload nonce after it, does not parse
  kArmor,    // the PEM armor around the file does not parse
  kNoMatch,  // none of the identities or the passphrase given opens a recipient stanza
  kHmac,     // a stanza opened, but the header's MAC does not match: the header was changed
  kPayload,  // the payload does not authenticate all the way to its end
};

// "FILE: OPERATION: CAUSE", leaving out empty parts: the one shape of every error message.
std::string FormatError(std::string_view file, std::string_view operation, std::string_view cause);

struct Error {
  std::string file;       // the path concerned; empty when no file is
  std::string operation;  // what was being done, such as "open", "read", "write", "delete"
  std::string cause;      // why, such as "No such file or directory"
  ErrorKind kind = ErrorKind::kIo;
  int errnum = 0;  // the errno behind cause, when there is one

  // "file: operation: cause", leaving out empty parts.
  std::string Describe() const { return FormatError(file, operation, cause); }
};

// An Error thrown; what() is its Describe(). A StreamError, so that a failed read or write of a
// file stops a cipher stream like any other.
class ErrorException : public StreamError {
 public:
  explicit ErrorException(Error error);
  // A failed system call on a file (kIo): the cause is errnum's text.
  ErrorException(std::string file, std::string operation, int errnum);
  // A file whose content cannot be used, for a cause that is no errno (kIo).
  ErrorException(std::string file, std::string operation, std::string cause);
  // An error of no file and no operation: what() is the cause alone.
  ErrorException(ErrorKind kind, std::string cause);

  const Error& Get() const { return error_; }
  ErrorKind Kind() const { return error_.kind; }
  const std::string& File() const { return error_.file; }
  const std::string& Operation() const { return error_.operation; }
  const std::string& Cause() const { return error_.cause; }
  int Errno() const { return error_.errnum; }  // 0 when the cause is no errno

 private:
  Error error_;
};

}  // namespace kryvane
