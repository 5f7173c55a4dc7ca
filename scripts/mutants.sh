#!/usr/bin/env bash
# Plants small, realistic faults one at a time in a scratch copy of the sources, builds, and runs
# the test that should catch each; prints which faults survive. Exit status 0 only when every
# fault was caught, 1 otherwise (a fault whose pattern no longer matches, or that does not build,
# counts as a survivor: update the table).
#
#   scripts/mutants.sh            every fault in the table
#   scripts/mutants.sh NAME...    only the faults named (see the table below)
#
# The scratch copy and its build stay in build-mutants/ between runs (with ccache where it is
# installed), so a run rebuilds only what each fault touches. Not part of CI: it takes minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
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
mutant target-mode-kept app/base/atomic_output.cpp \
  'if (::fchmod(fd_.Get(), existing.st_mode & 07777) != 0) {' 'if (false) {' \
  cli_tests 'CliRefusals.ReplacedTargetKeepsItsMode'
mutant passphrase-file-one-line-end cli/keys.cpp \
  '  text.Resize(StripOneLineEnd(text.View()).size());' \
  $'  while (!text.empty() && (text.View().back() == \'\\n\' || text.View().back() == \'\\r\')) {\n    text.Resize(text.size() - 1);\n  }' \
  cli_tests 'CliOptions.PassphraseFromFilesAndSettings'
mutant default-hash cli/options.h 'std::string hash = "haval";' 'std::string hash = "sha1";' \
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
mutant named-temp-left-behind app/base/atomic_output.cpp \
  '  if (!tempName_.empty() && !committed_) ::unlinkat(folder_.Get(), tempName_.c_str(), 0);' '' \
  app_tests 'NamedTemporaryFiles.*'
mutant browse-without-dialog app/window/main_window.cpp \
  $'void MainWindow::BrowseTarget() {\n' $'void MainWindow::BrowseTarget() {\n  if (isVisible()) return;\n' \
  gui_tests 'cancelledBrowseKeepsTheField'
mutant identify-picks-among-several cli/cmd_identify.cpp '  if (search.plausible > 1) {' \
  '  if (search.plausible > 99) {' cli_tests 'CliIdentify.SeveralPlausibleCandidates'
mutant gzip-magic-alone app/detector.cpp 'return h.size() >= 18 && (h[3] & 0xE0) == 0;' \
  'return !h.empty();' \
  app_tests 'Detector.TableOfBuffers'
mutant nested-not-recognised app/identify.cpp \
  'if (inner.answer != IdentifyAnswer::kClear && inner.answer != IdentifyAnswer::kAmbiguous) {' \
  'if (true) {' app_tests 'Identify.NestedCiphertextUnderTheSamePassphrase'
mutant drop-refusal-accepted app/window/main_window.cpp \
  $'    event->setDropAction(Qt::IgnoreAction);\n    event->ignore();' \
  '    event->acceptProposedAction();' gui_tests 'refusedDropsSaySo'
mutant sha256-shani-schedule hashes/sha256.cpp \
  'if (g >= 1 && g <= 12) {' 'if (g >= 1 && g <= 11) {' \
  hashes_tests 'HashVectors.*'
mutant planner-keeps-slowest crypto/cpu.cpp \
  't.encryptTime < bestEncrypt * 0.97' 't.encryptTime > bestEncrypt * 0.97' \
  crypto_tests 'Cpu.MeasuredPlanKeepsTheFastestLevelOfEachDirection'
mutant limit-still-measures crypto/cpu.cpp \
  'if (tMeasuring || gAllowed.load(std::memory_order_relaxed) != ~0u) return {enabled, enabled};' \
  'if (tMeasuring) return {enabled, enabled};' \
  crypto_tests 'Cpu.LimitTakesTheWidestAllowedPathWithoutMeasuring'
# Faults the suite caught before these tests were written.
mutant cbc-tail crypto/block_ciphers.h \
  'for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ cv_[j]);' \
  'for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ cv_[B - 1 - j]);' \
  crypto_tests 'BlockModes.TailRuleOfEveryMode'
mutant blowfish-byte-order ciphers/blowfish.cpp 'uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);' \
  'uint32_t l = LoadLe32(in), r = LoadLe32(in + 4);' ciphers_tests 'BlockVectors.*'
