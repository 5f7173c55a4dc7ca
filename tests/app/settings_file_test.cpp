#include "app/settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

const ProfileEntries kThree = {{"Phrase", "pw"},
                               {"Cipher", "DES - block: 64 bits, key: 64 bits  "},
                               {"Hash", "SHA1 - digest: 160 bits"}};

TEST(SettingsFile, NewFileUsesCrlfQuotesAndOwnerOnlyPermissions) {
  TempFolder dir;
  ::umask(022);
  WriteProfileStrings(dir / "s.txt", "Settings", kThree);
  EXPECT_EQ(ReadText(dir / "s.txt"),
            "[Settings]\r\nPhrase=pw\r\nCipher=\"DES - block: 64 bits, key: 64 bits  \"\r\n"
            "Hash=SHA1 - digest: 160 bits\r\n");
  EXPECT_EQ(Mode(dir / "s.txt"), 0600u);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"s.txt"});
}

TEST(SettingsFile, UpdatesInPlaceKeepingEverythingElse) {
  struct Case {
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      // LF line ends kept; keys matched without regard to case; a missing key goes after the
      // section's last entry, before the blank line that ends it.
      {"; my settings\n[Other]\nPhrase=not this one\n\n[settings]\nphrase = old\nExtra=kept\n\n"
       "[Tail]\nB=2",
       "; my settings\n[Other]\nPhrase=not this one\n\n[settings]\nPhrase=pw\nExtra=kept\n"
       "Cipher=\"DES - block: 64 bits, key: 64 bits  \"\nHash=SHA1 - digest: 160 bits\n\n"
       "[Tail]\nB=2"},
      // A missing section is added at the end, after a last line that had no line end.
      {"[A]\r\nx=1",
       "[A]\r\nx=1\r\n\r\n[Settings]\r\nPhrase=pw\r\nCipher=\"DES - block: 64 bits, key: 64 bits  "
       "\"\r\nHash=SHA1 - digest: 160 bits\r\n"},
      // A byte order mark stays; only the first of two equal sections is changed.
      {"\xEF\xBB\xBF[Settings]\r\nHash=a\r\nCipher=b\r\nPhrase=c\r\n[Settings]\r\nPhrase=d\r\n",
       "\xEF\xBB\xBF[Settings]\r\nHash=SHA1 - digest: 160 bits\r\nCipher=\"DES - block: 64 bits, "
       "key: 64 bits  \"\r\nPhrase=pw\r\n[Settings]\r\nPhrase=d\r\n"},
  };
  TempFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    WriteText(dir / "s.txt", c.before);
    ASSERT_EQ(::chmod((dir / "s.txt").c_str(), 0644), 0);
    WriteProfileStrings(dir / "s.txt", "Settings", kThree);
    EXPECT_EQ(ReadText(dir / "s.txt"), c.after);
    EXPECT_EQ(Mode(dir / "s.txt"), 0644u) << "an existing file keeps its permissions";
  }
}

TEST(SettingsFile, ValuesComeBackExactly) {
  TempFolder dir;
  for (const char* value :
       {"", "a", " lead", "trail ", "  both  ", "\t tab", "\"quoted\"", "'single'", "\"", "\"open",
        "a=b;c", "; not a comment", "[x]", "caf\xC3\xA9 \xE2\x82\xAC", "\"  \""}) {
    SCOPED_TRACE(value);
    WriteProfileString(dir / "s.txt", "Settings", "Phrase", value);
    EXPECT_EQ(ReadProfileString(dir / "s.txt", "Settings", "Phrase"), value);
  }
}

TEST(SettingsFile, ReaderTrimsUnquotesAndReadsWindowsFiles) {
  TempFolder dir;
  WriteText(dir / "s.txt",
            "[Settings]\r\n  Phrase =  \"  x \"  \r\nCipher=  plain  \r\n; Hash=comment\r\n"
            "Name=caf\xE9 \x80\r\n");
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "settings", "PHRASE"), "  x ");
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "Settings", "Cipher"), "plain");
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "Settings", "Hash"), std::nullopt);
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "Other", "Cipher"), std::nullopt);
  // Not UTF-8, so read as Windows-1252.
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "Settings", "Name"), "caf\xC3\xA9 \xE2\x82\xAC");
  // Written back as UTF-8, with the values unchanged.
  WriteProfileString(dir / "s.txt", "Settings", "Phrase", "y");
  EXPECT_EQ(ReadProfileString(dir / "s.txt", "Settings", "Name"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_THROW(ReadProfileString(dir / "missing", "Settings", "Phrase"), SettingsError);
}

TEST(SettingsFile, RefusalsLeaveNoFile) {
  TempFolder dir;
  EXPECT_THROW(WriteProfileString(dir / "s.txt", "Settings", "Phrase", "two\nlines"),
               SettingsError);
  EXPECT_THROW(WriteProfileString(dir / "none/s.txt", "Settings", "Phrase", "x"), SettingsError);
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

// The file is replaced by rename, which its own permissions do not stop; a file its owner made
// read-only must stay as it is.
TEST(SettingsFile, ReadOnlyFileIsNotReplaced) {
  TempFolder dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  WriteText(dir / "s.txt", "[Settings]\nPhrase=old\n");
  ASSERT_EQ(::chmod((dir / "s.txt").c_str(), 0444), 0);
  const int status = RunAsUnprivileged([&] {
    try {
      WriteProfileString(dir / "s.txt", "Settings", "Phrase", "new");
    } catch (const SettingsError& e) {
      return e.Operation() == "open" && e.Cause() == "Permission denied" ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadText(dir / "s.txt"), "[Settings]\nPhrase=old\n");
  EXPECT_EQ(Mode(dir / "s.txt"), 0444u);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"s.txt"});
}

// The file holds a passphrase: a link planted at its name (dangling or not) must not make the
// writer read or replace what it points to, and anything but a regular file is refused.
TEST(SettingsFile, LinksAndOtherFileTypesAreRefused) {
  TempFolder dir;
  WriteText(dir / "elsewhere.txt", "[Settings]\nPhrase=old\n");
  ASSERT_EQ(::symlink("elsewhere.txt", (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("missing.txt", (dir / "dangling.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
  for (const char* name : {"link.txt", "dangling.txt", "fifo.txt"}) {
    SCOPED_TRACE(name);
    try {
      WriteProfileString(dir / name, "Settings", "Phrase", "new");
      ADD_FAILURE() << "written";
    } catch (const SettingsError& e) {
      EXPECT_EQ(e.File(), dir / name);
      EXPECT_EQ(e.Operation(), "open");
    }
  }
  EXPECT_EQ(ReadText(dir / "elsewhere.txt"), "[Settings]\nPhrase=old\n");
  EXPECT_EQ(ListFolder(dir.Path()),
            (std::set<std::string>{"elsewhere.txt", "link.txt", "dangling.txt", "fifo.txt"}));
  // Reading follows a link: the reader names the file on purpose.
  EXPECT_EQ(ReadProfileString(dir / "link.txt", "Settings", "Phrase"), "old");
}

}  // namespace
}  // namespace kryvane::test
