#!/usr/bin/env bash
# Mutation testing of one source file: puts one small fault at a time into
# the file, rebuilds the test binary of its library and runs the tests that
# cover it. A mutant the tests do not notice points at a missing test.
#
#   scripts/mutate.sh [options] FILE
#     -b DIR     build folder (default build/test; a Release build without
#                sanitizers, e.g. build/mut, is several times faster)
#     -l A-B     only mutants on lines A to B
#     -n N       at most N mutants, spread evenly over the file (the same
#                N mutants each time while the file stays the same)
#     -m IDS     only the mutants of these numbers (comma list, as -s shows them)
#     -t SECS    time limit of one test run (default: 10 x the clean run, at least 20)
#     -f FILTER  gtest filter (default: the suites of the test files that
#                include FILE's header; -f '*' runs the whole binary)
#     -k KINDS   comma list of mutant kinds: cmp, arith, const, nocheck, negate (default all)
#     -s         list the mutants and stop
#     -q         print only survivors and the summary
#
# Every mutant ends as killed, survived or did-not-compile; a test run over
# the time limit counts as killed. The file is restored on every exit.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=build/test LINES="" MAXN=0 IDS="" LIMIT=0 FILTER="" KINDS="cmp,arith,const,nocheck,negate" LISTONLY=0 QUIET=0
usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 2; }
while getopts "b:l:n:m:t:f:k:sqh" opt; do
  case $opt in
    b) BUILD=$OPTARG ;; l) LINES=$OPTARG ;; n) MAXN=$OPTARG ;; m) IDS=$OPTARG ;; t) LIMIT=$OPTARG ;;
    f) FILTER=$OPTARG ;; k) KINDS=$OPTARG ;; s) LISTONLY=1 ;; q) QUIET=1 ;; *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || usage
