// The terminal that ugi2sgf writes to: whether standard output and standard error are terminals and
// how wide, the progress line that a batch redraws in place, and on Windows the console, which is
// given UTF-8 messages as text it shows whatever its code page. Only what the batch reports reaches
// the terminal through here (BatchStatus, batchstatus.h).
#pragma once

#include "batchstatus.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace quillarn {

// Returns true when standard output is a terminal (on Windows, a console).
bool standardOutputIsTerminal();

// Returns true when standard error is a terminal that can show the progress line. A Windows
// console is asked to read control sequences; one that cannot gets no progress line.
bool standardErrorIsTerminal();

// Returns the width of standard error's terminal in columns; 80 when it cannot be told.
int terminalWidth();

// A batch's messages, one line each, and when asked for, a progress line below them:
// "[#####-----] 12/100 path" (the path as shownPath shows it, shown.h), redrawn in place at most ten times a
// second and erased before each message, so that messages scroll up above it.
class TerminalStatus : public BatchStatus {
public:
    TerminalStatus(std::ostream &out, bool progress, int width);
    ~TerminalStatus() override;

    void progress(std::size_t done, std::size_t total, const std::filesystem::path &current) override;
    // Shows that the folders are being walked before the first record: "looking... N folders".
    void looking(std::size_t folders);
    void message(const std::string &lines) override;
    // True once the reader has gone away (a write failed with EPIPE).
    bool closed() const override { return writeError_ == EPIPE; }
    // Returns the error (errno) of the first write that failed, 0 while none has; nothing more is
    // written after one.
    int writeError() const { return writeError_; }

private:
    void clear();
    void write(const std::string &text);

    std::ostream &out_;
    bool progress_;
    int width_;
    int writeError_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastDrawn_;
};

// Returns the end of text cut to at most room columns, with "..." where it was cut. The text is
// taken as UTF-8, a character of three bytes or more as two columns (CJK file names; at worst the
// line is a little short). Control characters become "?", so that a file name cannot move the
// cursor or talk to the terminal.
std::string fittedToColumns(std::string text, int room);

#ifdef _WIN32

// Standard error on Windows: messages are UTF-8 inside the program. A console is given them as
// UTF-16, which it shows whatever its code page; a file or pipe gets the UTF-8 bytes unchanged.
class StandardErrorBuffer : public std::streambuf {
public:
    // Of standard error, or of standard output with standardOutput.
    explicit StandardErrorBuffer(bool standardOutput = false);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *text, std::streamsize count) override;
    // std::cerr flushes after every output, so a message is written whole.
    int sync() override;

private:
    void *handle_;
    bool console_ = false;
    std::string pending_;
};

#endif

} // namespace quillarn
