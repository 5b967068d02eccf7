#!/usr/bin/env bash
# Runs the given test program as on a machine without a system CA store (no
# ca-certificates): /etc/ssl/certs is an empty folder in a mount namespace of its own.
# Certificates must still be refused as untrusted, and trusted through ftp-ca.pem.
# Skipped (exit 77) where a mount namespace cannot be made (not root).
set -u
if ! unshare --mount true 2>/dev/null; then
  echo "SKIP: no mount namespace here (needs root)"
  exit 77
fi
exec unshare --mount sh -c 'mount -t tmpfs none /etc/ssl/certs && exec "$@"' sh "$@"
