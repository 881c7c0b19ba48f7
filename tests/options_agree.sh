#!/bin/bash
# Usage: options_agree.sh PROGRAM MANPAGE COMPLETION VERSION
# Every option and variable that PROGRAM -h prints is named by its manual page, and the bash
# completion offers exactly the options -h prints; -V names the version and the libraries; a
# misuse is one line naming the option and --help, and exit code 2.
set -eo pipefail
name=$(basename "$1")
help=$("$1" -h | grep -oE -- '(^| )--?[a-zA-Z][a-z-]*|HANDVIEW_[A-Z_]+' | tr -d ' ' | sort -u)
page=$(sed 's/\\-/-/g' "$2")
for word in $help; do grep -qF -- "$word" <<<"$page" || { echo "$2 lacks $word"; exit 1; }; done
[[ $("$1" -V | tr '\n' ' ') =~ ^$name\ $4\ (Assimp|OpenCV)\ [0-9.]+,\ (SDL|XNNPACK)\ [0-9] ]] || { echo "-V: $("$1" -V)"; exit 1; }
said=$("$1" --frobnicate 2>&1) && status=0 || status=$?
[[ $status == 2 && $said == "$name: unknown option --frobnicate; see $name --help" ]] || { echo "exit $status: $said"; exit 1; }
. /usr/share/bash-completion/bash_completion
. "$3"
COMP_WORDS=("$name" -) COMP_CWORD=1 COMP_LINE="$name -" COMP_POINT=$((${#name} + 2))
$(complete -p "$name" | awk '{ print $3 }') "$name" - "$name"
diff -u --label "$name -h" --label completion <(grep -- '^-' <<<"$help") <(printf '%s\n' "${COMPREPLY[@]%=}" | sort -u)
