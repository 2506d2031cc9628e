#pragma once
// Where the diagnostic log's records go. Each output implements one hook; the public
// entry, the same for all of them, holds the log's lock around it, so records and
// the lines of each output keep one order. The outputs live in static storage and
// have nothing to destroy, so they work until the process is gone.

#include <sys/types.h>

#include <mutex>

#include "code/syserr_lines.h"

class Syslog;

namespace syserr {

// Recursive: a report made while a record is written (by the log's own helpers)
// is written whole inside the outer one.
std::recursive_mutex& log_lock();

class Output {
public:
    virtual void write(const Record& record) final {
        std::lock_guard<std::recursive_mutex> guard(log_lock());
        emit(record);
    }

protected:
    ~Output() = default;
    // An exception ends the record; the entry keeps it from the reporter.
    virtual void emit(const Record& record) = 0;
};

// Standard output, flushed at once.
class ConsoleOutput final : public Output {
protected:
    void emit(const Record& record) override;
};

// "syserrlog.txt" in the temp folder: lines end in CR LF, optionally with every
// byte complemented.
class FileOutput final : public Output {
public:
    // The temp folder is read here, once: reading the environment on every record
    // would race with a thread calling setenv.
    void open(bool complement);

protected:
    void emit(const Record& record) override;

private:
    void append(const char* line, size_t size) const;

    char m_path[256] = {};  // plain characters: nothing for the exit to destroy
    bool m_complement = false;
    uid_t m_owner = 0;  // the effective user when the log was set up
};

// One BSD syslog datagram per record, to the receiver SYSERRLOG_SYSLOG names.
class SyslogOutput final : public Output {
public:
    // Resolves the receiver; a report made meanwhile reaches the other outputs.
    void open();
    // Leaves the sink to the system when a thread is stuck inside a record.
    void close();
    bool is_open() const { return m_sink != nullptr; }

protected:
    void emit(const Record& record) override;

private:
    Syslog* m_sink = nullptr;
};

}  // namespace syserr
