#!/usr/bin/env bash
# ./run bench (filled in by its issue's work). $1 is the build folder.
echo "./run bench is not built yet" >&2
exit 2
