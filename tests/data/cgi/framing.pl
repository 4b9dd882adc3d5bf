#!/usr/bin/perl
# Framing lines of its own, which the server must not pass on.
print "Content-Type: text/plain\nContent-Length: 1\nConnection: keep-alive\n\nabcdef";