cd "$ROOT" || exit 2
FILE=${1#"$ROOT"/}
[ -f "$FILE" ] || { echo "no such file: $FILE" >&2; exit 2; }
[[ $BUILD = /* ]] || BUILD=$ROOT/$BUILD

# The library is the deepest folder above FILE that tests/CMakeLists.txt
# names in a pictrova_test line; its binary is the one to rebuild.
TARGET="" LIBDIR=""
dir=$(dirname "$FILE")
while [ "$dir" != "." ] && [ -z "$TARGET" ]; do
  TARGET=$(awk -v d="$dir" '$1 ~ /^pictrova_test\(/ && $2 == d { sub(/^pictrova_test\(/, "", $1); print $1 }' tests/CMakeLists.txt)
  LIBDIR=$dir
  dir=$(dirname "$dir")
done
[ -n "$TARGET" ] || { echo "no test binary covers $FILE" >&2; exit 2; }
BIN=$BUILD/tests/$TARGET

if [ -z "$FILTER" ]; then
  header=${FILE%.*}.h
  suites=$(grep -rlF "\"$header\"" "tests/$LIBDIR" --include='*.cpp' --include='*.h' 2>/dev/null |
    xargs -r sed -n 's/^ *TEST\(_F\|_P\)\? *( *\([A-Za-z0-9_]*\) *,.*/\2/p' | sort -u)
  # Parameterised suites carry a prefix before their name.
  FILTER=$(for s in $suites; do printf '%s.*:*/%s.*:' "$s" "$s"; done)
  FILTER=${FILTER%:}
  [ -n "$FILTER" ] || FILTER='*'
fi

WORK=$(mktemp -d /tmp/mutate.XXXXXX)
cp -p "$FILE" "$WORK/original"

# ---- the mutants: one TSV line each (id, line, kind, what), the new line in WORK/<id>
python3 - "$WORK/original" "$WORK" "$LINES" "$MAXN" "$KINDS" "$IDS" <<'PY'
import re, sys
src, work, lines, maxn, kinds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), set(sys.argv[5].split(','))
ids = {int(i) for i in sys.argv[6].split(',') if i}
first, last = 1, 10**9
if lines:
    a, _, b = lines.partition('-')
    first, last = int(a or 1), int(b or 10**9)
text = open(src, encoding='utf-8', errors='surrogateescape').read().split('\n')

# Masks comments and string and character literals with blanks, so that
# nothing inside them is mutated; the line lengths stay the same.
def mask_all(text):
    out, block = [], False
    for line in text:
        m, i, n = list(line), 0, len(line)
        while i < n:
            if block:
                end = line.find('*/', i)
                stop = n if end < 0 else end + 2
                for k in range(i, stop): m[k] = ' '
                block, i = end < 0, stop
            elif line.startswith('//', i):
                for k in range(i, n): m[k] = ' '
                i = n
            elif line.startswith('/*', i):
                block = True
            elif line[i] in '"\'':
                q, k = line[i], i + 1
                while k < n and line[k] != q:
                    k += 2 if line[k] == '\\' else 1
                for j in range(i + 1, min(k, n)): m[j] = ' '
                i = k + 1
            else:
                i += 1
        out.append(''.join(m))
    return out

masked = mask_all(text)
mutants = []
def add(no, kind, start, end, new, what):
    line = text[no]
    mutants.append((no + 1, kind, line[:start] + new + line[end:], what))

def closing(s, i):  # index of the parenthesis closing the one at i, or -1
    depth = 0
    for k in range(i, len(s)):
        depth += {'(': 1, ')': -1}.get(s[k], 0)
        if depth == 0: return k
    return -1

swaps = {'<': '<=', '<=': '<', '>': '>=', '>=': '>', '==': '!=', '!=': '=='}
skip_line = re.compile(r'^\s*(#|static_assert|using |namespace |template\s*<|enum\b|\}?\s*$)')
for no, m in enumerate(masked):
    if not (first <= no + 1 <= last) or skip_line.match(m):
        continue
    if 'cmp' in kinds:
        for x in re.finditer(r'(?<=\s)(<=|>=|==|!=|<|>)(?=\s)', m):
            add(no, 'cmp', x.start(), x.end(), swaps[x.group(1)], f'{x.group(1)} -> {swaps[x.group(1)]}')
    if 'arith' in kinds:
        for x in re.finditer(r'(?<=[\w\)\]] )([+-])(?= [\w\(])', m):
            new = '-' if x.group(1) == '+' else '+'
            add(no, 'arith', x.start(), x.end(), new, f'{x.group(1)} -> {new}')
    if 'const' in kinds:
        # Only operands of an operator: the numbers of a data table are data.
        for x in re.finditer(r'(?<=[-+*/%&|<>=] )(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])'
                             r'|(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?= [-+*/%&|<>=!])', m):
            g = 1 if x.group(1) else 3
            num = x.group(g)
            v = int(num, 16 if num[:2] in ('0x', '0X') else 10)
            new = hex(v + 1) if num[:2] in ('0x', '0X') else str(v + 1)
            add(no, 'const', x.start(g), x.end(g), new, f'{num} -> {new}')
    for x in re.finditer(r'\b(if|while)\s*\(', m):
        open_at = x.end() - 1
        close_at = closing(m, open_at)
        if close_at < 0: continue
        cond = text[no][open_at + 1:close_at]
        rest = m[close_at + 1:].strip()
        if 'nocheck' in kinds and x.group(1) == 'if' and re.match(r'(return|throw|continue|break)\b', rest):
            add(no, 'nocheck', open_at + 1, close_at, 'false', 'check deleted')
        if 'negate' in kinds:
            add(no, 'negate', open_at + 1, close_at, f'!({cond})', 'condition inverted')

chosen = list(range(1, len(mutants) + 1))
if ids: chosen = [i for i in chosen if i in ids]
if 0 < maxn < len(chosen): chosen = [chosen[k * len(chosen) // maxn] for k in range(maxn)]
with open(f'{work}/list', 'w') as out:
    for i in chosen:
        no, kind, line, what = mutants[i - 1]
        open(f'{work}/{i}', 'w', encoding='utf-8', errors='surrogateescape').write(line + '\n')
        out.write(f'{i}\t{no}\t{kind}\t{what}\n')
PY
[ $? -eq 0 ] || { rm -rf "$WORK"; exit 2; }
TOTAL=$(wc -l < "$WORK/list")

if [ "$LISTONLY" -eq 1 ]; then
  while IFS=$'\t' read -r id no kind what; do
    printf '%4d  line %-4d %-8s %-22s %s\n' "$id" "$no" "$kind" "$what" "$(sed 's/^ *//' "$WORK/$id")"
  done < "$WORK/list"
  rm -rf "$WORK"
  exit 0
fi

# A new time stamp, so that the next build replaces the last mutant's object.
restore() {
  if ! cmp -s "$WORK/original" "$FILE"; then cp "$WORK/original" "$FILE"; fi
}
finish() {
  restore
  rm -rf "$WORK"
}
trap finish EXIT
trap 'echo; echo "interrupted: $FILE restored"; exit 130' INT TERM

build() { nice ninja -C "$BUILD" "$TARGET" > "$WORK/build.log" 2>&1; }
runtests() {
  # The shell's own word on a crashing mutant would only clutter the table.
  ( cd "$BUILD/tests" && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
      timeout -k 5 "$1" nice "$BIN" --gtest_filter="$FILTER" --gtest_fail_fast > "$WORK/test.log" 2>&1 ) 2> /dev/null
}

echo "$FILE: $TOTAL mutants, binary $TARGET, filter $FILTER"
# An earlier run stopped hard may have left a mutant's object behind.
touch "$FILE"
build || { echo "the clean build fails: see $BUILD" >&2; tail -n 20 "$WORK/build.log" >&2; exit 1; }
t0=$(date +%s%N)
runtests 600 || { echo "the tests fail without a mutant" >&2; tail -n 20 "$WORK/test.log" >&2; exit 1; }
clean=$(( ($(date +%s%N) - t0) / 1000000 ))
[ "$LIMIT" -gt 0 ] || LIMIT=$(( clean / 100 + 1 < 20 ? 20 : clean / 100 + 1 ))
echo "clean run ${clean} ms, time limit ${LIMIT} s"

# Mutant builds would only fill the shared compiler cache.
export CCACHE_DISABLE=1
killed=0 survived=0 broken=0
while IFS=$'\t' read -r id no kind what; do
  awk -v n="$no" -v f="$WORK/$id" 'NR == n { getline l < f; print l; next } { print }' \
    "$WORK/original" > "$FILE"
  if ! build; then
    result="did-not-compile"; broken=$((broken + 1))
  else
    runtests "$LIMIT"
    case $? in
      0) result="SURVIVED"; survived=$((survived + 1)) ;;
      124 | 137) result="killed (time)"; killed=$((killed + 1)) ;;
      *) result="killed"; killed=$((killed + 1)) ;;
    esac
  fi
  if [ "$QUIET" -eq 0 ] || [ "$result" = SURVIVED ]; then
    printf '%4d  line %-4d %-8s %-22s %-16s %s\n' "$id" "$no" "$kind" "$what" "$result" "$(sed 's/^ *//' "$WORK/$id")"
  fi
done < "$WORK/list"
unset CCACHE_DISABLE
restore
touch "$FILE"
build || echo "warning: the restored file does not build" >&2

ran=$((killed + survived))
pct=$([ $ran -gt 0 ] && echo "$((100 * killed / ran))" || echo 0)
echo "summary $FILE: $TOTAL mutants, $killed killed, $survived survived, $broken did not compile; $pct % of the compiled mutants killed"
