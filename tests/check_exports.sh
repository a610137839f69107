#!/bin/sh
# The plugin exports exactly the expected symbols and needs nothing at run time
# beyond the C library: no C++ runtime, no libgcc_s, and with a FLOOR given,
# no C library symbol version above it, so that it loads on old systems.
# usage: check_exports.sh PLUGIN EXPECTED_EXPORTS [FLOOR]
set -eu
plugin=$1
expected=$2
floor=${3:-}
status=0

actual=$(nm -D --defined-only "$plugin" | awk '{print $NF}' | LC_ALL=C sort)
wanted=$(LC_ALL=C sort "$expected")
if [ "$actual" != "$wanted" ]; then
  echo "exported symbols differ (< expected, > exported):"
  printf '%s\n' "$wanted" >"$plugin.expected-exports"
  printf '%s\n' "$actual" | diff "$plugin.expected-exports" - || true
  status=1
fi

needed=$(readelf -d "$plugin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for lib in $needed; do
  case $lib in
    libc.so.* | libm.so.* | libpthread.so.* | ld-linux*.so.*) ;;
    *) echo "needs $lib"; status=1 ;;
  esac
done

# True when the version is above the floor.
above() { [ "$(printf '%s\n%s\n' "$1" "$floor" | sort -V | tail -n 1)" != "$floor" ]; }
newest=$(objdump -T "$plugin" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -Vu | tail -n 1)
if [ -n "$floor" ] && above "$newest"; then
  echo "needs C library symbol versions above GLIBC_$floor:"
  objdump -T "$plugin" | sed -n 's/.*GLIBC_\([0-9.]*\).* \([^ ]*\)$/\1 \2/p' |
    while read -r version symbol; do
      if above "$version"; then echo "  $symbol GLIBC_$version"; fi
    done
  status=1
fi

machine=$(readelf -h "$plugin" | sed -n 's/ *Machine: *//p')
echo "$plugin: $machine; $(printf "%s\n" "$actual" | wc -l) exports; needs: $(echo $needed); newest symbol version: GLIBC_$newest"
exit $status
