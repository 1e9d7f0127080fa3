# Sourced by the frame host's script tests: a registry and drive root of their own, removed at the
# end, and fail() to stop with the reason.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export VKR_REGISTRY=$dir/registry.reg VKR_DRIVE_ROOT=$dir/drives
fail() { echo "FAILED: $*"; exit 1; }
