// The patch program's own version, shown on the Properties page of its
// executable (the version resource in Quorpatch.rc). It names the program,
// not the game version a patch installs, which comes from the patch's strings.
#pragma once

#define QP_VERSION_MAJOR 1
#define QP_VERSION_MINOR 0
#define QP_VERSION_PATCH 0
#define QP_VERSION_BUILD 0

#define QP_STRINGIZE_(text) #text
#define QP_STRINGIZE(text) QP_STRINGIZE_(text)
#define QP_VERSION_TEXT QP_STRINGIZE(QP_VERSION_MAJOR.QP_VERSION_MINOR.QP_VERSION_PATCH.QP_VERSION_BUILD)