mutant haval-pad hashes/haval.h 'static constexpr uint8_t kPad = 0x80;' \
  'static constexpr uint8_t kPad = 0x01;' hashes_tests '*'
mutant rc4-index-restart ciphers/rc4.cpp '  std::size_t jr = 0;' '  static std::size_t jr = 0;' \
  ciphers_tests 'Rc4*'
also '[s, &jr]' '[s]'
mutant settings-trailing-blanks app/settings_file.cpp \
  'if (TrimBlanks(value).size() != value.size() || framed) {' \
  'if (TrimBlanks(value).data() != value.data() || framed) {' \
  app_tests 'Settings*:FileJob.*Settings*'
mutant same-file-by-name app/file_job.cpp \
  $'    RefuseSourceAsTarget();\n    if (S_ISDIR(target_.st_mode))' '    if (S_ISDIR(target_.st_mode))' \
  app_tests 'FileJob.SourceAndTargetNamingTheSameFileAreRefused'
mutant cp1252-euro app/codepage.cpp '0x20AC, 0x0081, 0x201A,' '0x20AD, 0x0081, 0x201A,' \
  app_tests 'Passphrase*'
mutant cli-usage-status cli/report.h 'inline constexpr int kExitUsage = 2;' \
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
mutant kept-secret-page-unwiped app/base/secret.cpp \
  $'  SecureZero(p, bytes);\n  if (bytes == PageSize()' $'  if (bytes == PageSize()' \
  base_tests 'ReusedMemory.SecretPagesComeBackWiped'
mutant batch-follows-swapped-link cli/file_batch.cpp \
  '    request.sourceNoFollow = item.root != BatchItem::kNamed;' '' \
  cli_tests 'Batch.FileSwappedForALinkAfterPlanningIsRefused'
mutant batch-writes-through-target-link cli/file_batch.cpp \
  '    request.targetFolder = targetFolder->Get();' '    request.targetNoFollow = false;' \
  cli_tests 'Batch.ReplacingNeverWritesThroughALink'
also '    request.targetNoFollow = true;' ''
mutant batch-opens-folders-by-path cli/file_batch.cpp \
  $'                                : OpenFolderBeneath(plan.roots[item.root]->Get(), item.folder,\n                                                    plan.rootNames[item.root]);' \
  '                                : OpenParentFolder(item.source);' \
  cli_tests 'HostileUse.SubfolderSwappedForALinkDuringABatch'
mutant target-wider-than-source app/file_job.cpp \
  '    if (sourceOwned_ && S_ISREG(source_.st_mode)) output_->LimitMode(source_.st_mode & 07777);' \
  '' cli_tests 'HostileUse.TargetModeIsNoWiderThanTheSource'
mutant target-refilled-for-its-owner app/base/atomic_output.cpp \
  'if (replaces_ && existing.st_uid == ::geteuid()) {' 'if (replaces_) {' \
  cli_tests 'HostileUse.ReplacedTargetBelongsToTheJobsUser'
also 'if (::fchown(fd_.Get(), uid_t(-1), existing.st_gid) != 0) {' \
  'if (::fchown(fd_.Get(), existing.st_uid, existing.st_gid) != 0) {'
mutant closed-stdout-is-dev-null cli/options.cpp \
  '      (*fd <= STDERR_FILENO && StandardDescriptorWasClosed(*fd)) || ::fcntl(*fd, F_GETFD) < 0;' \
  '      false;' \
  cli_tests 'HostileUse.ClosedStandardDescriptorIsAnError'
mutant dev-stdout-replaced cli/options.cpp '  if (name == "/dev/stdout") return STDOUT_FILENO;' '' \
  cli_tests 'HostileUse.StandardStreamNamesAreTheirDescriptors'
mutant settings-fifo-blocks app/settings_file.cpp \
  '  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0);' \
  '  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | (noFollow ? O_NOFOLLOW : 0);' \
  cli_tests 'HostileUse.SettingsFifoIsRefusedWithoutBlocking'
