// The run's log (/LOG="<file>"): plain text, one line per step, per box
// and per file action, each led by the local time, the outcome last. Files
// are named as the pack names them, below the game folder. Writing it never
// changes the run: a log that cannot be made or written is left out.
#pragma once

#include <cstdint>

#include "app/SafeFormat.h"

// Creates (or empties) the log at path and writes its first line.
void OpenRunLog(const char* path);
// True while a log is being written.
bool RunLogOpen();

// A line of format filled with args (SafeFormat.h); a failed write is passed
// over.
void LogFormat(const char* format, const FormatArg* args, uint32_t count);
// A line of text; line feeds in it are written as '|', as the strings file
// writes them.
void LogStep(const char* text);
// A line of two texts: "<text> <detail>" (detail may be null).
void LogStep(const char* text, const char* detail);
// A box: its caption and text, and the button it was answered with (or the
// answer a silent run takes for it).
void LogBox(const char* caption, const char* text, const char* answer);

enum class FileAction { kReplaced, kRebuilt, kRemoved, kAlreadyNew, kSkipped, kUndone };
// A game file's action, with its size in bytes where it has one.
void LogFileAction(FileAction action, const char* name, uint32_t size);
// A file put in place from its temporary file: "replaced" for a copy,
// "rebuilt" for a pack entry below "DATA\Deltas\", with target's size.
// entryPath is the pack path the file came from.
void LogPutInPlace(const char* entryPath, const char* target);
// The size of the file at path, for a log line (0 without a log: the file is
// not opened then).
uint32_t LoggedFileSize(const char* path);

// The outcome line, then the log is closed; returns exitCode.
int FinishRunLog(const char* outcome, int exitCode);
