#!/usr/bin/perl
# A redirect with a 3xx code of its own, to a Location with UTF-8 bytes and a blank.
print "Status: 303 See Other\nLocation: /other/\xe8\xb3\x87 x\n\nnot sent";
