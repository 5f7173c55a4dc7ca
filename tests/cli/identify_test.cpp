// `kryvane-cli identify` as a user runs it: the printed decrypt command works as printed, the exit
// statuses, --decrypt, and the files it cannot identify.
#include <sstream>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

// The command printed after "Decrypt with:", split into arguments (the test's paths need no
// quoting), without the program name.
std::vector<std::string> PrintedCommand(const std::string& out) {
  const auto at = out.find("Decrypt with:\n");
  if (at == std::string::npos) return {};
  std::istringstream line(out.substr(at + 14, out.find('\n', at + 14) - at - 14));
  std::vector<std::string> words;
  for (std::string w; line >> w;) words.push_back(w);
  if (!words.empty() && words.front() == "kryvane-cli") words.erase(words.begin());
  return words;
}

TEST(CliIdentify, PrintsACommandThatDecrypts) {
  TempFolder dir;
  const Bytes pdf = ReadFile(TestDataPath("samples/document.pdf"));
  WriteFile(dir / "report.pdf", pdf);
  // UTF-8 bytes of a passphrase that also has Windows-1252 ones: the command must say so.
  const auto env = WithEnv({"KPW=na\xC3\xAFve"});
  CliResult r = RunCli({"encrypt", "-c", "serpent", "-H", "ripemd160", "--encoding", "utf-8",
                        "--passphrase-env", "KPW", dir / "report.pdf", dir / "report.pdf.enc"},
                       env);
  ASSERT_EQ(r.status, 0) << r.err;
  ::unlink((dir / "report.pdf").c_str());

  r = RunCli({"identify", "--passphrase-env", "KPW", dir / "report.pdf.enc"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_NE(r.out.find("340 cipher and hash pairs"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  1   serpent    ripemd160  UTF-8"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PDF signature"), std::string::npos) << r.out;
  const std::vector<std::string> command = PrintedCommand(r.out);
  const std::vector<std::string> expected = {
      "decrypt",         "-c",    "serpent",          "-H",  "ripemd160",
      "--encoding",      "utf-8", "--passphrase-env", "KPW", dir / "report.pdf.enc",
      dir / "report.pdf"};
  EXPECT_EQ(command, expected) << r.out;

  r = RunCli(command, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "report.pdf"), pdf);
}

TEST(CliIdentify, DecryptOptionUsesTheBestCandidate) {
  TempFolder dir;
  const Bytes text = ReadFile(TestDataPath("samples/text-cp1252.txt"));
  WriteFile(dir / "letter.txt", text);
  WriteText(dir / "pw", "S\xC3\xA9same\n");
  CliResult r = RunCli({"encrypt", "-c", "ice2", "-H", "md4", "--passphrase-file", dir / "pw",
                        dir / "letter.txt", dir / "letter.enc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCli({"identify", "--passphrase-file", dir / "pw", "--decrypt", dir / "back.txt",
              dir / "letter.enc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.out.find("--passphrase-file " + dir / "pw" + " " + dir / "letter.enc " + dir / "back.txt"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(ReadFile(dir / "back.txt"), text);

  // -c narrows the search to what the user remembers; a wrong memory finds nothing.
  r = RunCli({"identify", "-c", "ice", "--passphrase-file", dir / "pw", "--decrypt",
              dir / "other.txt", dir / "letter.enc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing plausible"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "other.txt"));
}

TEST(CliIdentify, FilesItCannotIdentify) {
  TempFolder dir;
  WriteFile(dir / "noise", RandomBytes(3000, 11));
  WriteText(dir / "empty", "");
  WriteText(dir / "tiny", "abcde");
  const auto env = WithEnv({"KPW=secret"});
  CliResult r =
      RunCli({"identify", "--passphrase-env", "KPW", "--decrypt", dir / "out", dir / "noise"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("noise: identify: nothing plausible"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("random-looking bytes"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(dir / "out"));

  r = RunCli({"identify", "--passphrase-env", "KPW", dir / "empty"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("empty: identify: the file is empty"), std::string::npos) << r.err;
  r = RunCli({"identify", "--passphrase-env", "KPW", dir / "tiny"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("only 5 bytes, less than one cipher block"), std::string::npos) << r.err;
  r = RunCli({"identify", "--passphrase-env", "KPW", dir / "missing"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing: open: No such file or directory"), std::string::npos) << r.err;
  r = RunCli({"identify", "--passphrase-env", "KPW", "-"}, env);
  EXPECT_EQ(r.status, 2);
}

// The guard: decrypting with a wrong passphrase and --delete-source keeps the only encrypted copy,
// warns and exits 1; the right passphrase deletes it as before.
TEST(CliIdentify, DecryptIntoGarbageKeepsTheSource) {
  TempFolder dir;
  const Bytes text = ReadFile(TestDataPath("samples/text-utf8.txt"));
  WriteFile(dir / "notes.txt", text);
  const auto env = WithEnv({"RIGHT=open sesame", "WRONG=open sesame!"});
  CliResult r = RunCli(
      {"encrypt", "-c", "mars", "--passphrase-env", "RIGHT", dir / "notes.txt", dir / "notes.enc"},
      env);
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes encrypted = ReadFile(dir / "notes.enc");

  r = RunCli({"decrypt", "-c", "mars", "--passphrase-env", "WRONG", "--delete-source",
              dir / "notes.enc", dir / "out.txt"},
             env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("kryvane-cli: warning: " + dir / "notes.enc" +
                       ": delete: the result looks random: either the passphrase, cipher or "
                       "hash is wrong, or the file was itself encrypted or compressed; the source "
                       "is kept"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("hint: 'kryvane-cli identify " + dir / "notes.enc"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir / "notes.enc"), encrypted);
  EXPECT_EQ(ReadFile(dir / "out.txt").size(), text.size());

  // Without --delete-source nothing is at stake: a warning, and success.
  r = RunCli(
      {"decrypt", "-c", "mars", "--passphrase-env", "WRONG", dir / "notes.enc", dir / "out.txt"},
      env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("out.txt: the result looks random: either"), std::string::npos) << r.err;

  r = RunCli({"decrypt", "-c", "mars", "--passphrase-env", "RIGHT", "--delete-source",
              dir / "notes.enc", dir / "out.txt"},
             env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(Exists(dir / "notes.enc"));
  EXPECT_EQ(ReadFile(dir / "out.txt"), text);
}

// A settings file with the passphrase "ét" in UTF-8 has the very bytes a Windows-written one with
// "Ã©t" in its code page has, and the two are keyed differently. decrypt --settings keeps the
// reading under which the file decrypts into something plausible, and today's when neither or
// both do; identify --settings searches both.
TEST(CliIdentify, SettingsFileReadBothWays) {
  TempFolder dir;
  const Bytes text = ReadFile(TestDataPath("samples/text-utf8.txt"));
  const Bytes noise = RandomBytes(2000, 5);
  const auto env = WithEnv({"KPW=\xC3\xA9t"});
  WriteFile(dir / "linux.txt", text);
  CliResult r = RunCli({"encrypt", "-c", "twofish", "-H", "sha1", "--passphrase-env", "KPW",
                        "--save-settings", dir / "linux.txt", dir / "linux.enc"},
                       env);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string settings = dir / "linux.txt-settings.txt";
  ASSERT_NE(ReadText(settings).find("Phrase=\xC3\xA9t\r\n"), std::string::npos);

  const struct {
    const char* name;
    const Bytes& plain;
    const char* encoding;  // how the passphrase was keyed at encryption
    bool comesBack;
  } cases[] = {{"linux", text, "auto", true},
               {"windows", text, "utf-8", true},
               {"neither", noise, "utf-8", false}};
  for (const auto& c : cases) {
    const std::string name = c.name;
    if (name != "linux") {
      WriteFile(dir / (name + ".txt"), c.plain);
      r = RunCli({"encrypt", "-c", "twofish", "-H", "sha1", "--passphrase-env", "KPW", "--encoding",
                  c.encoding, dir / (name + ".txt"), dir / (name + ".enc")},
                 env);
      ASSERT_EQ(r.status, 0) << r.err;
    }
    r = RunCli({"decrypt", "--settings", settings, dir / (name + ".enc"), dir / (name + ".out")});
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(ReadFile(dir / (name + ".out")) == c.plain, c.comesBack) << name;
  }
  // Neither reading is plausible: the file is decrypted with today's one.
  r = RunCli({"decrypt", "-c", "twofish", "-H", "sha1", "--passphrase-env", "KPW", "--encoding",
              "cp1252", dir / "neither.enc", dir / "neither.cp1252"},
             env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "neither.out"), ReadFile(dir / "neither.cp1252"));

  r = RunCli({"identify", "--settings", settings, dir / "windows.enc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  1   twofish    sha1       UTF-8"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("kryvane-cli decrypt -c twofish -H sha1 --encoding utf-8 --settings " + settings),
      std::string::npos)
      << r.out;
}

// RC4 under two hashes gives two keystreams, so one file can hold a PDF signature under the first
// and a TAR signature under the second: two plausible candidates. identify says so, exits 1, and
// --decrypt picks neither.
TEST(CliIdentify, SeveralPlausibleCandidates) {
  TempFolder dir;
  const auto env = WithEnv({"KPW=two ways"});
  WriteFile(dir / "zeros", Bytes(600, 0));
  Bytes stream[2];
  const char* hashes[] = {"sha1", "md5"};
  for (int i = 0; i < 2; ++i) {
    const std::string out = dir / ("stream" + std::to_string(i));
    ASSERT_EQ(RunCli({"encrypt", "-c", "rc4", "-H", hashes[i], "--passphrase-env", "KPW",
                      dir / "zeros", out},
                     env)
                  .status,
              0);
    stream[i] = ReadFile(out);
  }
  Bytes file = RandomBytes(600, 3);
  const std::string pdf = "%PDF-1.7\n", tar = std::string("ustar\0", 6);
  for (std::size_t i = 0; i < pdf.size(); ++i) file[i] = uint8_t(pdf[i]) ^ stream[0][i];
  for (std::size_t i = 0; i < tar.size(); ++i) {
    file[257 + i] = uint8_t(tar[i]) ^ stream[1][257 + i];
  }
  WriteFile(dir / "both.enc", file);

  CliResult r = RunCli({"identify", "--passphrase-env", "KPW", dir / "both.enc"}, env);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Several candidates are plausible"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decrypt -c rc4 -H sha1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decrypt -c rc4 -H md5"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Best:"), std::string::npos) << r.out;

  r = RunCli({"identify", "--passphrase-env", "KPW", "--decrypt", dir / "out", dir / "both.enc"},
             env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("several candidates are plausible, so nothing was decrypted"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists(dir / "out"));
  // Narrowed to one hash, the one candidate left is clear.
  r = RunCli({"identify", "-H", "md5", "--passphrase-env", "KPW", dir / "both.enc"}, env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("TAR signature"), std::string::npos) << r.out;
}

// A file the Windows program keyed from a pasted passphrase past its field's 80 characters
// decrypts with the whole passphrase: decrypt, convert and identify try its first 80 characters
// when the whole one gives random bytes, and say so.
TEST(CliIdentify, FirstEightyCharactersOfALongPassphrase) {
  TempFolder dir;
  std::string phrase;
  for (int i = 0; phrase.size() < 110; ++i) phrase += "pasted" + std::to_string(i) + " ";
  const Bytes text = ReadFile(TestDataPath("samples/text-utf8.txt"));
  WriteFile(dir / "notes.txt", text);
  const auto env = WithEnv({"CUT=" + phrase.substr(0, 80), "WHOLE=" + phrase});
  ASSERT_EQ(RunCli({"encrypt", "-c", "cast128", "-H", "tiger", "--passphrase-env", "CUT",
                    dir / "notes.txt", dir / "notes.enc"},
                   env)
                .status,
            0);
  CliResult r = RunCli({"decrypt", "-c", "cast128", "-H", "tiger", "--passphrase-env", "WHOLE",
                        "--delete-source", dir / "notes.enc", dir / "back.txt"},
                       env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("keyed with the first 80 characters of the passphrase"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dir / "back.txt"), text);
  EXPECT_FALSE(Exists(dir / "notes.enc"));

  ASSERT_EQ(RunCli({"encrypt", "-c", "cast128", "-H", "tiger", "--passphrase-env", "CUT",
                    dir / "notes.txt", dir / "notes.enc"},
                   env)
                .status,
            0);
  r = RunCli({"identify", "--passphrase-env", "WHOLE", dir / "notes.enc"}, env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Best: Cast128 with Tiger"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("keyed with the first 80 characters of the passphrase"), std::string::npos)
      << r.out;
  r = RunCli(
      {"identify", "--passphrase-env", "WHOLE", "--decrypt", dir / "again.txt", dir / "notes.enc"},
      env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "again.txt"), text);

  // A file keyed with the whole passphrase is decrypted with it, without a note.
  ASSERT_EQ(RunCli({"encrypt", "-c", "cast128", "-H", "tiger", "--passphrase-env", "WHOLE",
                    dir / "notes.txt", dir / "whole.enc"},
                   env)
                .status,
            0);
  r = RunCli({"decrypt", "-c", "cast128", "-H", "tiger", "--passphrase-env", "WHOLE",
              dir / "whole.enc", dir / "whole.txt"},
             env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(ReadFile(dir / "whole.txt"), text);
}

// A file encrypted twice under one passphrase decrypts once into the inner file: no warning, and
// --delete-source deletes.
TEST(CliIdentify, DecryptedIntoAnotherEncryptedFileIsNoFalseAlarm) {
  TempFolder dir;
  const Bytes text = ReadFile(TestDataPath("samples/text-utf8.txt"));
  WriteFile(dir / "notes.txt", text);
  const auto env = WithEnv({"KPW=twice over"});
  for (const auto& [from, to] :
       {std::pair{"notes.txt", "once.enc"}, std::pair{"once.enc", "twice.enc"}}) {
    ASSERT_EQ(
        RunCli({"encrypt", "-c", "idea", "--passphrase-env", "KPW", dir / from, dir / to}, env)
            .status,
        0);
  }
  const CliResult r = RunCli({"decrypt", "-c", "idea", "--passphrase-env", "KPW", "--delete-source",
                              dir / "twice.enc", dir / "inner.enc"},
                             env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(Exists(dir / "twice.enc"));
  EXPECT_EQ(ReadFile(dir / "inner.enc"), ReadFile(dir / "once.enc"));
}

}  // namespace
}  // namespace kryvane::test
