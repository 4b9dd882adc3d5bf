#!/bin/sh
# A Status line with a reason phrase of its own; the server sends the standard one.
printf 'Status: 404 Gone Fishing\r\nContent-Type: text/plain\r\n\r\nx'
