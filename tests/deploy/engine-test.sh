# What the engine tests share; sourced by each, after it has set work (its folder) and,
# for writeList, programs (where inkhaven-batch is).

skip() { echo "SKIP: $*"; exit 77; }

# The logs in the test's folder, then the failure; the folder goes with the test's end.
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }; done >&2
    exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
waitFor() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}

# A TCP port nobody listens on.
freePort() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Writes a list of rows 2 to $2 at $1, the sender in every row, since a node keeps no
# settings of the window; then the names of the files a whole-list run gives, .doc and
# .pdf (from its dry run, which lists a row's files separated by ", "), into
# $work/expected, one per line, sorted.
writeList() {
    local list=$1 last=$2 row
    {
        echo "YourName,YourTitle,StreetAddress,City,ST,ZIPCode,RecipientName,Title,CompanyName,StreetAddress2,City2,ST2,ZIPCode2"
        for row in $(seq 2 "$last"); do
            echo "Tilda Marsh,Director,1 Main St,Boise,ID,83702,Person $row,Buyer,Company $((row % 150)),$row Oak Ave,Springfield,IL,62701"
        done
    } >"$list"
    "$programs/inkhaven-batch" --dry-run --format doc,pdf "$list" "$work/letters" 2>/dev/null |
        sed -n 's|^  row [0-9]*: ||p' | sed 's|, |\n|g' | sed 's|^.*/||' | sort >"$work/expected" ||
        fail "the dry run of the list failed"
    [ "$(wc -l <"$work/expected")" -eq $((2 * (last - 1))) ] || fail "the dry run named $(wc -l <"$work/expected") files"
}

# The files in $1 must be those of a whole-list run, nothing hidden or half-made among them.
checkLetters() {
    ls -A "$1" | sort >"$work/made"
    diff "$work/expected" "$work/made" >"$work/difference" || fail "the letters differ from a whole-list run's: $(head -20 "$work/difference")"
}
