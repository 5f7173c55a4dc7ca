// The "HEX  NAME" lines that `hash` prints and `hash --check` reads, in the format of the
// coreutils *sum tools: a name holding a backslash, a line feed or a carriage return is written
// with \\, \n and \r, and its line starts with a backslash, so that every name survives the
// round trip through a text file. Other control characters but the tab, which those tools write
// as they are, are escaped as in messages (\xHH; see EscapeControls), so that a list shown on a
// terminal cannot act on it. `hash --check` also reads their BSD form, "SHA256 (NAME) = HEX".
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalogue.h"
#include "crypto/components.h"

namespace kryvane::cli {

// The name as a line shows it, and whether the line needs the leading backslash.
struct EscapedName {
  std::string text;
  bool escaped = false;
};
EscapedName EscapeDigestName(std::string_view name);

// The name as `hash --check` reports it: as it is, like `sha256sum -c`, unless it holds a line
// feed or another control character but the tab; then escaped, with a leading backslash.
std::string CheckedName(std::string_view name);

// The name coreutils gives the hash in the BSD form of its lines (`sha256sum --tag`, `cksum -a`),
// or nothing for a hash that coreutils lacks.
std::optional<std::string> CoreutilsTag(std::string_view shortName);

// "HEX  NAME", with the leading backslash where the name needs escaping. No line end.
std::string FormatDigestLine(std::string_view hex, std::string_view name);

struct DigestLine {
  std::string hex;  // as written, any case
  std::string name;
  bool binary = false;  // the '*' marker; kept only to accept the *sum tools' lines
  std::string tag;      // the hash a BSD-form line names ("SHA256"); empty in the other form
};

// One line without its "\n" (a trailing "\r" is dropped, for lists written on Windows); nothing
// when it is not of the form "[\]HEX  NAME", "[\]HEX *NAME" or "[\]TAG (NAME) = HEX" with hex
// digits and a name.
std::optional<DigestLine> ParseDigestLine(std::string_view line);

// The lower-case hex digest of the file (standard input for "-"); on failure, nothing, with
// *error set to "NAME: OPERATION: CAUSE".
std::optional<std::string> FileDigest(const HashRef& ref, const std::string& name,
                                      std::string* error);

// The digest of a file, or the error that stopped it.
struct DigestResult {
  std::optional<std::string> hex;
  std::string error;
};

// The digests of the named files on up to `threads` worker threads (0: one per core), each
// handed to done(index, result) on the calling thread in the order of the names, as soon as it
// and every one before it are ready: the output reads as if the files were hashed one by one.
void DigestFilesInOrder(const HashRef& ref, const std::vector<std::string>& names, unsigned threads,
                        const std::function<void(std::size_t, DigestResult&)>& done);

}  // namespace kryvane::cli

namespace kryvane::cli {

// `hash --check`: verifies every "HEX  NAME" line of each list (standard input for "-") against
// the named file's digest under hash, printing "NAME: OK" or "NAME: FAILED" lines and a summary
// of failures on standard error. Returns the exit status: failure when any line did not verify,
// could not be read or was not a digest line of this hash.
// The files are hashed on up to `threads` worker threads (0: one per core).
int CheckDigestLists(const HashEntry& hash, const std::vector<std::string>& lists,
                     unsigned threads = 1);

}  // namespace kryvane::cli
