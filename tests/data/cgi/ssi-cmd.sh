#!/bin/sh
# The program of an exec cmd directive: its arguments, then the method of the page's request.
printf '%s,' "$@"
printf '%s' "$REQUEST_METHOD"
