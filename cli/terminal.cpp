// The terminal of terminal.h.
#include "terminal.h"

#include "language.h"
#include "shown.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quillarn {

bool standardOutputIsTerminal()
{
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

bool standardErrorIsTerminal()
{
#ifdef _WIN32
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) != 0 &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
            SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

int terminalWidth()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) &&
        info.srWindow.Right > info.srWindow.Left)
        return info.srWindow.Right - info.srWindow.Left + 1;
#elif defined(TIOCGWINSZ)
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

std::string fittedToColumns(std::string text, int room)
{
    for (char &c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    std::vector<std::size_t> starts; // where each character starts
    std::vector<int> columns;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if ((byte & 0xC0) == 0x80 && !starts.empty())
            continue; // a continuation byte
        starts.push_back(at);
        columns.push_back(byte >= 0xE0 ? 2 : 1);
    }
    int total = 0;
    for (int c : columns)
        total += c;
    if (total <= room)
        return text;
    const int ellipsis = 3;
    if (room <= ellipsis)
        return {};
    int used = ellipsis;
    std::size_t first = starts.size();
    while (first > 0 && used + columns[first - 1] <= room)
        used += columns[--first];
    return "..." + (first < starts.size() ? text.substr(starts[first]) : std::string());
}

TerminalStatus::TerminalStatus(std::ostream &out, bool progress, int width)
    : out_(out), progress_(progress), width_(width)
{
}

TerminalStatus::~TerminalStatus()
{
    clear();
    out_.flush();
}

void TerminalStatus::progress(std::size_t done, std::size_t total, const std::filesystem::path &current)
{
    if (!progress_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100))
        return; // a terminal cannot show more than this, and drawing costs time
    lastDrawn_ = now;
    shown_ = true;

    constexpr std::size_t barWidth = 20;
    const std::size_t filled = total == 0 ? barWidth : barWidth * std::min(done, total) / total;
    std::string line = "\r[" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "] " +
                       std::to_string(done) + "/" + std::to_string(total) + " ";
    // One column short of the width, so that the cursor never wraps to the next line.
    const int room = width_ - 1 - static_cast<int>(line.size() - 1);
    line += fittedToColumns(shownPath(current), room);
    line += "\x1b[K"; // erase what a longer previous line left
    write(line);
}

void TerminalStatus::looking(std::size_t folders)
{
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100))
        return;
    lastDrawn_ = now;
    shown_ = true;
    const std::string words = said(Reason(Said::LookingInFolders, {std::to_string(folders)}));
    write("\r" + fittedToColumns(words, width_ - 1) + "\x1b[K");
}

void TerminalStatus::message(const std::string &lines)
{
    clear();
    write(lines);
}

void TerminalStatus::clear()
{
    if (!shown_)
        return;
    write("\r\x1b[K");
    shown_ = false;
}

void TerminalStatus::write(const std::string &text)
{
    if (writeError_ != 0)
        return;
    errno = 0;
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    out_.flush();
    if (!out_.good())
        writeError_ = errno != 0 ? errno : EIO;
}

#ifdef _WIN32

StandardErrorBuffer::StandardErrorBuffer(bool standardOutput)
    : handle_(GetStdHandle(standardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE))
{
    DWORD mode = 0;
    console_ = GetConsoleMode(handle_, &mode) != 0;
}

StandardErrorBuffer::int_type StandardErrorBuffer::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof()))
        pending_.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
}

std::streamsize StandardErrorBuffer::xsputn(const char *text, std::streamsize count)
{
    pending_.append(text, static_cast<std::size_t>(count));
    return count;
}

int StandardErrorBuffer::sync()
{
    std::size_t complete = pending_.size();
    if (console_) {
        // A character cut by a flush waits for its other bytes.
        std::size_t start = complete;
        while (start > 0 && (static_cast<unsigned char>(pending_[start - 1]) & 0xC0) == 0x80 &&
               complete - start < 3)
            --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(pending_[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (length > complete - start + 1)
                complete = start - 1;
        }
    }
    if (complete == 0)
        return 0;
    bool written = true;
    if (console_) {
        const int size =
            MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(complete), nullptr, 0);
        std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(complete), text.data(), size);
        DWORD done = 0;
        written = WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) != 0;
    } else {
        DWORD done = 0;
        written = WriteFile(handle_, pending_.data(), static_cast<DWORD>(complete), &done, nullptr) != 0;
        // A pipe whose reader went away, told as the other systems tell it.
        if (!written && (GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE))
            errno = EPIPE;
    }
    pending_.erase(0, complete);
    return written ? 0 : -1;
}

#endif

} // namespace quillarn
