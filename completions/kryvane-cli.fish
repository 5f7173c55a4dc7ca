# fish completion for kryvane-cli. The cipher and hash names come from the program itself
# (`kryvane-cli list --names`), so they are never written down twice.

function __kryvane_cli_names -a menu
    set -l program (commandline -opc)[1]
    $program list --names $menu 2>/dev/null
end

set -l commands encrypt decrypt identify hash text list selftest convert recover
set -l keyed '__fish_seen_subcommand_from encrypt decrypt convert; or __fish_seen_subcommand_from text; and __fish_seen_subcommand_from encrypt decrypt'
set -l jobs '__fish_seen_subcommand_from encrypt decrypt; and not __fish_seen_subcommand_from text'

complete -c kryvane-cli -f
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c kryvane-cli -s h -l help -d 'Show the usage'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a encrypt -d 'Encrypt SOURCE into TARGET'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a decrypt -d 'Decrypt SOURCE into TARGET'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a identify -d 'Find the cipher and hash that decrypt SOURCE'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a hash -d 'Print or check digests of files'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a text -d 'Encrypt or decrypt a text as Base64'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a list -d 'List the cipher and hash menus'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a selftest -d 'Run the known-answer test of every class'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a convert -d 'Re-encrypt a legacy file into an age file, or check one'
complete -c kryvane-cli -n "not __fish_seen_subcommand_from $commands" -a recover -d 'Find a forgotten passphrase of your own file'

# encrypt, decrypt, text encrypt, text decrypt
complete -c kryvane-cli -n $keyed -s c -l cipher -x -a '(__kryvane_cli_names ciphers)' -d Cipher
complete -c kryvane-cli -n "$keyed; or __fish_seen_subcommand_from hash" -s H -l hash -x -a '(__kryvane_cli_names hashes)' -d Hash
complete -c kryvane-cli -n $keyed -l passphrase-file -r -F -d 'Read the passphrase from a file'
complete -c kryvane-cli -n $keyed -l passphrase-env -x -a '(set -n -x)' -d 'Read the passphrase from an environment variable'
complete -c kryvane-cli -n $keyed -l settings -r -F -d 'Passphrase, cipher and hash from a settings file'
complete -c kryvane-cli -n $keyed -l encoding -x -a 'auto cp1252 utf-8' -d 'How the passphrase becomes bytes'

# encrypt and decrypt of files
complete -c kryvane-cli -n $jobs -F
complete -c kryvane-cli -n $jobs -l delete-source -d 'Delete the source after success'
complete -c kryvane-cli -n $jobs -l progress -d 'Show a progress bar'
complete -c kryvane-cli -n $jobs -l no-progress -d 'Show no progress bar'
complete -c kryvane-cli -n "__fish_seen_subcommand_from encrypt; and not __fish_seen_subcommand_from text" -l save-settings -d 'Write SOURCE-settings.txt beside the source'
complete -c kryvane-cli -n $jobs -l output-dir -x -a '(__fish_complete_directories)' -d 'Process every source into this folder'
complete -c kryvane-cli -n $jobs -s r -l recursive -d 'With --output-dir: the files in source folders'
complete -c kryvane-cli -n $jobs -l suffix -x -d 'With --output-dir: added to encrypted names, removed from decrypted ones'
complete -c kryvane-cli -n $jobs -s j -l jobs -x -d 'With --output-dir: files processed at once'
complete -c kryvane-cli -n $jobs -l force -d 'With --output-dir: replace targets that exist'
complete -c kryvane-cli -n "__fish_seen_subcommand_from decrypt; and not __fish_seen_subcommand_from text" -l use-settings -d 'With --output-dir: each file keyed by the settings file beside it'

# convert
set -l convert '__fish_seen_subcommand_from convert'
complete -c kryvane-cli -n $convert -F
complete -c kryvane-cli -n $convert -s r -l recipient -x -d 'An age1... recipient'
complete -c kryvane-cli -n $convert -s R -l recipients-file -r -F -d 'A file of recipients'
complete -c kryvane-cli -n $convert -l to-passphrase -d 'Encrypt to a new passphrase'
complete -c kryvane-cli -n $convert -l new-passphrase-file -r -F -d 'Read the new passphrase from a file'
complete -c kryvane-cli -n $convert -l new-passphrase-env -x -a '(set -n -x)' -d 'Read the new passphrase from an environment variable'
complete -c kryvane-cli -n $convert -l work-factor -x -d 'scrypt work factor, log2 of N'
complete -c kryvane-cli -n $convert -s a -l armor -d 'Write the PEM text form'
complete -c kryvane-cli -n $convert -l verify -d 'Read the age file back and match it'
complete -c kryvane-cli -n $convert -l delete-source -d 'Delete the source once the age file is verified'
complete -c kryvane-cli -n $convert -l force -d 'Convert even a decryption that looks random'
complete -c kryvane-cli -n $convert -l progress -d 'Show a progress bar'
complete -c kryvane-cli -n $convert -l no-progress -d 'Show no progress bar'
complete -c kryvane-cli -n $convert -l check -r -F -d 'Authenticate an age file'
complete -c kryvane-cli -n $convert -s i -l identity -r -F -d 'A file of identities, for --check'
complete -c kryvane-cli -n $convert -l output-dir -x -a '(__fish_complete_directories)' -d 'Convert every source into this folder'
complete -c kryvane-cli -n $convert -l recursive -d 'With --output-dir: the files in folders'
complete -c kryvane-cli -n $convert -l suffix -x -d 'With --output-dir: added to target names'
complete -c kryvane-cli -n $convert -l legacy-suffix -x -d 'With --output-dir: removed from source names'
complete -c kryvane-cli -n $convert -s j -l jobs -x -d 'With --output-dir: files at once'
complete -c kryvane-cli -n $convert -l overwrite -d 'With --output-dir: replace age files that exist'
complete -c kryvane-cli -n $convert -l use-settings -d 'With --output-dir: each key from its settings file'

