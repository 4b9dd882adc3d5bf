#!/bin/sh
# A CGI program for exec cgi: a CR LF header block, and a body that holds a blank line of its own.
printf 'Content-Type: text/plain\r\nX-Ignored: yes\r\n\r\ncgi body\n\nafter blank'
