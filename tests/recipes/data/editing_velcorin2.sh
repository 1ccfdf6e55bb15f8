#!/usr/bin/env bash
# A velcorin2 whose first run (the first to create the directory EDIT_MARK)
# appends a record to EDIT_INPUT; every run then runs EDIT_PROGRAM.
if mkdir "$EDIT_MARK" 2> /dev/null; then printf '>late\nMKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAEL\n' >> "$EDIT_INPUT"; fi
exec "$EDIT_PROGRAM" "$@"
