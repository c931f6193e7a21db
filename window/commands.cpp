// The window's commands of commands.h.
#include "commands.h"

#include "commandfailure.h"
#include "filesystem.h"
#include "recordfile.h"
#include "recordname.h"
#include "utf8codec.h"
#include "version.h"

#include <exception>
#include <new>

namespace quillarn {

namespace {

std::u16string utf16(std::string_view utf8)
{
    try {
        return decodeUtf8(utf8);
    } catch (const CommandFailure &) {
        return u"?"; // the core's texts are UTF-8: never met
    }
}

std::string utf8(const std::u16string &text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (isHighSurrogate(text[i]) || isLowSurrogate(text[i]))
            c = 0xFFFD; // half a character: shown as what it is not
        appendUtf8(bytes, c);
    }
    return bytes;
}

// Returns the reason of the failure being handled, for the detail of 異常終了しました, in Japanese as
// the window is: the core's reason for a CommandFailure, a short plain text for anything else. Call it only
// in a handler. No hint follows a reason of a kind that another encoding would write (ReasonKind): the
// window's first filters write code page 932, as the programs its users read the record with expect.
std::u16string failureReason()
{
    try {
        throw;
    } catch (const CommandFailure &failure) {
        return utf16(failure.said().in(Language::Japanese));
    } catch (const std::bad_alloc &) {
        return utf16(catalogueText(Said::OutOfMemory, Language::Japanese));
    } catch (const std::exception &error) {
        return utf16(error.what());
    } catch (...) {
        return utf16(catalogueText(Said::UnknownFailure, Language::Japanese));
    }
}

// Returns true when path names a file (links followed), as a directory lookup for files finds one.
bool isFile(const std::u16string &path)
{
    FileInfo info;
    return !path.empty() &&
           !systemFileSystem().look(nullptr, systemPath(systemPathOf(path)).c_str(), true, info) &&
           info.type == std::filesystem::file_type::regular;
}

std::size_t fileNameStart(const std::u16string &path)
{
    const std::size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? 0 : slash + 1;
}

} // namespace

const std::u16string openFilter = u"UGIﾌｧｲﾙ(*.ugi)|*.ugi|すべてのﾌｧｲﾙ(*.*)|*.*";
const std::u16string saveFilter =
    u"SGFﾌｧｲﾙ(*.sgf)|*.sgf|MGTﾌｧｲﾙ(*.MGT)|*.mgt|すべてのﾌｧｲﾙ(*.*)|*.*|SGF, UTF-8 (*.sgf)|*.sgf";

std::u16string withoutExtension(const std::u16string &path)
{
    const std::size_t nameStart = fileNameStart(path);
    return path.substr(0, nameStart + extensionStart(std::u16string_view(path).substr(nameStart)));
}

std::u16string filterPattern(const std::u16string &filter, int index)
{
    std::size_t start = 0;
    for (int part = 1; part < 2 * index; ++part) {
        start = filter.find(u'|', start);
        if (start == std::u16string::npos)
            return {};
        ++start;
    }
    return filter.substr(start, filter.find(u'|', start) - start);
}

std::u16string withFilterExtension(const std::u16string &path, const std::u16string &pattern)
{
    const std::size_t nameStart = fileNameStart(path);
    if (path.size() == nameStart || path.find(u'.', nameStart) != std::u16string::npos)
        return path;
    if (pattern.size() <= 2 || pattern.compare(0, 2, u"*.") != 0 ||
        pattern.find_first_of(u"*?;", 1) != std::u16string::npos)
        return path;
    return path + pattern.substr(1);
}

std::filesystem::path systemPathOf(const std::u16string &path)
{
#ifdef _WIN32
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
    return std::filesystem::u8path(utf8(path));
#endif
}

void WindowCommands::setPath(int index, const std::u16string &text)
{
    lblPath_[index] = text;
    face_.showPath(index, text);
}

void WindowCommands::mnuFileItem_Click(int index)
{
    // Index 1, the save step, is never chosen from the menu (its item is never available): the
    // conversion command runs it as saveStep(), which tells it what the step did.
    switch (index) {
    case 0:
        try {
            dlg1.Filter = openFilter;
            dlg1.FilterIndex = 1;
            if (face_.showOpen(dlg1))
                setHenkanmoto(dlg1.FileName);
        } catch (...) {
            // Anything that goes wrong ends the command silently.
        }
        break;
    case 3:
        face_.exitProgram();
        break;
    default:
        break;
    }
}

