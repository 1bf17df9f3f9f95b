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
set -eu
[ $# -ge 4 ] || { echo "usage: $0 LIST OUTPUT-FOLDER PARTS HOST..." >&2; exit 2; }
list=$1 out=$2 parts=$3
shift 3
logins=$(printf '1/%s,' "$@")
seq "$parts" | parallel --sshlogin "${logins%,}" --joblog "$list.parallel-log" --resume-failed --line-buffer --tag -q \
  inkhaven-batch --shard "{}/$parts" --format doc,pdf "$list" "$out"
