#!/bin/sh
# One hour at 2 pictures a second, every picture on the same tone phase (a 2 Hz tone, 4/2,
# and a picture every NC0 = 2 periods of 1/4 s: one tone period), over ssh or from cron.
# Ctrl+C (SIGINT) stops the run as the stop button does, at the next picture; its status says
# how it ended: 0 as asked, 1 a message box or a device failure (either ends the run), 2 a
# wrong option or setting.
set -e
strobolux --list-devices
strobolux --run 3600 --sound-device "USB Audio" --camera "C920" \
  --back-end graph --format jpg --tone 4/2 --every 2