# identify
set -l identify '__fish_seen_subcommand_from identify'
complete -c kryvane-cli -n $identify -F
complete -c kryvane-cli -n $identify -s c -l cipher -x -a '(__kryvane_cli_names ciphers)' -d 'Search only this cipher'
complete -c kryvane-cli -n $identify -s H -l hash -x -a '(__kryvane_cli_names hashes)' -d 'Search only this hash'
complete -c kryvane-cli -n $identify -l passphrase-file -r -F -d 'Read the passphrase from a file'
complete -c kryvane-cli -n $identify -l passphrase-env -x -a '(set -n -x)' -d 'Read the passphrase from an environment variable'
complete -c kryvane-cli -n $identify -l settings -r -F -d 'Passphrase from a settings file'
complete -c kryvane-cli -n $identify -l encoding -x -a 'auto cp1252 utf-8' -d 'How the passphrase becomes bytes'
complete -c kryvane-cli -n $identify -l decrypt -r -F -d 'Decrypt into TARGET with the best candidate'

# hash, text, list
complete -c kryvane-cli -n '__fish_seen_subcommand_from hash' -F
complete -c kryvane-cli -n '__fish_seen_subcommand_from hash' -l check -d 'Verify the digest lines in each FILE'
complete -c kryvane-cli -n '__fish_seen_subcommand_from hash' -s j -l jobs -x -d 'Files hashed at once'
complete -c kryvane-cli -n '__fish_seen_subcommand_from text; and not __fish_seen_subcommand_from encrypt decrypt' -a 'encrypt decrypt'
complete -c kryvane-cli -n '__fish_seen_subcommand_from list' -a 'ciphers hashes'
complete -c kryvane-cli -n '__fish_seen_subcommand_from list' -l names -d 'Only the short names'
complete -c kryvane-cli -n '__fish_seen_subcommand_from list' -l paths -d 'The processor path each algorithm takes here'

# recover
set -l recover '__fish_seen_subcommand_from recover'
complete -c kryvane-cli -n $recover -F
complete -c kryvane-cli -n $recover -l like -x -d 'What you remember of the passphrase'
complete -c kryvane-cli -n $recover -l like-file -r -F -d 'What you remember, read from a file'
complete -c kryvane-cli -n $recover -l wordlist -r -F -d 'Candidates, one a line'
complete -c kryvane-cli -n $recover -l rules -r -F -d 'Rule file in hashcat syntax'
complete -c kryvane-cli -n $recover -l mask -x -d 'Mask in hashcat syntax'
complete -c kryvane-cli -n $recover -s 1 -l custom-charset1 -x -d 'Custom charset ?1'
complete -c kryvane-cli -n $recover -s 2 -l custom-charset2 -x -d 'Custom charset ?2'
complete -c kryvane-cli -n $recover -s 3 -l custom-charset3 -x -d 'Custom charset ?3'
complete -c kryvane-cli -n $recover -s 4 -l custom-charset4 -x -d 'Custom charset ?4'
complete -c kryvane-cli -n $recover -l increment -d 'Also the shorter prefixes of the mask'
complete -c kryvane-cli -n $recover -l increment-min -x -d 'Shortest prefix'
complete -c kryvane-cli -n $recover -l increment-max -x -d 'Longest prefix'
complete -c kryvane-cli -n $recover -l stdout -d 'Print the candidates instead of trying them'
complete -c kryvane-cli -n $recover -s c -l cipher -x -a '(__kryvane_cli_names ciphers)' -d 'Cipher to try'
complete -c kryvane-cli -n $recover -s H -l hash -x -a '(__kryvane_cli_names hashes)' -d 'Hash to try'
complete -c kryvane-cli -n $recover -l settings -r -F -d 'The cipher and hash a settings file names'
complete -c kryvane-cli -n $recover -l encoding -x -a 'auto cp1252 utf-8' -d 'How candidates become bytes'
complete -c kryvane-cli -n $recover -s j -l jobs -x -d 'Threads'
complete -c kryvane-cli -n $recover -l skip -x -d 'Start at this position'
complete -c kryvane-cli -n $recover -l limit -x -d 'Try at most this many positions'
complete -c kryvane-cli -n $recover -l node -x -d 'This machine share K/N'
complete -c kryvane-cli -n $recover -l restore -d 'Go on from where the search stopped'
complete -c kryvane-cli -n $recover -l fresh -d 'Start over, replacing a restore point'
complete -c kryvane-cli -n $recover -l progress -d 'Show progress'
complete -c kryvane-cli -n $recover -l no-progress -d 'Show no progress'