also '  if (!S_ISREG(st.st_mode)) throw SettingsError(path, "open", "it is not a regular file");' ''
mutant grown-source-deleted app/file_job.cpp \
  $'    if (!SameContentState(there, source_)) {\n      return keep(' \
  $'    if (false) {\n      return keep(' \
  cli_tests 'HostileUse.ConvertKeepsASourceThatGrew'
also $'    if (S_ISREG(source_.st_mode) &&\n        (::fstat(sourceFd_, &now) != 0 || !SameContentState(now, source_))) {' \
  $'    if (false) {'
also '    if (outcome_.bytes != static_cast<uint64_t>(source_.st_size)) {' '    if (false) {'
mutant delete-before-verified app/file_job.cpp \
  '      if (verifying) VerifyTarget();' '      if (verifying) outcome_.verified = true;' \
  cli_tests 'CrashOrder.*'
mutant delete-before-folder-flush app/file_job.cpp \
  '        output_->Commit(true, !request_.folderFlushedLater || request_.deleteSource);' \
  '        output_->Commit(true, false);' \
  cli_tests 'CrashOrder.*'
mutant forced-convert-deletes app/file_job.cpp \
  '    if (auto why = ReasonToKeepSource()) return keep(std::move(*why));' '' \
  cli_tests 'HostileUse.ForcedConvertNeverDeletesItsSource'
mutant usage-error-after-output-folder cli/file_batch.cpp \
  '  const BatchPlan plan = PlanBatch(command.paths, options, command.direction);' \
  $'  OutputTree early(options.outputDir);\n  early.Folder("");\n  const BatchPlan plan = PlanBatch(command.paths, options, command.direction);' \
  cli_tests 'HostileUse.BatchRefusesBeforeTouchingTheDisk'
mutant kept-buffer-unwiped app/base/io_pipeline.cpp '  used_[slot] = std::max(used_[slot], got);' '' \
  base_tests 'ReusedMemory.PipelineBuffersComeBackWiped'
mutant selftest-status-ignored cli/cmd_selftest.cpp '    *status = all ? kExitOk : kExitFailed;' \
  '    *status = all ? kExitOk : kExitOk;' cli_tests 'CliOptions.SelftestFailsWhenAClassFailsItsKnownAnswer'
mutant armor-any-width app/age/format.cpp \
  'if (shortSeen_ || line.empty() || line.size() > kColumns) {' 'if (line.empty()) {' \
  cli_tests 'Convert.CheckRefusesArmorWrappedAtOtherWidths'
mutant buffer-wiped-over-last-fill app/base/io_pipeline.cpp '  used_[slot] = std::max(used_[slot], got);' \
  '  used_[slot] = got;' base_tests 'ReusedMemory.PipelineBuffersAreWipedOverAllTheyEverHeld'
mutant raw-c1-shown app/base/text_util.cpp 'if (b <= 0x9F) {' 'if (false) {' \
  base_tests 'EscapeControls.*'
mutant bidi-override-shown app/base/text_util.cpp 'if (IsHiddenControl(code)) {' \
  'if (IsHiddenControl(code) && false) {' \
  cli_tests 'CliSafety.TerminalControlsAndOverridesInNamesAreEscaped'
mutant window-shows-overrides app/window/main_window.cpp '  const QString cause = Escaped(text);' \
  '  const QString cause = text;' gui_tests 'controlsInNamesAreEscaped'
mutant hash-check-no-bsd-form cli/digests.cpp 'if (!parsed) parsed = ParseTaggedLine(line);' \
  'if (!parsed && false) parsed = ParseTaggedLine(line);' \
  cli_tests 'HashCheck.AgreesWithCoreutils'
mutant age-armor-last-line-needs-eol app/age/format.cpp \
  '        if (part == AgeErrorKind::kArmor) return true;' '' \
  cli_tests 'AgeVectors.EveryVerdictThroughReaderAndCli'
mutant age-final-chunk-withheld app/age/format.cpp \
  '  if (!opened && !last) {' '  if (!opened && !last && in_->AtEnd()) {' \
  cli_tests 'AgeVectors.EveryVerdictThroughReaderAndCli'
mutant age-trailing-data-accepted app/age/format.cpp \
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

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$bld/build.ninja" ]; then
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRYVANE_BUILD_BENCH=OFF \
    "${launcher[@]}" >/dev/null
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
