#!/bin/bash
# Usage: options_agree.sh PROGRAM MANPAGE COMPLETION
# Every option and variable that PROGRAM -h prints is named by its manual page, and the bash
# completion offers exactly the options -h prints.
set -eo pipefail
name=$(basename "$1")
help=$("$1" -h | grep -oE -- '(^| )--?[a-zA-Z][a-z-]*|HANDVIEW_[A-Z_]+' | tr -d ' ' | sort -u)
page=$(sed 's/\\-/-/g' "$2")
for word in $help; do
  grep -qF -- "$word" <<<"$page" || { echo "$2 lacks $word"; exit 1; }
done
. /usr/share/bash-completion/bash_completion
. "$3"
COMP_WORDS=("$name" -) COMP_CWORD=1 COMP_LINE="$name -" COMP_POINT=$((${#name} + 2))
$(complete -p "$name" | awk '{ print $3 }') "$name" - "$name"
diff -u --label "$name -h" --label completion <(grep -- '^-' <<<"$help") <(printf '%s\n' "${COMPREPLY[@]%=}" | sort -u)