WindowCommands::SaveOutcome WindowCommands::saveStep()
{
    try {
        dlg1.Filter = saveFilter;
        dlg1.FilterIndex = 1;
        dlg1.FileName = withoutExtension(dlg1.FileName);
        if (!face_.showSave(dlg1))
            return SaveOutcome::Cancelled;
        dlg1.FileName = withFilterExtension(dlg1.FileName, filterPattern(dlg1.Filter, dlg1.FilterIndex));
        return saveHenkango(dlg1.FileName);
    } catch (...) {
        // A failed write, or memory running out while the record is encoded: the file that was
        // there is untouched, and the conversion says so.
        saveFailure_ = failureReason();
        return SaveOutcome::Failed;
    }
}

void WindowCommands::setHenkanmoto(const std::u16string &path)
{
    // Judged on the name alone, on its last four characters: a missing file shows only when it is
    // converted.
    if (hasExtension(std::u16string_view(path), ugiExtension)) {
        setPath(0, path);
        setPath(1, {});
    } else {
        face_.msgBox(u"このﾌｧｲﾙは変換できません", MsgBoxStyle::OkOnly, {},
                     path + u": " + utf16(catalogueText(Said::NotAUgiName, Language::Japanese)));
    }
}

WindowCommands::SaveOutcome WindowCommands::saveHenkango(const std::u16string &path)
{
    // The source itself, under any spelling (another letter case on Windows, a link), is never
    // replaced: the record would be lost, whatever the question is answered.
    if (isFile(path) &&
        systemFileSystem().sameFile(systemPath(systemPathOf(path)), systemPath(systemPathOf(lblPath_[0]))))
        throw CommandFailure(Reason(Said::OutputIsSource, {utf8(path)}));
    if (isFile(path) &&
        face_.msgBox(u"既存のﾌｧｲﾙを上書きしてよろしいですか ?", MsgBoxStyle::YesNoQuestion) == msgBoxNo)
        return saveStep(); // a fresh save step, starting from the refused name; its outcome is ours
    // The last filter writes UTF-8, converted anew from the source; the others code page 932.
    const std::string record = dlg1.FilterIndex == utf8SaveFilter
                                   ? face_.convert(fileHenkanmoto, RecordEncoding::Utf8).bytes
                                   : fileHenkango;
    try {
        writeFileAtomically(systemPathOf(path), record); // a failure leaves the old file as it was
    } catch (const CommandFailure &failure) {
        throw CommandFailure(cannotWriteReason(utf8(path), failure.said()));
    }
    setPath(1, path);
    return SaveOutcome::Written;
}

void WindowCommands::mnuConvItem_Click(int /*index*/)
{
    // The detail of a failure is the line ugi2sgf prints: the source, then the reason; so are the
    // warnings of a record that converted, one a line.
    const std::u16string source = lblPath_[0];
    const auto failed = [&](const std::u16string &reason) {
        face_.msgBox(u"異常終了しました", MsgBoxStyle::OkOnly, {}, source + u": " + reason);
    };
    try {
        if (source.empty()) {
            face_.msgBox(u"変換もとのﾌｧｲﾙを指定してください");
            return;
        }
        fileHenkanmoto = readFileBytes(systemPathOf(source));
        Conversion conversion = face_.convert(fileHenkanmoto, RecordEncoding::Ansi);
        fileHenkango = std::move(conversion.bytes);
        warnings_ = std::move(conversion.warnings);
    } catch (...) {
        // Not only a CommandFailure: a source too large for the memory there is must end the
        // command with its message too, never the program.
        failed(failureReason());
        return;
    }
    switch (saveStep()) {
    case SaveOutcome::Written: {
        std::u16string detail;
        for (const Warning &warning : warnings_)
            detail += (detail.empty() ? u"" : u"\n") + source + u": " +
                      utf16(warning.reason.in(Language::Japanese));
        face_.msgBox(u"正常に変換が終了しました", MsgBoxStyle::OkOnly, {}, detail);
        break;
    }
    case SaveOutcome::Failed:
        failed(saveFailure_);
        break;
    case SaveOutcome::Cancelled: // the user chose not to save: nothing happened to report
        break;
    }
}

void WindowCommands::mnuHelpItem_Click(int /*index*/)
{
    const std::u16string name = utf16(QUILLARN_NAME);
    face_.msgBox(name + u"\r\n      Version " + utf16(QUILLARN_VERSION) +
                     u"\r\n\r\nUGI形式の囲碁の棋譜をSGF形式に変換します\r\n      2000-10-24",
                 MsgBoxStyle::OkOnly, name);
}

void WindowCommands::chooseSource(const std::u16string &path)
{
    dlg1.FileName = path; // as the open dialog would leave it, so the save dialog proposes its name
    setHenkanmoto(path);
}

} // namespace quillarn
