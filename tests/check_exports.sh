#!/usr/bin/env bash
# The DTM module exports its four entry points and nothing else.
set -u
got=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
want="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
if [ "$got" != "$want" ]; then
  echo "exports: $got"
  echo "wanted:  $want"
  exit 1
fi
echo "exports: fine"
