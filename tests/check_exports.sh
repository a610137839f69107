#!/bin/sh
# The plugin exports exactly the expected symbols and needs nothing at run time
# beyond the C library: no C++ runtime, no libgcc_s.
# usage: check_exports.sh PLUGIN EXPECTED_EXPORTS
set -eu
plugin=$1
expected=$2
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
    libc.so.* | libm.so.* | ld-linux*.so.*) ;;
    *) echo "needs $lib"; status=1 ;;
  esac
done

machine=$(readelf -h "$plugin" | sed -n 's/ *Machine: *//p')
echo "$plugin: $machine; $(printf "%s\n" "$actual" | wc -l) exports; needs: $(echo $needed)"
exit $status
