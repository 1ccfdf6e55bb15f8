// get_defaults: the configuration file.
//
// Contents:
//   get_defaults  read VELCORIN_CONFIG (or $HOME/.velcorin2) before the command line
//   strchrs       first occurrence of the first of a set of characters that occurs
#pragma once

#include "velcorin2.h"

// get_defaults: reads the configuration file named by $VELCORIN_CONFIG, else
// $HOME/.velcorin2 when it exists, else the one installed beside the program
// (<prefix>/share/velcorin2/velcorin2.conf), line by line (pieces of at most 499 characters), into
// `s`.  Keys in the first column, first match wins: genbnk, cctb, lib, test,
// out, log, pos, view, ver, prn, functnum, calib.  File keys name the count
// files, sequences, table, coil log and p-score calibration (a later line
// replaces an earlier one; the files are opened with the run's other
// files); pos, view, ver and prn set mode bits 0x8, 0x10, 0x1 and 0x2;
// prn also sets the bound.  Each "lib" line appends distances to
// lib[libnum..6] (at most 7 in all), adds a newline to the notes and sets
// functnum = libnum; "functnum = N" sets functnum.
// A key line whose value its pattern cannot read is ignored.  No path
// (neither variable set, or longer than 499 characters) or a file that
// cannot be opened: "Couldn't find config file\n" in the notes, nothing
// else changed.  The notes are for standard output (see RunSettings).  Returns 1 when a file was read, 0 otherwise.
int get_defaults(RunSettings &s);

// strchrs: tries the characters of `chrs` in their order and returns the
// position in `str` of the first one that occurs in `str` at all (not the
// earliest position of any of them); null when none occurs.
const char *strchrs(const char *str, const char *chrs);
