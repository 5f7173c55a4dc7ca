# bash completion for kryvane-cli. The cipher and hash names come from the program itself
# (`kryvane-cli list --names`), so they are never written down twice.

_kryvane_cli_names() {
  local program=${COMP_WORDS[0]}
  "${program/#\~/$HOME}" list --names "$1" 2>/dev/null
}

_kryvane_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  # The command path: the words before the cursor that are commands, not options or values.
  local command="" i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case "$command:$word" in
      :encrypt | :decrypt | :identify | :hash | :text | :list | :selftest | :convert | :recover) command=$word ;;
      text:encrypt | text:decrypt) command="text $word" ;;
    esac
  done

  # In convert, -r names a recipient and these take files or variables.
  if [[ $command == convert ]]; then
    case "$prev" in
      -r | --recipient | --work-factor | --suffix | --legacy-suffix | -j | --jobs) return ;;
      -R | --recipients-file | -i | --identity | --new-passphrase-file | --check)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
      --new-passphrase-env)
        mapfile -t COMPREPLY < <(compgen -e -- "$cur")
        return ;;
    esac
  fi

  if [[ $command == recover ]]; then
    case "$prev" in
      --like | --mask | -1 | -2 | -3 | -4 | --custom-charset[1-4] | --increment-min | \
        --increment-max | -j | --jobs | --skip | --limit | --node) return ;;
      --wordlist | --rules | --like-file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
    esac
  fi

  case "$prev" in
    -c | --cipher)
      mapfile -t COMPREPLY < <(compgen -W "$(_kryvane_cli_names ciphers)" -- "$cur")
      return ;;
    -H | --hash)
      mapfile -t COMPREPLY < <(compgen -W "$(_kryvane_cli_names hashes)" -- "$cur")
      return ;;
    --encoding)
      mapfile -t COMPREPLY < <(compgen -W "auto cp1252 utf-8" -- "$cur")
      return ;;
    --passphrase-env)
      mapfile -t COMPREPLY < <(compgen -e -- "$cur")
      return ;;
    --passphrase-file | --settings | --decrypt)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --output-dir)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return ;;
    --suffix | -j | --jobs)
      return ;;
  esac

  local words="" files=""
  local keyed="-c --cipher -H --hash --passphrase-file --passphrase-env --settings --encoding"
  local batch="--output-dir -r --recursive --suffix -j --jobs --force"
  case "$command" in
    "") words="encrypt decrypt identify hash text list selftest convert recover -h --help --version" ;;
    encrypt) words="$keyed $batch --delete-source --save-settings --progress --no-progress -h --help"
      files=1 ;;
    decrypt) words="$keyed $batch --use-settings --delete-source --progress --no-progress -h --help"
      files=1 ;;
    identify) words="$keyed --decrypt -h --help"
      files=1 ;;
    hash) words="-H --hash --check -j --jobs -h --help"
      files=1 ;;
    text) words="encrypt decrypt -h --help" ;;
    "text encrypt" | "text decrypt") words="$keyed -h --help" ;;
    list) words="ciphers hashes --names --paths -h --help" ;;
    selftest) words="-h --help" ;;
    convert) words="$keyed -r --recipient -R --recipients-file --to-passphrase --new-passphrase-file
      --new-passphrase-env --work-factor -a --armor --verify --delete-source --force --progress --no-progress
      --check -i --identity --output-dir --recursive --suffix --legacy-suffix -j --jobs --overwrite
      --use-settings -h --help"
      files=1 ;;
    recover) words="--like --like-file --wordlist --rules --mask -1 -2 -3 -4 --custom-charset1
      --custom-charset2 --custom-charset3 --custom-charset4 --increment --increment-min
      --increment-max --stdout -c --cipher -H --hash --settings --encoding -j --jobs --skip --limit
      --node --restore --fresh --progress --no-progress -h --help"
      files=1 ;;
  esac
  if [[ -n $files && $cur != -* ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  # Options only once a dash is typed, as the other shells do.
  if [[ $cur != -* ]]; then
    local word commands=""
    for word in $words; do [[ $word == -* ]] || commands+=" $word"; done
    words=$commands
  fi
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

complete -F _kryvane_cli kryvane-cli
