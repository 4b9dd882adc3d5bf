#!/usr/bin/perl
# The query as received and the arguments as given, one per line.
print "Content-Type: text/plain\n\n";
print "QUERY_STRING=", (defined $ENV{QUERY_STRING} ? $ENV{QUERY_STRING} : "(unset)"), "\n";
print "ARGC=", scalar(@ARGV), "\n";
print "ARG=$_\n" for @ARGV;
