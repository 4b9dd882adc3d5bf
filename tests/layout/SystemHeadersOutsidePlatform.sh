#!/usr/bin/env bash
# System calls belong to platform/: the programs' other sources include no system header,
# so that a call to the system is found in one folder and the layers above it stay portable.
# Fails listing each offending include.
set -euo pipefail
root=${1:?usage: SystemHeadersOutsidePlatform.sh SOURCE_ROOT}
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/[^>]*|unistd\.h|fcntl\.h|pthread\.h|poll\.h|netdb\.h|netinet/[^>]*|arpa/[^>]*|dlfcn\.h|syslog\.h|csignal|signal\.h)>'
if found=$(grep -rnE --include='*.h' --include='*.cpp' "$pattern" "$root/Tarnwick" "$root/common" "$root/Vollmark"); then
    echo "system headers outside platform/:" >&2
    echo "$found" >&2
    exit 1
fi
