#!/bin/sh
# Runs a test on an X server of its own: the window tests that show a player need one.
exec xvfb-run -a -s "-screen 0 1280x720x24" "$@"
