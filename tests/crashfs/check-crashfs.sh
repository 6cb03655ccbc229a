#!/usr/bin/env bash
# jx-crashfs as a program of one's own meets it: a state saved through a
# stream with no fsync is lost under some power losses; saved with its
# fsyncs and its folder's, never. Every way of writing reaches the file
# system; descriptors from before a loss fail; refusals are clear.
# Exits 77 (skipped) where FUSE cannot mount here.
set -euo pipefail
crashfs=$1
work=$(mktemp -d)
mnt=$work/mnt
trap 'fusermount3 -u "$mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/back" "$mnt"
if ! "$crashfs" mount "$work/back" "$mnt" 2>"$work/err"; then
  echo "skipped: jx-crashfs cannot mount here: $(cat "$work/err")"
  exit 77
fi
"$crashfs" umount "$mnt"

# Saves "new" over "old" as a program would, carefully or not; then a
# power loss with the seed; prints the state as the mount shows it, after
# checking that the backing folder holds the same.
save_and_lose() {
  local how=$1 seed=$2
  rm -rf "$work/back" && mkdir "$work/back" && printf old >"$work/back/state"
  "$crashfs" mount "$work/back" "$mnt"
  python3 - "$mnt" "$how" <<'EOF'
import os, sys
folder, how = sys.argv[1], sys.argv[2]
tmp, state = folder + "/state.tmp", folder + "/state"
with open(tmp, "w") as f:          # a stream
    f.write("new")
    if how == "careful":
        f.flush()
        os.fsync(f.fileno())
os.rename(tmp, state)
if how == "careful":
    d = os.open(folder, os.O_RDONLY)
    os.fsync(d)
    os.close(d)
EOF
  "$crashfs" lose "$mnt" --seed "$seed" >/dev/null
  local seen held
  seen=$(cat "$mnt/state" 2>/dev/null | od -An -c | tr -s ' ' || echo missing)
  held=$(cat "$work/back/state" 2>/dev/null | od -An -c | tr -s ' ' || echo missing)
  [ "$seen" = "$held" ] || fail "seed $seed: the mount shows $seen, the backing folder holds $held"
  "$crashfs" umount "$mnt"
  echo "$seen"
}

lost=0
for seed in 1 2 3 4 5 6 7 8 9 10 11 12; do
  [ "$(save_and_lose careful "$seed")" = " n e w" ] || fail "careful save lost under seed $seed"
  [ "$(save_and_lose careless "$seed")" = " n e w" ] || lost=$((lost + 1))
done
[ "$lost" -gt 0 ] || fail "a save with no fsync survived all 12 losses"
echo "careless save lost under $lost of 12 seeds; careful save never"

# Every way of writing, synced, is kept; a descriptor from before a loss fails.
rm -rf "$work/back" && mkdir "$work/back"
"$crashfs" mount "$work/back" "$mnt"
python3 - "$mnt" <<'EOF'
import errno, mmap, os, sys
d = sys.argv[1]
def sync_folder():
    f = os.open(d, os.O_RDONLY); os.fsync(f); os.close(f)
f = os.open(d + "/w", os.O_WRONLY | os.O_CREAT | os.O_SYNC)   # synced as it returns
os.writev(f, [b"ab", b"cd"]); os.close(f)
f = os.open(d + "/m", os.O_RDWR | os.O_CREAT); os.ftruncate(f, 4)
m = mmap.mmap(f, 4); m[:] = b"mmap"; m.flush(); m.close(); os.close(f)   # msync, then fsync
f = os.open(d + "/m", os.O_RDWR); os.fsync(f); os.close(f)
src = os.open(d + "/w", os.O_RDONLY); dst = os.open(d + "/c", os.O_WRONLY | os.O_CREAT)
os.copy_file_range(src, dst, 4); os.fsync(dst); os.close(src); os.close(dst)
sync_folder()
try:   # libfuse 3.14 has no tmpfile operation: a clean refusal, not a file lost
    os.close(os.open(d, os.O_TMPFILE | os.O_WRONLY)); sys.exit("O_TMPFILE opened with no way to see its writes")
except OSError as e:
    assert e.errno == errno.EOPNOTSUPP, e
EOF
exec 3<"$mnt/w"
"$crashfs" lose "$mnt" --seed 1 >/dev/null
[ "$(cat "$work/back/w")$(cat "$work/back/m")$(cat "$work/back/c")" = "abcdmmapabcd" ] || fail "a synced write was lost"
if cat <&3 >/dev/null 2>&1; then fail "a descriptor from before the loss still reads"; fi
exec 3<&-
"$crashfs" umount "$mnt"

# Planned events: a full disk, a failing fsync, kills once a step is made.
rm -rf "$work/back" && mkdir "$work/back"
"$crashfs" mount "$work/back" "$mnt"
"$crashfs" plan "$mnt" "fail write:f 1 ENOSPC" "fail fsync:* 1 EIO" "kill rename:g 1" "kill write:h 1 half" >/dev/null
python3 - "$mnt" <<'EOF'
import errno, os, sys
d = sys.argv[1]
f = os.open(d + "/f", os.O_WRONLY | os.O_CREAT)
try:
    os.write(f, b"x"); sys.exit("a planned ENOSPC did not come")
except OSError as e:
    assert e.errno == errno.ENOSPC, e
try:
    os.fsync(f); sys.exit("a planned EIO did not come")
except OSError as e:
    assert e.errno == errno.EIO, e
os.close(f)
EOF
(python3 -c "import os, sys; open(sys.argv[1] + '/g.tmp', 'w').write('g'); os.rename(sys.argv[1] + '/g.tmp', sys.argv[1] + '/g'); print('not killed')" "$mnt") 2>/dev/null && fail "a process lived through a planned kill"
[ -e "$mnt/g" ] || fail "the rename before the kill was not made"
(python3 -c "import os, sys; os.write(os.open(sys.argv[1] + '/h', os.O_WRONLY | os.O_CREAT), b'abcd'); print('not killed')" "$mnt") 2>/dev/null && fail "a process lived through a kill at a write's half"
[ "$(cat "$mnt/h")" = "ab" ] || fail "a write killed at its half left $(cat "$mnt/h")"
"$crashfs" plan "$mnt" "kill unlink:never 1" >"$work/plan"
[ "$(grep -c ': fired' "$work/plan")" = 4 ] && grep -q "kill unlink:never 1: not fired (0 seen)" "$work/plan" || fail "plan: $(cat "$work/plan")"
! "$crashfs" plan "$mnt" "kill sing:x 1" 2>"$work/err" && grep -q "expected" "$work/err" || fail "a planned event of no kind"
"$crashfs" umount "$mnt"

# Refusals.
mkdir -p "$work/full" && touch "$work/full/x"
! "$crashfs" mount "$work/back" "$work/full" 2>"$work/err" && grep -q "not empty" "$work/err" || fail "a mount point that is not empty"
! "$crashfs" lose "$work/back" 2>"$work/err" && grep -q "not a jx-crashfs mount" "$work/err" || fail "lose on a plain folder"
echo "ok"
