// The texts the user sees, looked up by key in section "str" of the patch's
// strings file, and the two message boxes built on them.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

// The text of key, with every '|' turned into a line feed, in g_TextBuffer
// (at most 4094 characters); empty without a strings table or such a key.
// Each call overwrites the previous result.
const char* LookupText(const char* key);

// A message box, or in a silent run the answer taken for it (Yes to a
// question, OK to the rest); either way the box goes to the log with its
// answer. Every box after the command line is read goes through here.
int AskBox(HWND owner, const char* text, const char* caption, UINT type);

// The Abort/Retry/Ignore box (caption "Error") of a file that cannot be
// written, asked for the attempt-th time for that file (from 0). A silent
// run answers Retry a few times, a second apart, then Abort.
int AskCopyFailure(const char* text, uint32_t attempt);

// The text of key in a box with the "title" caption; the button pressed.
int ShowMessage(const char* key, UINT type, HWND owner);

// The text of key as an error box, then the process ends with exit code -1
// (in a silent run, the code of that stop: RunOptions.h).
[[noreturn]] void FatalMessage(const char* key, HWND owner);

struct FormatArg;

// The text of key, or fallback when the strings file has none (patches whose
// strings file was written before the key existed).
const char* LookupTextOr(const char* key, const char* fallback);

// The text of key (or fallback) formatted with one argument, in a box with
// the "title" caption and the given type; the button pressed.
int ShowFormatted(const char* key, const char* fallback, const FormatArg& argument, UINT type);

// The "title" text in a caption buffer of kPathSize bytes (cut to fit).
void CopyTitle(char* caption);
