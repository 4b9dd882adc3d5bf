#!/bin/sh
# A header block without Content-Type or Location.
printf 'X-Mode: a\n\nbody'
