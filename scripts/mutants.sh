#!/usr/bin/env bash
# Plants small, realistic faults one at a time in a scratch copy of the sources, builds, and runs
# the test that should catch each; prints which faults survive. Exit status 0 only when every
# fault was caught, 1 otherwise (a fault whose pattern no longer matches, or that does not build,
# counts as a survivor: update the table).
#
#   scripts/mutants.sh            every fault in the table
#   scripts/mutants.sh NAME...    only the faults named (see the table below)
#
# The scratch copy and its build stay in build-mutants/ between runs (with ccache), so a run
# rebuilds only what each fault touches. Not part of CI: it takes minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scratch=${KRYVANE_MUTANTS_DIR:-$root/build-mutants}
src=$scratch/src
bld=$scratch/build
export QT_QPA_PLATFORM=offscreen
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}

# name | file | text to change | replacement | test program | tests that must fail
# The text must occur exactly once in the file (with a second copy, say a new fast path, it is not
# clear which one the fault is meant for). Test selection is a GoogleTest filter, or the names of
# the Qt test functions for gui_tests. A fault that moves code takes more than one change: each
# `also FROM TO` line after a row adds one more to the same file, applied in order.
names=() files=() froms=() tos=() programs=() selections=()
sep=$'\x1e'  # between the changes of one fault
mutant() {
  names+=("$1") files+=("$2") froms+=("$3") tos+=("$4") programs+=("$5") selections+=("$6")
}
also() {
  local last=$((${#names[@]} - 1))
  froms[last]+="$sep$1" tos[last]+="$sep$2"
}

mutant settings-single-quotes app/settings_file.cpp \
  "(v.front() == '\"' || v.front() == '\\'')" "v.front() == '\"'" \
  cli_tests 'CliOptions.PassphraseFromFilesAndSettings'
mutant stdout-same-file app/file_job.cpp \
  $'      if (::fstat(targetFd_, &target_) != 0) FailErrno(name, "open", errno);\n      RefuseSourceAsTarget();' \
  '      if (::fstat(targetFd_, &target_) != 0) FailErrno(name, "open", errno);' \
  cli_tests 'CliRefusals.SameFileThroughStandardInputOrOutput'
mutant target-mode-kept app/atomic_output.cpp \
  'if (::fchmod(fd_.Get(), existing.st_mode & 07777) != 0) {' 'if (false) {' \
  cli_tests 'CliRefusals.ReplacedTargetKeepsItsMode'
mutant passphrase-file-one-line-end cli/common.cpp \
  '  text.Resize(StripOneLineEnd(text.View()).size());' \
  $'  while (!text.empty() && (text.View().back() == \'\\n\' || text.View().back() == \'\\r\')) {\n    text.Resize(text.size() - 1);\n  }' \
  cli_tests 'CliOptions.PassphraseFromFilesAndSettings'
mutant default-hash cli/common.h 'std::string hash = "haval";' 'std::string hash = "sha1";' \
  cli_tests 'CliOptions.DefaultsAreBlowfishAndHaval'
mutant menu-position app/catalogue.cpp 'if (ec == std::errc() &&' 'if (false && ec == std::errc() &&' \
  cli_tests 'CliOptions.EveryEntryByPositionNameAndMenuText'
mutant selftest-skips-hashes app/catalogue.cpp 'for (const HashEntry& e : hashes) {' \
  'for (const HashEntry& e : hashes.first(0)) {' \
  cli_tests 'CliOptions.SelftestRunsEveryCipherAndHash'
mutant selftest-always-passes app/catalogue.cpp $'  return all;\n}' $'  return true || all;\n}' \
  app_tests 'SelfTests.*'
mutant known-answer-cannot-fail crypto/block_ciphers.h 'return enc && dec;' 'return enc || dec;' \
  crypto_tests 'KnownAnswer.*'
mutant progress-bar-idle app/window/main_window.cpp \
  'connect(runner_, &JobRunner::Progress, progress_, &QProgressBar::setValue);' '' \
  gui_tests 'progressBarAdvancesDuringTheJob'
mutant ctr-tail-counter crypto/block_ciphers.h \
  $'      IncCounter();\n      for (std::size_t j = 0; j < tail; ++j)' \
  $'      for (std::size_t j = 0; j < tail; ++j)' \
  crypto_tests 'BlockModes.ChainingValueAfterCalls'
mutant named-temp-left-behind app/atomic_output.cpp \
  '  if (!tempName_.empty() && !committed_) ::unlinkat(folder_.Get(), tempName_.c_str(), 0);' '' \
  app_tests 'NamedTemporaryFiles.*'
mutant browse-without-dialog app/window/main_window.cpp \
  $'void MainWindow::BrowseTarget() {\n' $'void MainWindow::BrowseTarget() {\n  if (isVisible()) return;\n' \
  gui_tests 'cancelledBrowseKeepsTheField'
# Faults the suite caught before these tests were written.
mutant cbc-tail crypto/block_ciphers.h \
  'for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ cv_[j]);' \
  'for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ cv_[B - 1 - j]);' \
  crypto_tests 'BlockModes.TailRuleOfEveryMode'
mutant blowfish-byte-order ciphers/blowfish.cpp 'uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);' \
  'uint32_t l = LoadLe32(in), r = LoadLe32(in + 4);' ciphers_tests 'BlockVectors.*'
mutant haval-pad hashes/haval.h 'static constexpr uint8_t kPad = 0x80;' \
  'static constexpr uint8_t kPad = 0x01;' hashes_tests '*'
mutant rc4-index-restart ciphers/rc4.cpp 'uint32_t i = 0, j = 0;' 'static uint32_t i = 0, j = 0;' \
  ciphers_tests 'Rc4*'
mutant settings-trailing-blanks app/settings_file.cpp \
  'if (TrimBlanks(value).size() != value.size() || framed) {' \
  'if (TrimBlanks(value).data() != value.data() || framed) {' \
  app_tests 'Settings*:FileJob.*Settings*'
mutant same-file-by-name app/file_job.cpp \
  $'    RefuseSourceAsTarget();\n    if (S_ISDIR(target_.st_mode))' '    if (S_ISDIR(target_.st_mode))' \
  app_tests 'FileJob.SourceAndTargetNamingTheSameFileAreRefused'
mutant cp1252-euro app/codepage.cpp '0x20AC, 0x0081, 0x201A,' '0x20AD, 0x0081, 0x201A,' \
  app_tests 'Passphrase*'
mutant cli-usage-status cli/commands.h 'inline constexpr int kExitUsage = 2;' \
  'inline constexpr int kExitUsage = 1;' cli_tests 'Cli.UsageErrorsExitWith2'
mutant tab-order app/window/main_window.cpp 'setTabOrder(sCheckBox3_, EncryptBtn_);' \
  'setTabOrder(sCheckBox3_, ComboBox1_);' gui_tests 'tabOrderAndStartFocus'
mutant progress-only-at-end app/file_job.cpp \
  'if (request_.progress && outcome_.bytes - reported >= kProgressStep) {' 'if (false) {' \
  app_tests 'FileJob.Progress*'
mutant source-deleted-before-settings app/file_job.cpp \
  $'    outcome_.targetWritten = true;\n    if (settings_) {' \
  $'    outcome_.targetWritten = true;\n    if (request_.deleteSource) DeleteSource();\n    if (settings_) {' \
  app_tests 'FileJob.SettingsWriteFailingAfterTheTargetKeepsTheSource'
also $'    if (request_.deleteSource) DeleteSource();\n  }' '  }'
mutant kept-secret-page-unwiped app/secret.cpp \
  $'  SecureZero(p, bytes);\n  if (bytes == PageSize()' $'  if (bytes == PageSize()' \
  app_tests 'ReusedMemory.SecretPagesComeBackWiped'
mutant batch-follows-swapped-link cli/batch.h '  request.sourceNoFollow = item.inFolder;' \
  '' cli_tests 'Batch.FileSwappedForALinkAfterPlanningIsRefused'
mutant batch-writes-through-target-link cli/batch.h '  request.targetNoFollow = true;' '' \
  cli_tests 'Batch.ReplacingNeverWritesThroughALink'
mutant kept-buffer-unwiped app/io_pipeline.cpp '  used_[slot] = std::max(used_[slot], got);' '' \
  app_tests 'ReusedMemory.PipelineBuffersComeBackWiped'
mutant age-armor-last-line-needs-eol app/age_format.cpp \
  '        if (part == AgeErrorKind::kArmor) return true;' '' \
  cli_tests 'AgeVectors.EveryVerdictThroughReaderAndCli'
mutant age-final-chunk-withheld app/age_format.cpp \
  '  if (!opened && !last) {' '  if (!opened && !last && in_->AtEnd()) {' \
  cli_tests 'AgeVectors.EveryVerdictThroughReaderAndCli'
mutant age-trailing-data-accepted app/age_format.cpp \
  '  trailing_ = last && got == kSealedChunk && !in_->AtEnd();' '  trailing_ = false;' \
  cli_tests 'AgeVectors.EveryVerdictThroughReaderAndCli'
mutant help-hides-unknown-command cli/main.cpp \
  'if (e.get_exit_code() == 0 && !UnknownCommandGiven(app))' \
  'if (e.get_exit_code() == 0 && (true || !UnknownCommandGiven(app)))' \
  cli_tests 'CliWords.UnknownCommandNamesItAndListsTheCommands'

# Which faults to try.
selected=()
if [ $# -eq 0 ]; then
  selected=("${!names[@]}")
else
  for want in "$@"; do
    found=""
    for i in "${!names[@]}"; do
      if [ "${names[$i]}" = "$want" ]; then selected+=("$i"); found=1; fi
    done
    [ -n "$found" ] || { echo "no fault named $want" >&2; exit 2; }
  done
fi

# Bring the scratch copy up to date with the working tree (tracked and new files), copying only
# what differs so that the build redoes only that.
mkdir -p "$src" "$bld"
git ls-files -z --cached --others --exclude-standard | sort -z >"$scratch/files"
while IFS= read -r -d '' f; do
  [ -f "$f" ] || continue
  if ! cmp -s "$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")"
    cp "$f" "$src/$f"
  fi
done <"$scratch/files"
# Files gone from the working tree leave the copy too (the build globs folders).
(cd "$src" && find . -type f -printf '%P\0' | sort -z) >"$scratch/copied"
comm -z -13 "$scratch/files" "$scratch/copied" | (cd "$src" && xargs -0 -r rm -f --)

if [ ! -f "$bld/build.ninja" ]; then
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRYVANE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi

build() { nice cmake --build "$bld" -j2 --target "$@" >"$scratch/build.log" 2>&1; }

run_tests() {  # program selection
  local program=$1 selection=$2
  if [ "$program" = gui_tests ]; then
    # shellcheck disable=SC2086
    timeout 600 "$bld/tests/$program" $selection >"$scratch/test.log" 2>&1
  else
    timeout 600 "$bld/tests/$program" --gtest_filter="$selection" >"$scratch/test.log" 2>&1
  fi
}

# Substitutes each text of $FROM in the file by the matching one of $TO, in order; fails (3) when
# one is not found, or (4) when it occurs more than once.
apply() {
  FROM=$2 TO=$3 SEP=$sep perl -e '
    local $/; open(my $in, "<", $ARGV[0]) or die; my $s = <$in>; close $in;
    my @from = split(/\Q$ENV{SEP}\E/, $ENV{FROM}, -1);
    my @to = split(/\Q$ENV{SEP}\E/, $ENV{TO}, -1);
    for my $k (0 .. $#from) {
      my $at = index($s, $from[$k]); exit 3 if $at < 0;
      exit 4 if index($s, $from[$k], $at + 1) >= 0;
      substr($s, $at, length($from[$k])) = $to[$k];
    }
    open(my $out, ">", $ARGV[0]) or die; print $out $s; close $out;' "$1"
}

# The unchanged sources must build and pass every test named, or a "caught" means nothing.
programs_needed=$(for i in "${selected[@]}"; do echo "${programs[$i]}"; done | sort -u)
# shellcheck disable=SC2086
build $programs_needed || { cat "$scratch/build.log"; echo "the unchanged sources do not build"; exit 1; }
for i in "${selected[@]}"; do
  if ! run_tests "${programs[$i]}" "${selections[$i]}"; then
    tail -20 "$scratch/test.log"
    echo "tests for ${names[$i]} fail on the unchanged sources"
    exit 1
  fi
  if grep -q "Running 0 tests" "$scratch/test.log"; then
    echo "no test matches ${selections[$i]} (for ${names[$i]}) in ${programs[$i]}"
    exit 1
  fi
done

survivors=()
for i in "${selected[@]}"; do
  name=${names[$i]} file=${files[$i]}
  cp "$src/$file" "$scratch/original"
  applied=0
  apply "$src/$file" "${froms[$i]}" "${tos[$i]}" || applied=$?
  if [ "$applied" -ne 0 ]; then
    if [ "$applied" -eq 4 ]; then
      echo "NOT APPLIED  $name ($file: text found more than once)"
    else
      echo "NOT APPLIED  $name ($file: text not found)"
    fi
    survivors+=("$name")
    continue
  fi
  if ! build "${programs[$i]}"; then
    echo "NO BUILD     $name (see $scratch/build.log)"
    cp "$scratch/build.log" "$scratch/$name.build.log"
    survivors+=("$name")
  elif run_tests "${programs[$i]}" "${selections[$i]}"; then
    echo "SURVIVED     $name ($file; ${programs[$i]} ${selections[$i]} passed)"
    survivors+=("$name")
  else
    echo "killed       $name"
  fi
  # A fresh modification time, so that the next build compiles the original again.
  cp "$scratch/original" "$src/$file"
  touch "$src/$file"
done

if [ ${#survivors[@]} -gt 0 ]; then
  echo "${#survivors[@]} of ${#selected[@]} faults survived: ${survivors[*]}"
  exit 1
fi
echo "all ${#selected[@]} faults were caught"
