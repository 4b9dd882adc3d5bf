#!/bin/sh
# A redirect by Location alone; the body is not sent.
printf 'Location: /next\nSet-Cookie: from=location\n\nnot sent'
