#!/usr/bin/env bash
# Fails when code outside platform/ includes system or library headers that belong behind the seam,
# or tests the operating system directly.
set -u
root=${1:-.}
cd "$root" || exit 2
dirs=()
for d in xml dtm parameters communication ui include resources frame; do
  [ -d "$d" ] && dirs+=("$d")
done
[ ${#dirs[@]} -eq 0 ] && { echo "seam check: nothing outside platform/ yet"; exit 0; }
pattern='#\s*include\s*<(pthread\.h|dlfcn\.h|unistd\.h|fcntl\.h|sys/[a-z_]+\.h|libxml/[a-zA-Z_]+\.h|cairo[a-z_-]*\.h|dirent\.h|signal\.h)>|__linux__'
hits=$(grep -rnE "$pattern" --include='*.h' --include='*.cpp' --include='*.inc' "${dirs[@]}" || true)
if [ -n "$hits" ]; then
  echo "System headers outside platform/:"
  echo "$hits"
  exit 1
fi
echo "seam check: clean"
