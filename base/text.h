// Bounded text helpers: every copy, append and format into a fixed buffer
// goes through these. Each returns 1 when the whole text fit and 0 when it
// did not; a text that does not fit is never cut into a different one.
#ifndef TARNLINK_TEXT_H
#define TARNLINK_TEXT_H

#include <stddef.h>

// Copies src into dst. On overflow dst becomes empty.
int CopyText(char *dst, size_t size, const char *src);

// Appends src to the text in dst. On overflow dst keeps its old text.
int AppendText(char *dst, size_t size, const char *src);

// printf-style format into dst, for %s (with a precision such as %.200s),
// %u, %d and %% of 32-bit numbers. On overflow, or for a conversion it does
// not know, dst becomes empty.
int FormatText(char *dst, size_t size, const char *format, ...);

// "directory\name" into dst, as FormatText does it.
int JoinPath(char *dst, size_t size, const char *directory, const char *name);
// The two texts one after the other ("C:\TEMP\" and a name), likewise.
int JoinText(char *dst, size_t size, const char *first, const char *second);

// Case-insensitive comparison of two ANSI texts: 1 when equal.
int SameText(const char *a, const char *b);

#endif
