#!/bin/sh
# pvtool on pool files and journals that the plugin wrote through our host:
# a journal to fold, one with a torn end, one made on an older version of its
# file and one a running server holds; and a hand-edited file.
# usage: pvtool_test.sh PVTOOL PVHOST PLUGIN [EMULATOR]
set -u
pvtool=$(realpath "$1")
pvhost=$(realpath "$2")
plugin=$(realpath "$3")
emulator=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/pvtool-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

# Native calls, one per line, through the plugin.
host() { printf '%s\n' "$@" >calls.txt && $emulator "$pvhost" "$plugin" calls.txt >host.out 2>&1; }

# expect STATUS TEXT COMMAND FILE: pvtool exits with STATUS and prints a
# line holding TEXT (on either stream).
expect() {
  $emulator "$pvtool" "$3" "$4" >out.txt 2>&1
  status=$?
  if [ "$status" != "$1" ] || ! grep -qF -- "$2" out.txt; then
    echo "FAILED: pvtool $3 $4: exit $status, wanted $1 and a line with: $2"
    sed 's/^/  | /' out.txt
    failures=$((failures + 1))
  fi
}

fingerprint() { sha256sum scriptfiles/* 2>/dev/null; }

# A saved file, then changes only the journal holds, as after a crash.
host "HLoad bank bank.txt 1" "HAddInt bank alice 100" "HAddInt bank bob 20" "HSave bank" \
  "HInc bank alice 50" "HAdd bank \"two\\nlines\" x" "HDel bank bob" "HAdd bank carol 7"
before=$(fingerprint)
expect 0 '"alice" = "150"  [journal]' show scriptfiles/bank.txt
expect 0 '# deleted by the journal: "bob"' show scriptfiles/bank.txt
expect 1 'key "two\nlines" from the journal cannot be written as a pair of lines' check scriptfiles/bank.txt
expect 1 '5 records, 4 of them changes; 4 apply to the file as it is' check scriptfiles/bank.txt
expect 0 'version  17 bytes' journal scriptfiles/bank.txt
expect 0 'delete   "bob"  *' journal scriptfiles/bank.txt
expect 0 'set      "two\nlines" "x"  *' journal scriptfiles/bank.txt
[ "$(fingerprint)" = "$before" ] || { echo "FAILED: show, check or journal changed a file"; failures=$((failures + 1)); }

# Torn: the last record lost its last two bytes.
cp scriptfiles/bank.txt.journal whole.journal
truncate -s -2 scriptfiles/bank.txt.journal
expect 1 'bank.txt.journal:@68: 11 bytes of a torn or corrupt record' check scriptfiles/bank.txt
expect 0 '@59       delete' journal scriptfiles/bank.txt
grep -q '"carol"' out.txt && { echo "FAILED: the torn record was listed"; failures=$((failures + 1)); }
expect 0 '"alice" = "150"  [journal]' show scriptfiles/bank.txt
cp whole.journal scriptfiles/bank.txt.journal

# A server holds the journal: fold is refused and changes nothing.
rm -f to-host && mkfifo to-host
$emulator "$pvhost" "$plugin" - <to-host >held.out 2>&1 &
server=$!
exec 3>to-host
echo "HLoad bank bank.txt 1" >&3
for _ in $(seq 100); do grep -q '^  = 1' held.out && break; sleep 0.1; done
before=$(fingerprint)
expect 2 'bank.txt.journal: a server holds it' fold scriptfiles/bank.txt
[ "$(fingerprint)" = "$before" ] || { echo "FAILED: a refused fold changed a file"; failures=$((failures + 1)); }
exec 3>&-
wait "$server"

# Folded: the plugin then loads the journal's changes from the file alone.
expect 0 '3 entries saved, 4 changes folded in' fold scriptfiles/bank.txt
grep -qF '1 entry not written' out.txt || { echo "FAILED: fold did not count the key it could not write"; failures=$((failures + 1)); }
host "HLoad bank bank.txt" "HGetInt bank alice" "HExists bank bob" "HGetInt bank carol"
grep -A1 'HGetInt bank alice' host.out | grep -q '= 150' &&
  grep -A1 'HExists bank bob' host.out | grep -q '= 0' &&
  grep -A1 'HGetInt bank carol' host.out | grep -q '= 7' ||
  { echo "FAILED: the folded file does not hold the journal's changes:"; cat host.out; failures=$((failures + 1)); }
expect 0 '0 apply to the file as it is' check scriptfiles/bank.txt
expect 0 'no journal, nothing to fold' fold scriptfiles/none.txt

# No file yet: the journal alone names the missing file, and fold makes it.
host "HLoad fresh fresh.txt 1" "HAdd fresh \"q\\\"b\\\\s\" \"a b\"" "HAddInt fresh n 5"
expect 0 '"q\"b\\s" = "a b"  [journal]' show scriptfiles/fresh.txt
expect 0 'version  no file  = the file as it is' journal scriptfiles/fresh.txt
expect 0 '2 entries saved, 2 changes folded in' fold scriptfiles/fresh.txt
expect 0 '"n" = "5"' show scriptfiles/fresh.txt
grep -q 'journal' out.txt && { echo "FAILED: a folded journal still shows"; failures=$((failures + 1)); }

# A journal of an older version: another pool saved the file since.
host "HLoad bank bank.txt 1" "HAddInt bank alice 1" "HLoad other bank.txt" "HAddInt other dave 4" \
  "HSave other"
expect 1 'made on another version of the file' check scriptfiles/bank.txt
expect 0 '"dave" = "4"' show scriptfiles/bank.txt
expect 0 '0 apply to scriptfiles/bank.txt as it is' journal scriptfiles/bank.txt
saved=$(sha256sum <scriptfiles/bank.txt)
expect 1 'set aside as scriptfiles/bank.txt.journal.stale' fold scriptfiles/bank.txt
[ -f scriptfiles/bank.txt.journal.stale ] && [ "$(sha256sum <scriptfiles/bank.txt)" = "$saved" ] ||
  { echo "FAILED: a stale journal was folded in, or not set aside"; failures=$((failures + 1)); }

# A hand-edited file: each thing a load passes over or takes off, by line.
printf '\nalpha\n1\ngamma\r\n2\r\r\nalpha\n3\nbeta\n\nzz\nab\0cd\n\377"\n1\n\377"\n2\ndelta\n' >scriptfiles/edited.txt
$emulator "$pvtool" check scriptfiles/edited.txt >out.txt 2>&1
status=$?
cat >want.txt <<'WANT'
scriptfiles/edited.txt:1: a blank line where a key is expected; a load passes over it
scriptfiles/edited.txt:4: 1 carriage return at the end of the key; a load takes it off
scriptfiles/edited.txt:5: 2 carriage returns at the end of the value; a load takes them off
scriptfiles/edited.txt:6: key "alpha" repeats the key of line 2; the later value wins
scriptfiles/edited.txt:11: a zero byte in the value; a load keeps only the 2 bytes before it
scriptfiles/edited.txt:14: key "\xFF\"" repeats the key of line 12; the later value wins
scriptfiles/edited.txt:16: key "delta" has no value line after it; a load drops it
scriptfiles/edited.txt:9: key "beta" has an empty value; a load keeps it, a save leaves it out
WANT
if [ "$status" != 1 ] || ! diff want.txt out.txt; then
  echo "FAILED: check of a hand-edited file: exit $status"
  failures=$((failures + 1))
fi

# Files that cannot be read, and paths that are not pool files.
expect 2 'pvtool: scriptfiles/none.txt: No such file or directory' show scriptfiles/none.txt
expect 2 'pvtool: scriptfiles: Is a directory' check scriptfiles
expect 2 "one of the plugin's own files" show scriptfiles/bank.txt.journal
expect 2 'usage: pvtool' frob scriptfiles/bank.txt
$emulator "$pvtool" --help | grep -q '^  fold FILE' || { echo "FAILED: --help"; failures=$((failures + 1)); }
printf 'not a journal' >scriptfiles/bad.txt.journal
expect 1 'not a journal: it does not start with the journal mark' check scriptfiles/bad.txt
expect 2 'not a journal' journal scriptfiles/bad.txt

[ "$failures" = 0 ] && echo "pvtool: all cases passed"
exit $((failures > 0))
