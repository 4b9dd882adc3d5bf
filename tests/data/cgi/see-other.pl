#!/usr/bin/perl
# A redirect with a 3xx code of its own.
print "Status: 303 See Other\nLocation: /other\n\nnot sent";
