#!/bin/sh
# The letters of one list made on several machines with GNU parallel over ssh: PARTS parts
# of the list (--shard K/N), one at a time on each host, into one output folder that every
# host sees at the same path (a shared file system), each letter under the name a single run
# of the whole list gives it.
#
#   deploy/parallel/letters-over-ssh.sh /shared/prospects.csv /shared/letters 100 host1 host2 host3
#
# Run again with the same arguments, it runs only the parts that did not finish (its job log
# is kept beside the list), and each skips the letters it has made already: a part ends with
# 0 once all its letters are there, and with 1 only when some of its rows give no letter.
#
# The list's and the folder's names reach parallel as input, never in its command template,
# where "{= ... =}" would be run as Perl: parallel quotes them for the remote shell.
set -eu
[ $# -ge 4 ] || { echo "usage: $0 LIST OUTPUT-FOLDER PARTS HOST..." >&2; exit 2; }
list=$1 out=$2 parts=$3
shift 3
case $parts in
    '' | *[!0-9]* | 0) echo "$0: PARTS must be a whole number above 0, not \"$parts\"" >&2; exit 2 ;;
esac
logins=$(printf '1/%s,' "$@")
seq "$parts" | parallel --sshlogin "${logins%,}" --joblog "$list.parallel-log" --resume-failed --line-buffer \
  --tagstring '{1}' inkhaven-batch --shard '{1}/{2}' --format doc,pdf '{3}' '{4}' \
  :::: - ::: "$parts" ::: "$list" ::: "$out"
