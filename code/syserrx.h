#pragma once
// The process-wide diagnostic log. Every failed internal check is reported here;
// a report never throws and never stops the caller. What is written, and where,
// is chosen once per process by the environment variables SYSERRLOG (a decimal
// bit mask: 1 console line, 2 file line, 4 complement the file's bytes, 8 syslog
// datagram) and SYSERRLOG_SYSLOG ("host:port"); the file is "syserrlog.txt" in the
// temp folder those variables name at that moment (a later setenv moves nothing).
// The file is created private to this user; one that another user made first, a
// second name of another file, a link or a FIFO there is left alone and nothing
// is written to it. Text the process locale cannot show is written as '?'.
//
// A report is safe from any thread at any time until the process is gone, also
// while it exits (from a static object's destructor, or a thread still running).
//
// Any thread may report; each record is written whole and numbered in the order
// records are made. A report made while a record is being written (by the log's
// own helpers) is written whole, with a number of its own, inside the outer one.
// Limits: the message is cut to 255 characters, the source path shown by its last
// 127, a line to 1023 characters (keeping its final line feed), and a syslog line
// to what fits one 1024-byte datagram.

#include <cstdint>

// A report with no error code. `level` keeps its low 3 bits; `format` follows
// the wide printf conventions ("%ls" wide text, "%s" narrow text).
void syserr_report(const wchar_t* file, unsigned line, unsigned char level, const wchar_t* format,
                   ...);

// A report carrying the platform's error code (an errno value); the record shows
// the system's text for it.
void syserr_report_error(const wchar_t* file, unsigned line, unsigned char level, uint32_t error,
                         const wchar_t* format, ...);

// Reports "<message> Value=<value>".
void LogValue(const wchar_t* file, unsigned line, unsigned char level, int32_t value,
              const wchar_t* message);

// The source path every report passes: the reporting file as wide text.
#define SYSERR_WIDEN2(x) L##x
#define SYSERR_WIDEN(x) SYSERR_WIDEN2(x)
#define SYSERR_FILE SYSERR_WIDEN(__FILE__)

// The report forms, each written at the call site after its condition test.
#define SYSERR_ASSERT_FAILED(expr_text) \
    syserr_report(SYSERR_FILE, __LINE__, 4, L"Assertion failure: %ls", expr_text)
#define SYSERR_VERIFY_FAILED(expr_text) \
    syserr_report(SYSERR_FILE, __LINE__, 4, L"verify(%ls) failure", expr_text)
#define SYSERR_CHECK_FAILED_ERRNO(err, expr_text) \
    syserr_report_error(SYSERR_FILE, __LINE__, 4, (err), L"Check failed [%ls].", expr_text)
#define SYSERR_VERIFY_FAILED_ERRNO(err, expr_text) \
    syserr_report_error(SYSERR_FILE, __LINE__, 4, (err), L"Verify failed [%ls].", expr_text)
#define SYSERR_MESSAGE(text) syserr_report(SYSERR_FILE, __LINE__, 4, L"%ls", text)
#define SYSERR_EXCEPTION_CAUGHT(stmt_text) \
    syserr_report(SYSERR_FILE, __LINE__, 4, L"Exception caught in %ls", stmt_text)
