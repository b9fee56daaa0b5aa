#!/bin/sh
# Nautilus runs this with the chosen items as arguments, one each, in their folder.
exec @EXEC@ --move "$@"
