#!/bin/sh
# Fails before writing any header, saying why on standard error.
echo 'the <b>script</b> failed & gave up' >&2
exit 1
