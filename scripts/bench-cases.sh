# The clients the benchmarks patch, shared by scripts/bench-engine.sh and scripts/bench.sh (sourced).
#   make_one_file DIR         DIR/old and DIR/new: a $size_mib MiB file with scattered edits, an insertion
#                             and a tail, beside two small files
#   make_many_files DIR       20,000 small files: 2,000 changed, 500 deleted, 500 added
#   make_small_files DIR N    N files, every one changed: N - 1 small data files and common.ini
# Each client has bin/zav.exe and common.ini with build 4526 (old) or 4536 (new), as the installer needs.

make_one_file() {
  local old=$1/old new=$1/new half=$((size_mib * 524288))
  mkdir -p "$old/data" "$old/bin" "$new/data" "$new/bin"
  head -c $((size_mib * 1048576)) /dev/urandom >"$old/data/big.pak"
  head -c 2097152 /dev/urandom >"$old/bin/zav.exe"
  printf 'build=4526\r\n' >"$old/common.ini"
  # The new big file: 4 KiB inserted halfway, 64 scattered 1 KiB edits and 1 MiB more at the end.
  { head -c "$half" "$old/data/big.pak"; head -c 4096 /dev/urandom; tail -c +$((half + 1)) "$old/data/big.pak"
    head -c 1048576 /dev/urandom; } >"$new/data/big.pak"
  local i
  for i in $(seq 0 63); do
    dd if=/dev/urandom of="$new/data/big.pak" bs=1024 count=1 seek=$((i * size_mib * 16 + 7)) conv=notrunc \
      status=none
  done
  cp "$old/bin/zav.exe" "$new/bin/zav.exe"
  dd if=/dev/urandom of="$new/bin/zav.exe" bs=100 count=1 seek=5000 conv=notrunc status=none
  printf 'build=4536\r\n' >"$new/common.ini"
}

make_many_files() {
  python3 - "$1" <<'PY'
import os, random, shutil, sys
work = sys.argv[1]
rng = random.Random(4536)
old, new = os.path.join(work, "old"), os.path.join(work, "new")
names = [f"d{d:03}\\f{f:03}.dat" for d in range(200) for f in range(100)]
def put(root, name, data):
    path = os.path.join(root, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)
for name in names:
    put(old, name, rng.randbytes(rng.randint(512, 8192)))
shutil.copytree(old, new)
picked = rng.sample(names, 2500)
for name in picked[:2000]:
    path = os.path.join(new, *name.split("\\"))
    data = bytearray(open(path, "rb").read())
    at = rng.randrange(len(data))
    data[at:at + 16] = rng.randbytes(16)
    open(path, "wb").write(bytes(data))
for name in picked[2000:]:
    os.remove(os.path.join(new, *name.split("\\")))
for i in range(500):
    put(new, f"added\\a{i:03}.dat", rng.randbytes(rng.randint(512, 8192)))
PY
}

make_small_files() {
  python3 - "$1" "$2" <<'PY'
import os, random, sys
work, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(4536)
def put(root, name, data):
    path = os.path.join(work, root, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)
exe = rng.randbytes(65536)
put("old", "bin\\zav.exe", exe)
put("new", "bin\\zav.exe", exe)
put("old", "common.ini", b"build=4526\r\n")
put("new", "common.ini", b"build=4536\r\n")
for i in range(count - 1):
    name = f"d{i // 100:03}\\f{i % 100:02}.dat"
    data = bytearray(rng.randbytes(rng.randint(512, 4096)))
    put("old", name, bytes(data))
    at = rng.randrange(len(data))
    data[at:at + 16] = rng.randbytes(16)
    put("new", name, bytes(data))
PY
}
