# Shared pieces of the benchmark scripts: image size, a tree of random files, timing,
# medians and peak memory. Sourced, not run.

# The image size in MiB: 600, or 3072 with --large as the first argument (SIZE_MIB overrides).
bench_size_mib() {
  if [ -n "${SIZE_MIB:-}" ]; then echo "$SIZE_MIB"; elif [ "${1:-}" = "--large" ]; then echo 3072; else echo 600; fi
}

# bench_random_files DIR MIB: about MIB MiB of random data in files of 1 to 300 KiB
# (150 KiB on average), spread over 200 directories DIR000 ... DIR199 below DIR.
bench_random_files() {
  python3 - "$1" "$2" <<'PY'
import os, random, sys
root, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(4711)
total = mib * 1024 * 1024
count = max(1, total // (150 * 1024))
sizes = [rng.randint(1024, 300 * 1024) for _ in range(count)]
scale = total / sum(sizes)
with open("/dev/urandom", "rb") as source:
    for i, size in enumerate(sizes):
        directory = os.path.join(root, "DIR%03d" % (i % 200))
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "FILE%05d.BIN" % i), "wb") as out:
            out.write(source.read(max(1, int(size * scale))))
PY
}

# bench_rewrite_image WORK MIB: the source image of the rewrite benchmarks, WORK/in.iso
# with about MIB MiB of random files in 200 directories (plain ISO 9660, no-emulation boot
# image, made by xorriso), its boot image WORK/boot.bin and a 1 MiB file WORK/F to add.
bench_rewrite_image() {
  local work=$1
  mkdir -p "$work/tree/PROGRAMS"
  scripts/make-boot-image "$work/tree/boot.bin"
  bench_random_files "$work/tree" "$2"
  xorriso -as mkisofs -quiet -o "$work/in.iso" -b boot.bin -no-emul-boot -boot-load-size 4 \
    -c boot.cat "$work/tree" 2>/dev/null
  cp "$work/tree/boot.bin" "$work/boot.bin"
  rm -rf "$work/tree"
  head -c $((1024 * 1024)) /dev/urandom > "$work/F"
}

# bench_seconds COMMAND...: runs the command, output discarded, and prints its wall time.
bench_seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# Reads numbers separated by blanks or lines and prints their median.
bench_median() {
  tr ' ' '\n' | grep -v '^$' | sort -g |
    awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'
}

# bench_peak_kib COMMAND...: runs the command and prints its peak resident memory in KiB.
bench_peak_kib() {
  local report
  report=$(mktemp)
  /usr/bin/time -f '%M' -o "$report" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$report"
  rm -f "$report"
}

# bench_report NAME BASE TIMES...: one line per tool with its median and ratio to BASE's;
# TIMES is an associative array name (declare -A) holding blank-separated runs per tool.
bench_report() {
  local -n runs=$1
  local base=$2
  shift 2
  local base_median median
  base_median=$(echo "${runs[$base]}" | bench_median)
  for tool in "$@"; do
    median=$(echo "${runs[$tool]}" | bench_median)
    printf "%-12s %7.3f s  %5.2f x %s   (runs: %s)\n" "$tool" "$median" \
      "$(echo "$median / $base_median" | bc -l)" "$base" "${runs[$tool]}"
  done
}
